#include "driver/teardown.h"

#include <cerrno>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "base/error.h"
#include "config/config_data.h"
#include "engine/data_file.h"
#include "messages/nls_class.h"
#include "profile/profile.h"
#include "support/fault_hooks.h"
#include "support/temp_dir.h"

namespace {

class TeardownTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.write("win/TAVRO.INI", "[Tavro]\r\nroot=x\r\n");
    dir.write("prod/TAVRO.INI", "[Install]\r\n");
    config = std::make_unique<ConfigData>();
    profiles.windowsIni = std::make_unique<Profile>(dir.file("win/TAVRO.INI"));
    profiles.rootIni = std::make_unique<Profile>(dir.file("prod/TAVRO.INI"));
    config->setWindowsIni(profiles.windowsIni.get());
    config->setRootIni(profiles.rootIni.get());
  }

  TempDir dir;
  std::unique_ptr<DataFile> dataFile;
  std::unique_ptr<NLSClass> messages;
  TavroProfiles profiles;
  std::unique_ptr<ConfigData> config;
  // Last, so that the hooks go before anything that writes back as it goes.
  FaultHooks hooks;
};

TEST_F(TeardownTest, ClosesTheLogAndDestroysEverything) {
  messages = std::make_unique<NLSClass>(dir.file("none.MSG"));
  messages->openLog(dir.file("run.log"), 0);
  ::testing::internal::CaptureStdout();
  messages->print("%s", "logged");
  EXPECT_EQ("logged", ::testing::internal::GetCapturedStdout());
  config->getRootIni()->writeString("Install", "Patch0", "FIX12");

  EXPECT_TRUE(tearDown(dataFile, messages, profiles, config));
  EXPECT_FALSE(messages);
  EXPECT_FALSE(config);
  EXPECT_EQ("logged", dir.read("run.log").value_or(""));
  EXPECT_EQ("[Install]\r\nPatch0=FIX12\r\n", dir.read("prod/TAVRO.INI").value_or(""));
}

// Only an edit whose own save failed is written back at the end; a failure
// then is reported and the rest of the teardown goes on.
TEST_F(TeardownTest, FailedWriteBackIsReportedAndTheTeardownGoesOn) {
  config->getRootIni()->writeString("Install", "Patch0", "FIX12");
  std::string windowsIni = dir.file("win/TAVRO.INI");
  // From now on the Windows directory's file can no longer be written.
  hooks.fail(
      {FaultHooks::Call::kCreateNewFile, FaultHooks::Call::kOpenStream,
       FaultHooks::Call::kWriteFile, FaultHooks::Call::kReplaceFile, FaultHooks::Call::kRenameFile},
      EACCES, dir.file("win/"));
  EXPECT_THROW(config->getWindowsIni()->writeString("Install", "Patch0", "FIX12"), Error);

  ::testing::internal::CaptureStderr();
  bool written = tearDown(dataFile, messages, profiles, config);
  std::string report = ::testing::internal::GetCapturedStderr();

  EXPECT_FALSE(written);
  EXPECT_FALSE(config);
  EXPECT_EQ(0u, report.find("\aCritical ERROR Occured on line ")) << report;
  EXPECT_NE(std::string::npos, report.find("     Error Number:  21\n")) << report;
  EXPECT_NE(std::string::npos, report.find("     Error Message: " + windowsIni + "\n")) << report;
  EXPECT_EQ("[Install]\r\nPatch0=FIX12\r\n", dir.read("prod/TAVRO.INI").value_or(""));
}

}  // namespace
