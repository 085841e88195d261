#include "fileops/substitute_class.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "base/error.h"
#include "support/expect_error.h"
#include "support/fault_hooks.h"
#include "support/temp_dir.h"

namespace {

// The set that section processing builds.
class SubstituteLineTest : public ::testing::Test {
 protected:
  SubstituteLineTest() : substitute('\\') {
    substitute.addEntry("TAVRO", "D:\\TAVRO");
    substitute.addEntry("WINDOWS", "C:\\WIN");
  }

  std::string run(std::string line) {
    substitute.substituteLine(line);
    return line;
  }

  SubstituteClass substitute;
};

TEST_F(SubstituteLineTest, ReplacesKnownNamesOnly) {
  EXPECT_EQ("C:\\WIN\\SYSTEM", run("\\WINDOWS\\SYSTEM"));
  EXPECT_EQ("C:\\WIN\\SYSTEM", run("\\windows\\SYSTEM"));
  EXPECT_EQ("x=D:\\TAVRO\\BIN;C:\\WIN", run("x=\\TAVRO\\BIN;\\WINDOWS"));
  EXPECT_EQ("C:\\WINX", run("\\WINDOWSX"));
  EXPECT_EQ("\\UNKNOWN \\WINDOW", run("\\UNKNOWN \\WINDOW"));
  EXPECT_EQ("end\\", run("end\\"));
  EXPECT_EQ("", run(""));
}

TEST_F(SubstituteLineTest, DoubledMarkerStandsForOne) {
  EXPECT_EQ("\\WINDOWS", run("\\\\WINDOWS"));
  EXPECT_EQ("\\\\C:\\WIN", run("\\\\\\\\\\WINDOWS"));
  EXPECT_EQ("a\\", run("a\\\\"));
}

TEST_F(SubstituteLineTest, EarlierEntryWinsAndValuesAreNotRescanned) {
  SubstituteClass set('%');
  set.addEntry("WIN", "short");
  set.addEntry("WINDOWS", "long");
  set.addEntry("AGAIN", "%WIN");
  std::string line = "%WINDOWS %AGAIN";
  set.substituteLine(line);
  EXPECT_EQ("shortDOWS %WIN", line);
}

TEST_F(SubstituteLineTest, LongValuesAreInsertedWhole) {
  std::string deep(300, 'd');
  SubstituteClass set('\\');
  set.addEntry("TAVRO", deep);
  std::string line = "\\TAVRO\\" + std::string(600, 'x') + "\\TAVRO";
  set.substituteLine(line);
  EXPECT_EQ(deep + "\\" + std::string(600, 'x') + deep, line);
}

TEST_F(SubstituteLineTest, IterationWalksEntriesInOrder) {
  SubstituteClass empty('\\');
  SubstituteEntry entry;
  EXPECT_EQ(0, empty.moveFirst());
  EXPECT_EQ(0, empty.moveNext());
  EXPECT_EQ(0, empty.getCurrent(&entry));

  ASSERT_EQ(1, substitute.moveFirst());
  ASSERT_EQ(1, substitute.getCurrent(&entry));
  EXPECT_EQ("TAVRO", entry.name);
  ASSERT_EQ(1, substitute.moveNext());
  ASSERT_EQ(1, substitute.getCurrent(&entry));
  EXPECT_EQ("C:\\WIN", entry.value);
  EXPECT_EQ(0, substitute.moveNext());
  ASSERT_EQ(1, substitute.getCurrent(&entry));
  EXPECT_EQ("WINDOWS", entry.name);
}

class SubstituteFileTest : public ::testing::Test {
 protected:
  SubstituteFileTest() : substitute('\\') {
    substitute.addEntry("TAVRO", "D:\\TAVRO");
    substitute.addEntry("WINDOWS", "C:\\WIN");
  }

  // The text read, filled in; the file itself keeps its text.
  std::string fillIn(const std::string& content) {
    dir.write("FILE.INI", content);
    std::string text = "<none>";
    EXPECT_EQ(1, substitute.readSubstituted(dir.file("FILE.INI"), &text));
    EXPECT_EQ(content, dir.read("FILE.INI"));
    return text;
  }

  TempDir dir;
  SubstituteClass substitute;
  FaultHooks hooks;
};

TEST_F(SubstituteFileTest, GivesLinesWithCrLf) {
  EXPECT_EQ("path=C:\\WIN\\SYSTEM\r\nroot=D:\\TAVRO\r\n\r\nlast",
            fillIn("path=\\WINDOWS\\SYSTEM\nroot=\\TAVRO\r\n\nlast"));
  EXPECT_EQ("a\r\n", fillIn("a\r\n"));
  EXPECT_EQ("", fillIn(""));
  std::string text;
  EXPECT_EQ(0, substitute.readSubstituted(dir.file("MISSING.INI"), &text));
}

TEST_F(SubstituteFileTest, LongLineKeepsItsLastPlaceholder) {
  std::string filler(100 * 1024, 'f');
  EXPECT_EQ(filler + "C:\\WIN\r\n", fillIn(filler + "\\WINDOWS\n"));
}

// A file too large for memory is Error 1 with the file's size, which the
// run reports as it reports every allocation it cannot have.
TEST_F(SubstituteFileTest, FileWithoutMemoryForItRaisesErrorOne) {
  dir.write("FILE.INI", "\\WINDOWS\n");
  hooks.refuseMemory(kModuleFileOps);
  std::string text;
  std::optional<Error> error = expectError(
      kErrorNoMemory, "", [&] { substitute.readSubstituted(dir.file("FILE.INI"), &text); });
  ASSERT_TRUE(error);
  EXPECT_EQ(9u, error->getSize());
  EXPECT_EQ(kModuleFileOps, error->getSourceFile());
}

}  // namespace
