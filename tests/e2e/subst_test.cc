#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "e2e/machine.h"

namespace fs = std::filesystem;

namespace {

// Whichever way a SUBST meets its file, the file ends filled in exactly once.
// The product root lies in a directory named TAVRO, so that a second fill-in
// would show: the root itself holds "\TAVRO".
TEST(Subst, FillsInTheFileOnce) {
  const struct {
    const char* what;
    const char* entries;
    std::function<void(Machine&, const std::string& root)> prepare;
    // Given, the first run fails, and this puts right what it failed on
    // before the run that finishes the patch.
    std::function<void(Machine&, const std::string& root)> putRight;
  } cases[] = {
      {"a file a FILE entry installed with the same stamp",
       "FILE1=TAVRO,A.INI\r\nSUBST1=TAVRO,A.INI\r\n", nullptr, nullptr},
      {"a file where it stands, with a TEMP that holds no file", "SUBST1=TAVRO,A.INI,,,,,1\r\n",
       [](Machine& machine, const std::string& root) {
         machine.writeFile(root + "/A.INI", "root=\\TAVRO\r\n");
         machine.writeFile(machine.getRoot() + "/NOTADIR", "");
         machine.setEnvironment("TEMP", machine.shown(machine.getRoot() + "/NOTADIR"));
       },
       nullptr},
      {"a copy, then a run that continues its patch",
       "SUBST1=TAVRO,A.INI\r\nFILE2=TAVRO,A.INI,BIN\r\n", nullptr,
       [](Machine& machine, const std::string& root) { machine.makeDirectory(root + "/BIN"); }},
      {"a read-only file where it stands, made writable for the next run",
       "SUBST1=TAVRO,A.INI,,,,,1\r\n",
       [](Machine& machine, const std::string& root) {
         machine.writeFile(root + "/A.INI", "root=\\TAVRO\r\n");
         fs::permissions(root + "/A.INI", fs::perms::owner_read, fs::perm_options::replace);
       },
       [](Machine&, const std::string& root) {
         fs::permissions(root + "/A.INI", fs::perms::owner_write, fs::perm_options::add);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Machine machine;
    const std::string root = machine.getProductDir() + "/TAVRO";
    const std::string shownRoot = machine.shownProductDir() + "\\TAVRO";
    machine.writeWindowsIni("[Tavro]\r\nroot=" + shownRoot + "\r\n");
    machine.writeFile(root + "/TAVRO.INI", "[Version]\r\nLevel=2\r\n");
    machine.writeFile(machine.getPatchDir() + "/A.INI", "root=\\TAVRO\r\n");
    machine.writeProfile(
        "[Patch]\r\nPatch=FIX1\r\nCondition0=S,2,0,Version,Level,1\r\n\r\n[S]\r\n" +
        std::string(c.entries));
    if (c.prepare) c.prepare(machine, root);
    RunResult result = machine.run();
    if (c.putRight) {
      EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
      c.putRight(machine, root);
      result = machine.run();
    }
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_EQ(machine.readFile(root + "/A.INI"), "root=" + shownRoot + "\r\n");
  }
}

}  // namespace
