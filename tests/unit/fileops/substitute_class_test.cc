#include "fileops/substitute_class.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "fileops/file_install.h"
#include "path/path_name.h"
#include "platform/files.h"
#include "support/environment_guard.h"
#include "support/fault_hooks.h"
#include "support/temp_dir.h"

namespace {

using platform::testing::Call;

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

  void SetUp() override {
    dir.write("temp/.keep", "");
    environment.set("TEMP", dir.file("temp"));
  }

  std::string rewrite(const std::string& content) {
    dir.write("data/FILE.INI", content);
    EXPECT_EQ(1, substitute.substituteFile(dir.file("data/FILE.INI")));
    EXPECT_FALSE(dir.exists("data/FILE.OLD"));
    return dir.read("data/FILE.INI").value_or("<none>");
  }

  EnvironmentGuard environment;
  TempDir dir;
  SubstituteClass substitute;
  // Last, so that the hooks go before anything that writes back as it goes.
  FaultHooks hooks;
};

TEST_F(SubstituteFileTest, RewritesLinesWithCrLf) {
  EXPECT_EQ("path=C:\\WIN\\SYSTEM\r\nroot=D:\\TAVRO\r\n\r\nlast",
            rewrite("path=\\WINDOWS\\SYSTEM\nroot=\\TAVRO\r\n\nlast"));
  EXPECT_EQ("a\r\n", rewrite("a\r\n"));
  EXPECT_EQ("", rewrite(""));
  std::vector<platform::DirectoryEntry> left;
  ASSERT_TRUE(platform::listDirectory(dir.file("temp"), &left).ok);
  ASSERT_EQ(1u, left.size());
  EXPECT_EQ(".keep", left[0].name);
}

TEST_F(SubstituteFileTest, LongLineKeepsItsLastPlaceholder) {
  std::string filler(100 * 1024, 'f');
  EXPECT_EQ(filler + "C:\\WIN\r\n", rewrite(filler + "\\WINDOWS\n"));
}

TEST_F(SubstituteFileTest, NeverOpensAnExistingTemporaryFile) {
  // Another program takes the free name between the test for it and the
  // creation: the hook hides the file from the test, as such a race would.
  std::string taken;
  ASSERT_TRUE(makeTemporaryPath(dir.file("temp"), &taken));
  dir.write("temp/" + pathFileName(taken), "someone else's");
  dir.write("data/FILE.INI", "\\WINDOWS\n");
  hooks.fail(Call::kTestPath, ENOENT, dir.file("temp/TV"));
  EXPECT_EQ(0, substitute.substituteFile(dir.file("data/FILE.INI")));
  EXPECT_EQ("someone else's", dir.read("temp/" + pathFileName(taken)));
  EXPECT_EQ("\\WINDOWS\n", dir.read("data/FILE.INI"));
}

// Whatever step of the rewrite fails, the file keeps its old text: it is
// never removed before the new text is whole beside it.
TEST_F(SubstituteFileTest, OriginalStaysWhenItCannotBeReplaced) {
  const struct {
    const char* what;
    Call call;
    int error;
    const char* part;
  } cases[] = {
      {"in use", Call::kReplaceFile, EBUSY, "FILE.INI"},
      {"a flush that fails", Call::kFlushFile, EIO, ""},
      {"a disk that is full", Call::kWriteFile, ENOSPC, "data"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    dir.write("data/FILE.INI", "\\WINDOWS\n");
    hooks.fail(c.call, c.error, c.part);
    EXPECT_EQ(0, substitute.substituteFile(dir.file("data/FILE.INI")));
    hooks.clear();
    EXPECT_EQ("\\WINDOWS\n", dir.read("data/FILE.INI"));
  }
  EXPECT_EQ(0, substitute.substituteFile(dir.file("data/MISSING.INI")));
}

}  // namespace
