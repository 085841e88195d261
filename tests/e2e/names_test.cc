#include <gtest/gtest.h>

#include <string>

#include "e2e/machine.h"

namespace {

// The profile and the patch spell the file in small letters, the product in
// capitals, accent included: each entry replaces the installed file, keeping
// it as the backup, rather than putting a second one beside it. FINDFILE
// learns where the file is from the listing of each directory of the tree.
TEST(Names, AccentedLettersMatchInEitherCase) {
  for (const char* entry :
       {"FILE1=TAVRO,caf\xE9.txt,DOCS\r\n", "FINDFILE1=TAVRO,caf\xE9.txt,DOCS\r\n"}) {
    Machine machine;
    // Wine keeps names in UTF-8; the native build keeps the program's bytes.
    const std::string small = machine.isWine() ? "caf\xC3\xA9" : "caf\xE9";
    const std::string capital =
        machine.getProductDir() + "/DOCS/" + (machine.isWine() ? "CAF\xC3\x89.TXT" : "CAF\xC9.TXT");
    machine.writeFile(machine.getPatchDir() + "/" + small + ".txt", "new");
    machine.writeFile(capital, "old");
    machine.setStamp(capital, 2001, 3, 1, 12, 0, 0);
    machine.writeProductIni("[Version]\r\nLevel=2\r\n");
    machine.writeProfile(
        "[Patch]\r\nPatch=FIX1\r\nCondition0=S,2,0,Version,Level,1\r\n\r\n[S]\r\n" +
        std::string(entry));

    EXPECT_EQ(machine.run().exitCode, 0) << entry;
    EXPECT_FALSE(machine.exists(capital)) << entry;
    EXPECT_EQ(machine.readFile(machine.getProductDir() + "/DOCS/" + small + ".txt"), "new");
    EXPECT_EQ(machine.readFile(machine.getProductDir() + "/DOCS/" + small + ".OLD"), "old");
  }
}

}  // namespace
