// The run as a whole, seen from outside: banner, switches, catalogue, Windows
// directory, critical report, log, run configuration and exit codes, on a
// scratch machine per test, natively and under Wine.
#include <cstdio>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/machine.h"
#include "support/wait.h"

namespace {

const char kBanner[] = "Message 3 v2.00 Beta 6A\n";
const char kCompiledLine[] =
    "Compiled: [A-Z][a-z]{2} [ 1-3][0-9] [0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-5][0-9]";

// A profile whose one condition holds on Windows NT against the product
// TAVRO.INI below, and whose section makes one INI edit.
const char kProfile[] =
    "[Patch]\r\nPatch=FIX1\r\nCondition0=MAIN,2,1,Version,Level,2.0\r\n\r\n"
    "[MAIN]\r\nINI1=TAVRO,TAVRO.INI,Test,Key,Value\r\n";
const char kProductIni[] = "[Version]\r\nLevel=2.0\r\n";
// The same without a patch string: never recorded in the ledger, so that one
// machine can run it again and again.
const char kRepeatableProfile[] =
    "[Patch]\r\nCondition0=MAIN,2,1,Version,Level,2.0\r\n\r\n"
    "[MAIN]\r\nINI1=TAVRO,TAVRO.INI,Test,Key,Value\r\n";

// kProfile with `program` as its reboot program and a restart asked for.
std::string rebootingProfile(const std::string& program) {
  return "[Patch]\r\nPatch=FIX1\r\nReboot Program=" + program +
         "\r\nCondition0=MAIN,2,1,Version,Level,2.0\r\n\r\n"
         "[MAIN]\r\nINI1=TAVRO,TAVRO.INI,Test,Key,Value\r\nREBOOT1=1\r\n";
}

// A catalogue whose message n reads "Message n", so that every line the
// program prints can be compared whole.
std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    result.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return result;
}

std::string withoutCarriageReturns(const std::optional<std::string>& text) {
  std::string result;
  for (char c : text.value_or("<missing>")) {
    if (c != '\r') result += c;
  }
  return result;
}

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine.writeFile(catalogue(), numberedCatalogue(36));
    machine.writeProductIni(kProductIni);
  }

  std::string catalogue() const { return machine.getPatchDir() + "/TVPAT32.MSG"; }
  std::string patchFile(const std::string& name) const {
    return machine.getPatchDir() + "/" + name;
  }
  void writeWindowsIni(const std::string& patchSection) {
    machine.writeWindowsIni("[Tavro]\r\nroot=" + machine.shownProductDir() + "\r\n\r\n[Patch]\r\n" +
                            patchSection);
  }
  // A program started without waiting leaves its trace some time later.
  bool appears(const std::string& path) const {
    return waitUntil([&] { return machine.exists(path); });
  }

  Machine machine;
};

TEST_F(DriverTest, NormalRunPrintsBannerAndEndAndExitsZero) {
  machine.writeProfile(kProfile);
  RunResult result = machine.run();
  EXPECT_EQ(result.out, std::string(kBanner) + "Message 7\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exitCode, 0);
  // The root came from the Windows directory's TAVRO.INI: the edit and the
  // NT ledger landed in the two files it names.
  EXPECT_NE(machine.readFile(machine.getProductDir() + "/TAVRO.INI")->find("Key=Value"),
            std::string::npos);
  EXPECT_NE(machine.readFile(machine.getWindowsDir() + "/TAVRO.INI")->find("Patch0=FIX1"),
            std::string::npos);
}

TEST_F(DriverTest, DebugSwitchTestsTheSecondCharacterOnly) {
  machine.writeProfile(kRepeatableProfile);
  for (const char* argument : {"-d", "/D", "xd"}) {
    SCOPED_TRACE(argument);
    RunResult result = machine.run({argument});
    std::vector<std::string> out = lines(result.out);
    ASSERT_GE(out.size(), 2u);
    EXPECT_EQ(out[0] + "\n", kBanner);
    EXPECT_TRUE(std::regex_match(out[1], std::regex(kCompiledLine))) << out[1];
    EXPECT_EQ(out.back(), "Message 7");
    EXPECT_EQ(result.exitCode, 0);
  }
  for (const char* argument : {"d", "-x", "D"}) {
    SCOPED_TRACE(argument);
    RunResult result = machine.run({argument});
    EXPECT_EQ(result.out, std::string(kBanner) + "Message 7\n");
  }
}

TEST_F(DriverTest, InteractiveSwitchTestsTheFirstCharacter) {
  writeWindowsIni("Interactive=0\r\n");
  machine.writeProfile("[Patch]\r\nCondition0=MAIN,2,1,Version,Level,9.9\r\n");
  for (std::vector<std::string> arguments : {std::vector<std::string>{}, {"-i"}, {"/I"}}) {
    RunResult result = machine.run(arguments);
    EXPECT_EQ(result.out, kBanner);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitCode, 1);
  }
  for (const char* argument : {"i", "Install"}) {
    SCOPED_TRACE(argument);
    RunResult result = machine.run({argument});
    EXPECT_EQ(result.out, kBanner);
    EXPECT_EQ(result.err, "\n\aMessage 9\nMessage 10\n");
    EXPECT_EQ(result.exitCode, 1);
  }
  RunResult both = machine.run({"id"});
  EXPECT_EQ(both.err, "\n\aMessage 9\nMessage 10\n");
  EXPECT_NE(both.out.find("\nCompiled: "), std::string::npos);
}

TEST_F(DriverTest, WindowsIniSettingsAreDefaultsWhenAbsent) {
  // No Interactive key: the run is interactive; a root with a separator at
  // its end still finds the product's TAVRO.INI.
  machine.writeWindowsIni("[Tavro]\r\nroot=" + machine.shownProductDir() +
                          (machine.isWine() ? "\\" : "/") + "\r\n");
  machine.writeProfile("[Patch]\r\nCondition0=MAIN,2,1,Version,Level,9.9\r\n");
  RunResult result = machine.run();
  EXPECT_EQ(result.err, "\n\aMessage 9\nMessage 10\n");
  machine.writeProfile(kProfile);
  result = machine.run();
  EXPECT_EQ(result.out, std::string(kBanner) + "Message 7\n");
  EXPECT_EQ(result.exitCode, 0);
}

TEST_F(DriverTest, ProfileSwitchNamesAnotherProfile) {
  // The file named after -p is not tested as a switch: XD.DAT would set
  // debug if it were.
  machine.writeFile(patchFile("XD.DAT"), kRepeatableProfile);
  for (std::vector<std::string> arguments : {std::vector<std::string>{"-p", "XD.DAT"},
                                             {"-pXD.DAT"},
                                             {"/P", "xd.dat"},
                                             {"ip", "XD.DAT"}}) {
    SCOPED_TRACE(arguments[0]);
    RunResult result = machine.run(arguments);
    EXPECT_EQ(result.out, std::string(kBanner) + "Message 7\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitCode, 0);
  }
}

TEST_F(DriverTest, ProfileSwitchTakesTheRestOfItsArgument) {
  machine.writeFile(patchFile("ath"), kProfile);
  RunResult result = machine.run({"-path"});
  EXPECT_EQ(result.out, std::string(kBanner) + "Message 7\n");
  EXPECT_EQ(result.exitCode, 0);
}

TEST_F(DriverTest, ProfileSwitchAsLastArgumentKeepsTheDefaultProfile) {
  machine.writeProfile(kProfile);
  RunResult result = machine.run({"-d", "-p"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(lines(result.out).back(), "Message 7");
}

TEST_F(DriverTest, MissingCatalogueEndsTheRunBeforeAnyOutput) {
  machine.writeProfile(kProfile);
  std::remove(catalogue().c_str());
  RunResult result = machine.run();
  // The catalogue's path is the program's with the extension .MSG.
  std::string path =
      machine.shown(machine.getPatchDir()) + (machine.isWine() ? "\\TVPAT32.MSG" : "\\tvpat32.MSG");
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "\a\nError reading NLS language file: " + path + "\n\n");
  EXPECT_EQ(result.exitCode, 1);
}

TEST_F(DriverTest, CatalogueEndsAtTheFirstBlankOrCommentLine) {
  machine.writeProfile(kRepeatableProfile);
  for (const char* end : {"; Message 7", "#7", "  rem 7", "REMARKS", " \t", ""}) {
    SCOPED_TRACE(end);
    // Message 7 stands after the end, so its number falls back to message 2.
    machine.writeFile(catalogue(), numberedCatalogue(6) + end + "\r\n" + "Message 7\r\n");
    RunResult result = machine.run();
    EXPECT_EQ(result.out, std::string(kBanner) + "Message 2\n");
    EXPECT_EQ(result.exitCode, 0);
  }
}

TEST_F(DriverTest, LongCatalogueLineIsOneMessage) {
  machine.writeProfile(kProfile);
  std::string longText(600, 'x');
  machine.writeFile(catalogue(), "Message 1\r\nMessage 2\r\n" + longText + "\r\n" +
                                     numberedCatalogue(7).substr(33));
  RunResult result = machine.run();
  EXPECT_EQ(result.out, longText + " v2.00 Beta 6A\nMessage 7\n");
}

TEST_F(DriverTest, WindowsDirectoryUnknown) {
  if (machine.isWine()) GTEST_SKIP() << "Wine always knows its Windows directory";
  machine.writeProfile(kProfile);
  machine.setEnvironment("WINDIR", "");
  RunResult result = machine.run();
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "\aMessage 28\n");
  EXPECT_EQ(result.exitCode, 1);
}

TEST_F(DriverTest, WindowsDirectoryWithTrailingSeparator) {
  if (machine.isWine()) GTEST_SKIP() << "Wine reports its own Windows directory";
  machine.writeProfile(kProfile);
  machine.setEnvironment("WINDIR", machine.getWindowsDir() + "/");
  RunResult result = machine.run();
  EXPECT_EQ(result.out, std::string(kBanner) + "Message 7\n");
  EXPECT_NE(machine.readFile(machine.getWindowsDir() + "/TAVRO.INI")->find("Patch0=FIX1"),
            std::string::npos);
}

TEST_F(DriverTest, CriticalErrorIsReportedOnlyOnStandardError) {
  // On the Windows 95 family the ledger goes into both TAVRO.INI files; the
  // product's cannot be saved because a directory stands in its place. The
  // condition reads the registry, as the product's INI file is unreadable.
  machine.setPlatformKind(1);
  machine.setRegistryValue("HKEY_CURRENT_USER\\Software\\TvpatTest\\Cond", "", "yes");
  std::filesystem::remove(machine.getProductDir() + "/TAVRO.INI");
  machine.makeDirectory(machine.getProductDir() + "/TAVRO.INI");
  machine.writeProfile(
      "[Patch]\r\nPatch=FIX1\r\nLogFile=run.log\r\n"
      "Condition0=MAIN,1,1,HKCU,Software\\\\TvpatTest,Cond,yes\r\n\r\n[MAIN]\r\n; nothing\r\n");
  RunResult result = machine.run();
  EXPECT_EQ(result.out, kBanner);
  EXPECT_EQ(result.exitCode, 1);
  size_t firstEnd = result.err.find('\n');
  ASSERT_NE(firstEnd, std::string::npos) << result.err;
  EXPECT_TRUE(
      std::regex_match(result.err.substr(0, firstEnd),
                       std::regex("\aCritical ERROR Occured on line [0-9]+ of file tvpprof")))
      << result.err;
  EXPECT_EQ(result.err.substr(firstEnd + 1),
            "     Error Number:  21\n     Error Message: " + machine.shownProductDir() +
                "\\TAVRO.INI\n     Size:          0\n");
  EXPECT_EQ(withoutCarriageReturns(machine.readFile(patchFile("run.log"))), kBanner);
}

TEST_F(DriverTest, LogHoldsWhatPrintAndPrintToWrote) {
  // An early end (already installed) still leaves the log complete.
  machine.writeProductIni(std::string(kProductIni) + "\r\n[Install]\r\nPatch0=FIX1\r\n");
  machine.writeProfile("[Patch]\r\nPatch=FIX1\r\nLogFile=run.log\r\n");
  RunResult result = machine.run();
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "\n\aMessage 11\n");
  EXPECT_EQ(withoutCarriageReturns(machine.readFile(patchFile("run.log"))),
            std::string(kBanner) + "\n\aMessage 11\n");
}

TEST_F(DriverTest, LogIsAppendedOnlyWhenAsked) {
  const std::string run = std::string(kBanner) + "Message 7\n";
  const std::string settings[] = {"AppendLog=1\r\n", "AppendLog=0\r\n", ""};
  const std::string expected[] = {"old\n" + run, run, run};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(settings[i]);
    machine.writeFile(patchFile("run.log"), "old\r\n");
    machine.writeProfile("[Patch]\r\nLogFile=run.log\r\n" + settings[i] +
                         "Condition0=MAIN,2,1,Version,Level,2.0\r\n\r\n[MAIN]\r\n");
    RunResult result = machine.run();
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(withoutCarriageReturns(machine.readFile(patchFile("run.log"))), expected[i]);
  }
}

TEST_F(DriverTest, FileOperationTracesNeverReachTheLog) {
  machine.makeDirectory(machine.getProductDir() + "/BIN");
  machine.writeFile(patchFile("NEW.DLL"), "new\r\n");
  machine.writeProfile(
      "[Patch]\r\nLogFile=run.log\r\nCondition0=MAIN,2,1,Version,Level,2.0\r\n\r\n"
      "[MAIN]\r\nFILE1=TAVRO,NEW.DLL,BIN\r\n");
  RunResult result = machine.run({"-d"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(machine.readFile(machine.getProductDir() + "/BIN/NEW.DLL"), "new\r\n");
  // The log is standard output less the copy's own trace lines.
  std::string expected;
  int traces = 0;
  for (const std::string& line : lines(result.out)) {
    if (line.rfind("\t\tCopy Src File  : ", 0) == 0 ||
        line.rfind("\t\tCopy Dest File : ", 0) == 0) {
      ++traces;
    } else {
      expected += line + "\n";
    }
  }
  EXPECT_EQ(traces, 2) << result.out;
  EXPECT_NE(expected.find("Processing installation profile\n"), std::string::npos);
  EXPECT_EQ(withoutCarriageReturns(machine.readFile(patchFile("run.log"))), expected);
}

TEST_F(DriverTest, PatchAlreadyInstalledExitsOne) {
  machine.writeProductIni(std::string(kProductIni) + "\r\n[Install]\r\nPatch0=fix1 of May\r\n");
  machine.writeProfile(kProfile);
  RunResult result = machine.run();
  EXPECT_EQ(result.out, kBanner);
  EXPECT_EQ(result.err, "\n\aMessage 11\n");
  EXPECT_EQ(result.exitCode, 1);
}

TEST_F(DriverTest, RestartWithoutRebootProgramPrintsMessageEight) {
  machine.writeProfile(std::string(kProfile) + "REBOOT1=1\r\n");
  RunResult result = machine.run();
  EXPECT_EQ(result.out, std::string(kBanner) + "Message 7\nMessage 8\n");
  EXPECT_EQ(result.exitCode, 0);
}

TEST_F(DriverTest, RebootProgramThatCannotStartIsReportedFromTheCatalogue) {
  machine.writeFile(catalogue(), numberedCatalogue(37));
  machine.writeProfile(rebootingProfile("NOSUCH"));
  RunResult result = machine.run();
  EXPECT_EQ(result.out, std::string(kBanner) + "Message 7\n");
  EXPECT_EQ(result.err, "\n\aMessage 37: NOSUCH\n");
  EXPECT_EQ(result.exitCode, 1);
  // The teardown wrote everything back before the start was tried.
  EXPECT_NE(machine.readFile(machine.getProductDir() + "/TAVRO.INI")
                .value_or("")
                .find("[Test]\r\nKey=Value\r\n"),
            std::string::npos);
}

// Started from another directory, as a shortcut starts it, the installer
// finds the reboot program beside itself, and reports a missing batch file.
TEST_F(DriverTest, RebootProgramIsFoundBesideTheInstallerOrReported) {
  const std::string dir = machine.getRoot() + "/INSTALL";
  const std::string installer = dir + (machine.isWine() ? "/TVPAT32.EXE" : "/tvpat32");
  machine.copyProgramTo(installer);
  machine.writeFile(dir + "/TVPAT32.MSG", numberedCatalogue(37));
  machine.writeFile(dir + "/TVPAT32.DAT", std::string(kRepeatableProfile) + "REBOOT1=1,X.BAT\r\n");
  RunResult result = machine.runProgramAt(installer, {});
  EXPECT_EQ(result.err, "\n\aMessage 37: X.BAT\n");
  EXPECT_EQ(result.exitCode, 1);
  // Natively COMSPEC is a shell, which runs no batch file: a script stands in.
  const std::string name = machine.isWine() ? "RESTART.BAT" : "restart";
  machine.writeFile(dir + "/" + name,
                    machine.isWine() ? "@echo x>seen.txt\r\n" : "#!/bin/sh\ntouch seen.txt\n");
  std::filesystem::permissions(dir + "/" + name, std::filesystem::perms::owner_all);
  machine.writeFile(dir + "/TVPAT32.DAT",
                    std::string(kRepeatableProfile) + "REBOOT1=1," + name + "\r\n");
  EXPECT_EQ(machine.runProgramAt(installer, {}).exitCode, 0);
  EXPECT_TRUE(appears(patchFile("seen.txt")));
}

TEST_F(DriverTest, RebootProgramStartsAfterTeardown) {
  // The reboot program records the product's TAVRO.INI as it finds it: the
  // INI edit must be on disk before the program starts.
  if (machine.isWine()) {
    machine.writeFile(patchFile("REBOOT.BAT"), "@copy \"" + machine.shownProductDir() +
                                                   "\\TAVRO.INI\" seen.tmp\r\n"
                                                   "@ren seen.tmp seen.ini\r\n");
  } else {
    machine.writeFile(patchFile("reboot"), "#!/bin/sh\ncp '" + machine.getProductDir() +
                                               "/TAVRO.INI' seen.tmp\n"
                                               "mv seen.tmp seen.ini\n");
    std::filesystem::permissions(patchFile("reboot"), std::filesystem::perms::owner_all);
  }
  machine.writeProfile(rebootingProfile("reboot"));
  RunResult result = machine.run();
  EXPECT_EQ(result.out, std::string(kBanner) + "Message 7\n");
  EXPECT_EQ(result.exitCode, 0);
  ASSERT_TRUE(appears(patchFile("seen.ini")));
  EXPECT_EQ(machine.readFile(patchFile("seen.ini")),
            machine.readFile(machine.getProductDir() + "/TAVRO.INI"));
}

}  // namespace
