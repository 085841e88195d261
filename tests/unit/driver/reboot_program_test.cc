#include "driver/reboot_program.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/environment_guard.h"
#include "support/temp_dir.h"

namespace {

using Arguments = std::vector<std::string>;

class RebootProgramTest : public ::testing::Test {
 protected:
  void SetUp() override { environment.set("COMSPEC", kInterpreter); }

  // The program to start, or "(refused)".
  std::string resolve(const std::string& name) {
    std::string program;
    if (!resolveRebootProgram(name, "", &program, &arguments)) return "(refused)";
    return program;
  }

  static constexpr const char* kInterpreter = "C:\\WINDOWS\\COMMAND.COM";
  EnvironmentGuard environment;
  TempDir dir;
  Arguments arguments;
};

TEST_F(RebootProgramTest, ExtensionsAreTriedInOrder) {
  dir.write("SETUP.CMD", "");
  dir.write("SETUP.BAT", "");
  dir.write("SETUP.EXE", "");
  std::string name = dir.file("SETUP");
  EXPECT_EQ(name + ".EXE", resolve(name));
  EXPECT_EQ(Arguments({name + ".EXE"}), arguments);

  dir.write("TOOL.CMD", "");
  dir.write("TOOL.BAT", "");
  EXPECT_EQ(kInterpreter, resolve(dir.file("TOOL")));
  EXPECT_EQ(Arguments({kInterpreter, "/c", dir.file("TOOL.BAT")}), arguments);

  dir.write("LAST.CMD", "");
  EXPECT_EQ(kInterpreter, resolve(dir.file("LAST")));
  EXPECT_EQ(Arguments({kInterpreter, "/c", dir.file("LAST.CMD")}), arguments);
}

TEST_F(RebootProgramTest, GivenExtensionOrBareNameIsTakenAsItStands) {
  dir.write("RUN.bat", "");
  dir.write("RUN.bat.EXE", "");
  EXPECT_EQ(kInterpreter, resolve(dir.file("RUN.bat")));
  EXPECT_EQ(dir.file("RUN.bat"), arguments.back());

  dir.write("restart", "");
  EXPECT_EQ(dir.file("restart"), resolve(dir.file("restart")));
  EXPECT_EQ(Arguments({dir.file("restart")}), arguments);
}

TEST_F(RebootProgramTest, BatchFileWithoutInterpreterIsRefused) {
  environment.set("COMSPEC", nullptr);
  dir.write("SETUP.BAT", "");
  EXPECT_EQ("(refused)", resolve(dir.file("SETUP")));
  EXPECT_FALSE(startRebootProgram(dir.file("SETUP")));
}

}  // namespace
