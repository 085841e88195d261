#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "config/config_data.h"
#include "engine/data_file.h"
#include "messages/nls_class.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// Runs one section of entries on a scratch machine: product root, Windows
// directory and patch directory in a temporary directory, and a catalogue
// whose message n reads "Mn". Everything printed is read back from the log.
class FileEntriesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string catalogue;
    for (int i = 1; i <= 40; ++i) catalogue += "M" + std::to_string(i) + "\n";
    dir.write("TVPAT32.MSG", catalogue);
    messages = std::make_unique<NLSClass>(dir.file("TVPAT32.MSG"));
    messages->load();
    fs::create_directories(dir.file("product/ARCHIVE/TEMP"));
    fs::create_directories(dir.file("windows"));
    fs::create_directories(dir.file("patch"));
    config.setRootDir(dir.file("product"));
    config.setWindowsDir(dir.file("windows"));
    config.setProgramDir(dir.file("patch"));
    config.setPlatform(kPlatformWindows95);
    config.setInteractive(1);
    config.setBackup(1);
  }

  // The output of the entries alone, after the section's own trace line.
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

  TempDir dir;
  std::unique_ptr<NLSClass> messages;
  ConfigData config;
};

TEST_F(FileEntriesTest, TraceBlockShowsFieldsThenValuesWithBackupBeforeForce) {
  config.setDebug(1);
  config.setForce(1);
  // No such file in the patch directory: the copy fails with message 30.
  std::string out = run("FILE1=TAVRO,A.DLL,,,,7\r\n");
  EXPECT_EQ(out,
            "\tFile\n"
            "\t\tcomponent   : TAVRO\n"
            "\t\tfilename    : A.DLL\n"
            "\t\tsubdir      : \n"
            "\t\tentry       : \n"
            "\t\tbackup      : 7\n"
            "\t\tbackup val  : 7\n"
            "\t\tforce       : \n"
            "\t\tforce value : 1\n"
            "\t\tcompress    : (null)\n"
            "\t\tcompress val: 0\n"
            "\n\aM30: " +
                dir.file("patch") + "\\A.DLL\n");
}

TEST_F(FileEntriesTest, FindFileTraceShowsAbsentFieldsAsNull) {
  config.setDebug(1);
  std::string out = run("FINDFILE=windows,A.DLL\r\n");
  EXPECT_EQ(out,
            "\tFindFile\n"
            "\t\tcomponent   : windows\n"
            "\t\tfilename    : A.DLL\n"
            "\t\tsubdir      : (null)\n"
            "\t\tentry       : (null)\n"
            "\t\tbackup      : (null)\n"
            "\t\tbackup val  : 1\n"
            "\t\tforce       : (null)\n"
            "\t\tforce value : 0\n"
            "\t\tcompress    : (null)\n"
            "\t\tcompress val: 0\n");
}

TEST_F(FileEntriesTest, UnusableEntriesAreReportedAndChangeNothing) {
  dir.write("patch/A.DLL", "new");
  EXPECT_EQ(run("FILE1=TAVRO\r\n"
                "FILE2=TAVRO,\r\n"
                "FILE3=OTHER,A.DLL\r\n"
                "FILE4=TAVRO,A.DLL,NOWHERE\r\n"
                "FINDFILE=TAVRO,A.DLL,NOWHERE\r\n"
                "SUBST=TAVRO,A.DLL,NOWHERE\r\n"),
            "\n\aM18\n\n\aM18\n\n\aM18\n\n\aM17\n\n\aM17\n\n\aM17\n");
  EXPECT_FALSE(dir.exists("product/NOWHERE"));
  EXPECT_FALSE(dir.exists("product/A.DLL"));
}

}  // namespace
