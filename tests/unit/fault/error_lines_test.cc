// The error lines and errors that only a failing system call or a shortage
// of memory can bring about, each caused by failing one call on purpose.
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/error.h"
#include "config/config_data.h"
#include "driver/reboot_program.h"
#include "driver/startup.h"
#include "engine/data_file.h"
#include "profile/profile.h"
#include "support/engine_fixture.h"
#include "support/expect_error.h"

namespace {

using platform::testing::Call;

class FaultLinesTest : public EngineTest {
 protected:
  // Runs the section S of the profile with `calls` failing, and returns what
  // went to standard error.
  std::string runFailing(const std::vector<Call>& calls, const std::string& entries) {
    start("[Patch]\r\n[S]\r\n" + entries);
    hooks.fail(calls, EIO);
    beginCapture();
    dataFile->processSection("S");
    endCapture();
    hooks.clear();
    return err;
  }
};

struct RegistryFault {
  const char* setup;
  Call call;
  int occurrence;
  const char* entry;
  // The error line, in two parts: the message and the key it names.
  const char* message;
  const char* key;
};

TEST_F(FaultLinesTest, EveryRegistryCallThatFailsGivesItsErrorLine) {
  const char kSetValue[] = "REG=HKCU,Software\\\\Vendor,Version,1.0";
  const char kDropValue[] = "REG=HKCU,Software\\\\Vendor,Version";
  const char kSetDeep[] = "REG=HKCU,Software\\\\Vendor\\\\App\\\\Sub,v,1";
  const char kDropApp[] = "REG=HKCU,Software\\\\Vendor\\\\App";
  const char kValueLine[] = "\tSoftware\\Vendor\\Version\n";
  const char kAppLine[] = "\tSoftware\\Vendor\\App\n";
  const char kSubLine[] = "\tSoftware\\Vendor\\App\\Sub\n";
  const RegistryFault faults[] = {
      {"", Call::kCreateRegistryKey, 1, kSetValue, "\n\aM21:\n", kValueLine},
      {"", Call::kSetRegistryString, 1, kSetValue, "\n\aM24:\n", kValueLine},
      {kSetValue, Call::kDeleteRegistryValue, 1, kDropValue, "\n\aM25:\n", kValueLine},
      {kSetValue, Call::kOpenRegistryKey, 1, kDropValue, "\n\aM19:\n", kValueLine},
      {kSetDeep, Call::kOpenRegistryKey, 2, kDropApp, "\n\aM19:\n", kSubLine},
      {kSetDeep, Call::kCountRegistrySubkeys, 1, kDropApp, "\n\aM26:\n", kAppLine},
      {kSetDeep, Call::kEnumerateRegistrySubkey, 1, kDropApp, "\n\aM23:\n", kAppLine},
      {kSetDeep, Call::kDeleteRegistryKey, 1, kDropApp, "\n\aM22:\n", kSubLine},
      {kSetDeep, Call::kDeleteRegistryKey, 2, kDropApp, "\n\aM22:\n", kAppLine},
      // A key whose handle cannot be closed has still had its value set.
      {"", Call::kCloseRegistryKey, 1, kSetValue, "", ""},
  };
  for (const RegistryFault& fault : faults) {
    SCOPED_TRACE(fault.entry + std::string(" failing #") + std::to_string(fault.occurrence) +
                 " of call " + std::to_string(static_cast<int>(fault.call)));
    start("[Patch]\r\n");
    beginCapture();
    if (*fault.setup != '\0') dataFile->processRegistry(fault.setup);
    endCapture();
    ASSERT_EQ("", err);
    hooks.failFrom(fault.call, fault.occurrence);
    beginCapture();
    EXPECT_EQ(*fault.message == '\0', dataFile->processRegistry(fault.entry));
    endCapture();
    hooks.clear();
    EXPECT_EQ(std::string(fault.message) + fault.key, err);
    temp.write("REGISTRY.REG", "REGEDIT4\r\n");
  }
}

TEST_F(FaultLinesTest, NoRegistryFaultCostsAnUnrelatedKeyOrTheFile) {
  const Call calls[] = {Call::kOpenRegistryKey,         Call::kCreateRegistryKey,
                        Call::kSetRegistryString,       Call::kDeleteRegistryValue,
                        Call::kDeleteRegistryKey,       Call::kCountRegistrySubkeys,
                        Call::kEnumerateRegistrySubkey, Call::kCloseRegistryKey};
  const char* entries[] = {
      "REG=HKCU,Software\\\\Vendor\\\\App\\\\Deep,v,1", "REG=HKCU,Software\\\\Vendor\\\\App,w,2",
      "REG=HKCU,Software\\\\Vendor\\\\App,w", "REG=HKCU,Software\\\\Vendor\\\\App"};
  start("[Patch]\r\n");
  for (Call call : calls) {
    for (int occurrence = 1;; ++occurrence) {
      SCOPED_TRACE("call " + std::to_string(static_cast<int>(call)) + " #" +
                   std::to_string(occurrence));
      temp.write("REGISTRY.REG",
                 "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Vendor\\Keep]\r\n"
                 "\"k\"=\"kept\"\r\n");
      auto seen = std::make_shared<int>(0);
      hooks.set([=](Call asked, const std::string&) {
        return asked == call && ++*seen == occurrence ? EIO : 0;
      });
      beginCapture();
      for (const char* entry : entries) dataFile->processRegistry(entry);
      endCapture();
      hooks.clear();
      std::string file = read("REGISTRY.REG");
      EXPECT_EQ(0u, file.find("REGEDIT4\r\n")) << file;
      EXPECT_NE(std::string::npos,
                file.find("[HKEY_CURRENT_USER\\Software\\Vendor\\Keep]\r\n\"k\"=\"kept\""))
          << file;
      if (*seen < occurrence) {
        EXPECT_EQ("", err);
        EXPECT_EQ(std::string::npos, file.find("App"));
        break;
      }
      if (::testing::Test::HasFailure()) return;
    }
  }
}

TEST_F(FaultLinesTest, RegistryValueThatCannotBeReadFailsTheCondition) {
  start("[Patch]\r\n");
  config.setPlatform(kPlatformWindows95);
  temp.write("REGISTRY.REG",
             "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Vendor\\App]\r\n@=\"3.0\"\r\n");
  const std::string condition = "Condition0=R,1,1,HKCU,Software\\\\Vendor,App,3.0";
  std::string line = condition;
  beginCapture();
  bool held = dataFile->testCondition(line);
  hooks.failFrom(Call::kQueryRegistryDefaultValue, 1);
  line = condition;
  bool heldWithFault = dataFile->testCondition(line);
  endCapture();
  EXPECT_TRUE(held);
  EXPECT_FALSE(heldWithFault);
  EXPECT_EQ("\n\aM27:\n\tHKCU\\Software\\Vendor\\App\n", err);
}

TEST_F(FaultLinesTest, RefusedRestartRegistrationIsReportedPerEntryKind) {
  temp.write("ROOT/A.DLL", "a");
  std::string file = rootDir + "\\A.DLL";
  std::vector<Call> refused = {Call::kRenameFile, Call::kScheduleMoveAtRestart};
  EXPECT_EQ("\n\aM29: " + file + "\n", runFailing(refused, "RENAME=TAVRO,A.DLL,B.DLL\r\n"));
  refused = {Call::kDeleteFile, Call::kScheduleMoveAtRestart};
  EXPECT_EQ("\n\aM31: " + file + "\n", runFailing(refused, "ERASE=TAVRO,A.DLL,0\r\n"));
  EXPECT_EQ("a", read("ROOT/A.DLL"));
}

TEST_F(FaultLinesTest, IniFileWithoutMemoryForItIsReportedAndTheWalkGoesOn) {
  start("[Patch]\r\n[S]\r\nINI=TAVRO,OUT.INI,S,a,1\r\nREG=HKCU,Software\\\\V,k,1\r\n");
  hooks.refuseMemory(kModuleEngine);
  beginCapture();
  dataFile->processSection("S");
  endCapture();
  EXPECT_EQ("\n\aM15: " + rootDir + "\\OUT.INI\n", err);
  EXPECT_FALSE(temp.exists("ROOT/OUT.INI"));
  EXPECT_NE(std::string::npos, read("REGISTRY.REG").find("\"k\"=\"1\""));
}

TEST_F(FaultLinesTest, UnlistableDirectoryIsLeftOutOfTheTreeWalk) {
  temp.write("ROOT/A/X.DLL", "old");
  temp.write("X.DLL", "new");
  const std::string entry = "FINDFILE=TAVRO,X.DLL,,1,1\r\n";
  EXPECT_EQ("", runFailing({Call::kListDirectory}, entry));
  EXPECT_EQ("old", read("ROOT/A/X.DLL"));
  EXPECT_EQ("", runFailing({}, entry));
  EXPECT_EQ("new", read("ROOT/A/X.DLL"));
}

TEST_F(FaultLinesTest, RebootProgramThatCannotBeStartedFails) {
  temp.write("BOOT.EXE", "");
  hooks.failFrom(Call::kStartProcess, 1);
  EXPECT_FALSE(startRebootProgram(temp.file("BOOT.EXE")));
}

TEST_F(FaultLinesTest, ObjectsWithoutMemoryRaiseErrorOneNamingTheirModule) {
  struct Refusal {
    const char* module;
    unsigned long size;
  };
  temp.write("X.INI", "[S]\r\nk=1\r\n");
  for (Refusal refusal : {Refusal{kModuleDriver, sizeof(ConfigData)},
                          Refusal{kModuleEngine, sizeof(Profile)}, Refusal{kModuleProfile, 10}}) {
    SCOPED_TRACE(refusal.module);
    hooks.refuseMemory(refusal.module);
    std::optional<Error> error = expectError(kErrorNoMemory, "", [&] {
      if (refusal.module == kModuleDriver) {
        TavroProfiles profiles;
        createConfigData(windowsDir, &profiles);
      }
      if (refusal.module == kModuleEngine) DataFile(temp.file("X.INI"), &config, messages.get());
      if (refusal.module == kModuleProfile) Profile(temp.file("X.INI"));
    });
    if (!error) continue;
    EXPECT_EQ(refusal.size, error->getSize());
    EXPECT_EQ(refusal.module, error->getSourceFile());
    EXPECT_GT(error->getSourceLine(), 0);
  }
}

using FaultLinesEndTest = FaultLinesTest;

TEST_F(FaultLinesEndTest, ArchiveDirectoryThatCannotBeMadeEndsTheRun) {
  start("[Patch]\r\nPatch=FIX1\r\n");
  hooks.failFrom(Call::kMakeDirectory, 1);
  expectRunEnded("^\n\aM12 .*ARCHIVE\n$", [&] { dataFile->createArchiveDirectories(); });
}

}  // namespace
