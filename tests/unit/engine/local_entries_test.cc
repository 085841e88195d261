#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "config/config_data.h"
#include "engine/data_file.h"
#include "messages/nls_class.h"
#include "platform/posix/test_hooks.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// Runs one section of entries against a product root in a temporary
// directory, with a catalogue whose message n reads "Mn"; what the entries
// print is read back from the log.
class LocalEntriesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string catalogue;
    for (int i = 1; i <= 40; ++i) catalogue += "M" + std::to_string(i) + "\n";
    dir.write("TVPAT32.MSG", catalogue);
    messages = std::make_unique<NLSClass>(dir.file("TVPAT32.MSG"));
    messages->load();
    fs::create_directories(dir.file("product/ARCHIVE/TEMP"));
    fs::create_directories(dir.file("windows"));
    config.setRootDir(dir.file("product"));
    config.setWindowsDir(dir.file("windows"));
    config.setProgramDir(dir.file("patch"));
    config.setPlatform(kPlatformWindows95);
    config.setInteractive(1);
    config.setBackup(1);
  }

  void TearDown() override { platform::testing::setFaultHook(nullptr); }

  std::string run(const std::string& entries) {
    dir.write("TVPAT32.DAT", "[S]\r\n" + entries);
    messages->openLog(dir.file("run.log"), 0);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    {
      DataFile dataFile(dir.file("TVPAT32.DAT"), &config, messages.get());
      dataFile.processSection("S");
    }
    ::testing::internal::GetCapturedStdout();
    ::testing::internal::GetCapturedStderr();
    messages->openLog("", 0);
    std::string log = dir.read("run.log").value_or("");
    std::size_t start = log.find("Processing section: S\n");
    return start == std::string::npos ? log : log.substr(start + 22);
  }

  std::string product(const std::string& tail) { return dir.file("product") + tail; }

  TempDir dir;
  std::unique_ptr<NLSClass> messages;
  ConfigData config;
};

TEST_F(LocalEntriesTest, TraceBlocksShowFullPathsAndTheValuesUsed) {
  config.setDebug(1);
  dir.write("product/A.DLL", "a");
  EXPECT_EQ(run("RENAME=TAVRO,A.DLL,B.DLL,1\r\n"
                "COPY=TAVRO,B.DLL,C.DLL,,0\r\n"
                "ERASE=TAVRO,C.DLL\r\n"),
            "\tRename (local)\n"
            "\t\tcomponent   : TAVRO\n"
            "\t\tsource      : " +
                product("\\A.DLL") +
                "\n"
                "\t\tdestination : " +
                product("\\B.DLL") +
                "\n"
                "\t\tbackup      : (null)\n"
                "\t\tbackup val  : 1\n"
                "\t\tforce       : 1\n"
                "\t\tforce value : 1\n"
                "\tCopy (Local)\n"
                "\t\tcomponent   : TAVRO\n"
                "\t\tsource      : " +
                product("\\B.DLL") +
                "\n"
                "\t\tdestination : " +
                product("\\C.DLL") +
                "\n"
                "\t\tbackup      : 0\n"
                "\t\tbackup val  : 0\n"
                "\t\tforce       : \n"
                "\t\tforce value : 0\n"
                "\tErase (Local)\n"
                "\t\tcomponent   : TAVRO\n"
                "\t\tfilename    : " +
                product("\\C.DLL") +
                "\n"
                "\t\tbackup      : (null)\n"
                "\t\tbackup val  : 1\n");
  EXPECT_FALSE(dir.exists("product/A.DLL"));
  EXPECT_EQ(dir.read("product/B.DLL"), "a");
  EXPECT_EQ(dir.read("product/C.OLD"), "a");
  EXPECT_FALSE(dir.exists("product/C.DLL"));
}

TEST_F(LocalEntriesTest, EntriesWithoutNamesAreSkippedSilently) {
  config.setDebug(1);
  dir.write("product/OLD/A.DLL", "a");
  fs::create_directories(dir.file("product/NEW"));
  std::string out =
      run("RENAME=TAVRO,OLD\\\\A.DLL,\r\n"
          "COPY=TAVRO,,B.DLL\r\n"
          "ERASE=TAVRO\r\n"
          "RENAME=TAVRO,OLD\\\\A.DLL,NEW\\\\A.DLL\r\n");
  // Only the last entry, which moves the file between two subdirectories,
  // gets as far as its trace block.
  EXPECT_EQ(out.find("\tRename (local)\n\t\tcomponent   : TAVRO\n"), 0u) << out;
  EXPECT_EQ(out.find("component", 30), std::string::npos) << out;
  EXPECT_FALSE(dir.exists("product/OLD/A.DLL"));
  EXPECT_EQ(dir.read("product/NEW/A.DLL"), "a");
}

TEST_F(LocalEntriesTest, FailuresNameTheFileAndBadComponentsAreRejected) {
  EXPECT_EQ(run("COPY=TAVRO,MISSING.DLL,B.DLL\r\n"
                "RENAME=SYSTEM,A.DLL,B.DLL\r\n"
                "ERASE=TAVRO,GONE.DLL\r\n"),
            "\n\aM30: " + product("\\MISSING.DLL") + "\n\n\aM18\n");
}

TEST_F(LocalEntriesTest, RebootStoresAnyNumberAndKeepsTheRequestWithoutOne) {
  config.setRebootProgram("FROMDAT.EXE");
  run("REBOOT=1\r\n");
  EXPECT_EQ(config.getRebootNeeded(), 1);
  EXPECT_EQ(config.getRebootProgram(), "FROMDAT.EXE");
  run("REBOOT1=\r\nREBOOT2=x,\r\nREBOOT3\r\n");
  EXPECT_EQ(config.getRebootNeeded(), 1);
  run("REBOOT=,NEW.BAT\r\nREBOOT=5\r\n");
  EXPECT_EQ(config.getRebootNeeded(), 5);
  EXPECT_FALSE(config.isRebootNeeded());
  EXPECT_EQ(config.getRebootProgram(), "NEW.BAT");
}

TEST_F(LocalEntriesTest, RebootZeroCancelsADeferredCopyAndALaterDeferralRestoresIt) {
  dir.write("product/A.DLL", "new");
  dir.write("product/B.DLL", "old");
  dir.write("product/C.DLL", "c");
  fs::last_write_time(dir.file("product/B.DLL"),
                      fs::last_write_time(dir.file("product/A.DLL")) - std::chrono::hours(48));
  // C.DLL cannot be deleted now, as if it were in use.
  std::string blocked = product("\\C.DLL");
  platform::testing::setFaultHook([blocked](platform::testing::Call call, const std::string& path) {
    return call == platform::testing::Call::kDeleteFile && path == blocked ? EACCES : 0;
  });

  EXPECT_EQ(run("COPY=TAVRO,A.DLL,B.DLL,,0\r\n"), "");
  EXPECT_EQ(config.getRebootNeeded(), 1);
  run("REBOOT=0\r\n");
  EXPECT_EQ(config.getRebootNeeded(), 0);
  run("ERASE=TAVRO,C.DLL,0\r\n");
  EXPECT_EQ(config.getRebootNeeded(), 1);
  EXPECT_FALSE(config.isDeferred());

  std::string wininit = dir.read("windows/WININIT.INI").value_or("");
  std::size_t copyLine = wininit.find(product("\\B.DLL=") + product("\\ARCHIVE\\TEMP\\TV"));
  std::size_t eraseLine = wininit.find("NUL=" + blocked + "\r\n");
  EXPECT_NE(copyLine, std::string::npos) << wininit;
  EXPECT_NE(eraseLine, std::string::npos) << wininit;
  EXPECT_LT(copyLine, eraseLine);
}

}  // namespace
