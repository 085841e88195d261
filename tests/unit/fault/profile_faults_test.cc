// An INI file that is there but cannot be read must never be replaced by the
// few lines an edit adds to the empty profile that stands in for it.
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <string>

#include "base/error.h"
#include "profile/profile.h"
#include "support/expect_error.h"
#include "support/fault_hooks.h"
#include "support/temp_dir.h"

namespace {

using platform::testing::Call;

constexpr const char* kContent = "[A]\r\nk=1\r\n\r\n[B]\r\nx=2\r\n";

class ProfileFaultTest : public ::testing::Test {
 protected:
  // Error 21 with the file's path, or "no error".
  std::string errorOf(void (*edit)(Profile&), Profile& profile) {
    try {
      edit(profile);
    } catch (const Error& error) {
      EXPECT_EQ(kModuleProfile, error.getSourceFile());
      return std::to_string(error.getErrorNumber()) + " " + error.getErrorMessage();
    }
    return "no error";
  }

  TempDir dir;
  // Last, so that the hooks go before anything that writes back as it goes.
  FaultHooks hooks;
};

void setKey(Profile& profile) { profile.writeString("A", "n", "v"); }
void appendKey(Profile& profile) { profile.appendString("rename", "NUL", "X"); }
void dropSection(Profile& profile) { profile.writeString("B", nullptr, nullptr); }

TEST_F(ProfileFaultTest, EditOfAFileThatCannotBeReadFailsAndLeavesItWhole) {
  const std::string path = dir.file("APP.INI");
  for (Call call : {Call::kGetFileInfo, Call::kOpenFileForReading, Call::kReadFile}) {
    SCOPED_TRACE(static_cast<int>(call));
    dir.write("APP.INI", kContent);
    hooks.fail(call, EACCES);
    {
      Profile profile(path);
      EXPECT_EQ("def", profile.getString("A", "k", "def"));
      EXPECT_EQ("21 " + path, errorOf(setKey, profile));
      EXPECT_EQ("21 " + path, errorOf(appendKey, profile));
      EXPECT_EQ("21 " + path, errorOf(dropSection, profile));
      EXPECT_EQ(kContent, dir.read("APP.INI"));
      // Readable again: the edit keeps every line.
      hooks.clear();
      EXPECT_EQ("no error", errorOf(setKey, profile));
    }
    EXPECT_EQ("[A]\r\nk=1\r\nn=v\r\n\r\n[B]\r\nx=2\r\n", dir.read("APP.INI"));
  }
}

TEST_F(ProfileFaultTest, EditedProfileThatLosesItsFileDoesNotWriteItBackEmpty) {
  const std::string path = dir.file("APP.INI");
  dir.write("APP.INI", kContent);
  {
    Profile profile(path);
    setKey(profile);
    // Another program changes the file, and it cannot be read when this
    // profile next looks: what it holds then is no longer the file.
    dir.write("APP.INI", "[Other]\r\nchanged=1\r\n");
    hooks.fail(Call::kReadFile, EACCES);
    EXPECT_EQ("def", profile.getString("A", "k", "def"));
    hooks.clear();
  }
  EXPECT_EQ("[Other]\r\nchanged=1\r\n", dir.read("APP.INI"));
}

TEST_F(ProfileFaultTest, FileLoadedWithoutMemoryIsNeverSavedOver) {
  const std::string path = dir.file("APP.INI");
  dir.write("APP.INI", kContent);
  hooks.refuseMemory(kModuleProfile);
  std::optional<Error> error = expectError(kErrorNoMemory, "", [&] { Profile failing(path); });
  if (error) {
    EXPECT_EQ(std::string(kContent).size(), error->getSize());
  }
  // The memory fails on the refresh of a profile that read the file before.
  hooks.clear();
  auto profile = std::make_unique<Profile>(path);
  dir.write("APP.INI", std::string(kContent) + "[C]\r\n");
  hooks.refuseMemory(kModuleProfile);
  EXPECT_THROW(profile->getString("A", "k", ""), Error);
  hooks.clear();
  EXPECT_EQ("no error", errorOf(setKey, *profile));
  profile.reset();
  EXPECT_EQ("[A]\r\nk=1\r\nn=v\r\n\r\n[B]\r\nx=2\r\n[C]\r\n", dir.read("APP.INI"));
}

}  // namespace
