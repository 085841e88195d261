#include "profile/profile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/error.h"
#include "support/expect_error.h"
#include "support/fault_hooks.h"
#include "support/stamped_file.h"
#include "support/temp_dir.h"

namespace {

using platform::testing::Call;

class ProfileTest : public ::testing::Test {
 protected:
  std::string path() const { return dir.file("TEST.INI"); }
  void write(const std::string& content) const { dir.write("TEST.INI", content); }
  std::string read() const { return dir.read("TEST.INI").value_or("<absent>"); }

  // The names in the directory, to prove that no temporary file stays behind.
  std::vector<std::string> names() const {
    std::vector<std::string> result;
    for (const auto& entry : std::filesystem::directory_iterator(dir.getPath())) {
      result.push_back(entry.path().filename().string());
    }
    return result;
  }

  TempDir dir;
  // Last, so that the hooks go before anything that writes back as it goes.
  FaultHooks hooks;
};

TEST_F(ProfileTest, MissingFileAnswersDefaultsAndIsNeverWritten) {
  {
    Profile profile(path());
    EXPECT_EQ(profile.lineCount(), 0u);
    EXPECT_EQ(profile.getString("A", "k", "def"), "def");
    EXPECT_EQ(profile.getInt("A", "k", 7), 7);
  }
  EXPECT_FALSE(dir.exists("TEST.INI"));
}

TEST_F(ProfileTest, SectionHeaderMatchesInColumnOneOnly) {
  write("[Setup] remark\r\nKey=1\r\n [Other]\r\nKey2=2\r\n");
  Profile profile(path());
  EXPECT_EQ(profile.findSection("setup"), 0u);
  EXPECT_EQ(profile.findSection("Other"), Profile::kNoLine);
  // Queries stop only at "[" in column 1, so Key2 still belongs to Setup.
  EXPECT_EQ(profile.getString("SETUP", "Key2", "def"), "2");
  EXPECT_TRUE(Profile::isSectionHeader(" \t[Other]"));
  EXPECT_FALSE(Profile::isSectionHeader("x=[y]"));
}

// One edit of a file: writeString, or appendString where append is set.
struct Edit {
  const char* section;
  const char* key;
  const char* value;
  bool append = false;
};

// The file before (null: no file), the edits made through one profile, and
// the file after, byte for byte.
struct EditRow {
  const char* before;
  std::vector<Edit> edits;
  const char* after;
};

TEST_F(ProfileTest, EditsKeepTheLayoutOfTheFile) {
  const EditRow rows[] = {
      // A new key goes after the last line of its section that is not empty.
      {"[A]\r\na=1\r\n\r\n[B]\r\n", {{"A", "k", "v"}}, "[A]\r\na=1\r\nk=v\r\n\r\n[B]\r\n"},
      {"[A]\r\n\r\n[B]\r\n", {{"B", "x", "y"}}, "[A]\r\n\r\n[B]\r\nx=y\r\n"},
      {"[A]\r\n[B]\r\n", {{"A", "k", "v"}}, "[A]\r\nk=v\r\n[B]\r\n"},
      // A header indented ends the section for edits.
      {"[A]\r\na=1\r\n [B]\r\nb=2\r\n", {{"A", "k", "v"}}, "[A]\r\na=1\r\nk=v\r\n [B]\r\nb=2\r\n"},
      {"[A]\r\na=1\r\n [B]\r\nb=2\r\n", {{"A", nullptr, nullptr}}, " [B]\r\nb=2\r\n"},
      // A new section is set off by one empty line, also when appended to.
      {"[A]\r\na=1", {{"New", "k", "v"}}, "[A]\r\na=1\r\n\r\n[New]\r\nk=v\r\n"},
      {"[A]\r\n", {{"Other", "k", "v", true}}, "[A]\r\n\r\n[Other]\r\nk=v\r\n"},
      // A removed section takes its empty lines along; a missing section or
      // key changes nothing.
      {"[A]\r\na=1\r\n\r\n[B]\r\nb=1\r\n\r\n;end\r\n",
       {{"A", nullptr, "ignored"}},
       "[B]\r\nb=1\r\n\r\n;end\r\n"},
      {"[B]\r\nb=1\r\n\r\n;end\r\n",
       {{"B", "b", nullptr}, {"B", "b", nullptr}, {"Z", nullptr, nullptr}},
       "[B]\r\n\r\n;end\r\n"},
      // Removing what is not there still makes the file.
      {nullptr, {{"A", "k", nullptr}}, ""},
      // Lines come back as they were, with CR LF ends.
      {"; note\n[S]\r\nk=1\nodd line\r\r\n\tx = 1 \nlast",
       {{"S", "k", "2"}},
       "; note\r\n[S]\r\nk=2\r\nodd line\r\r\n\tx = 1 \r\nlast\r\n"},
      // A key is its whole name: a longer one stays.
      {"[S]\r\nPathName=x\r\n", {{"S", "Path", "y"}}, "[S]\r\nPathName=x\r\nPath=y\r\n"},
      {"[S]\r\nPathName=x\r\nPath=y\r\n",
       {{"S", "Path", nullptr}, {"S", "Path", nullptr}},
       "[S]\r\nPathName=x\r\n"},
  };
  for (const EditRow& row : rows) {
    SCOPED_TRACE(row.before != nullptr ? row.before : "(no file)");
    std::filesystem::remove(path());
    if (row.before != nullptr) write(row.before);
    Profile profile(path());
    for (const Edit& edit : row.edits) {
      if (edit.append) {
        profile.appendString(edit.section, edit.key, edit.value);
      } else {
        profile.writeString(edit.section, edit.key, edit.value);
      }
    }
    EXPECT_EQ(read(), row.after);
  }
}

TEST_F(ProfileTest, ValueIsTextAfterEqualsVerbatim) {
  write("[S]\nKey = value \nEmpty=\n  path\t= x\nn1=12abc\nn2= -5\nn3=abc\n");
  Profile profile(path());
  EXPECT_EQ(profile.getString("s", "KEY", "def"), " value ");
  EXPECT_EQ(profile.getString("S", "Empty", "def"), "");
  EXPECT_EQ(profile.getString("S", "Path", "def"), " x");
  EXPECT_EQ(profile.getString("S", "Pat", "def"), "def");
  EXPECT_EQ(profile.getInt("S", "n1", 0), 12);
  EXPECT_EQ(profile.getInt("S", "n2", 0), -5);
  EXPECT_EQ(profile.getInt("S", "n3", 9), 9);
  EXPECT_EQ(profile.getInt("S", "missing", 9), 9);
  EXPECT_EQ(profile.getInt("T", "n1", 9), 9);
}

TEST_F(ProfileTest, FirstSectionAndFirstKeyWin) {
  write("[S]\nk=1\nk=2\n[s]\nk=3\nj=4\n");
  Profile profile(path());
  EXPECT_EQ(profile.getString("S", "k", ""), "1");
  EXPECT_EQ(profile.getString("S", "j", "none"), "none");
}

TEST_F(ProfileTest, AppendStringAddsLineOnceBeforeEmptyLines) {
  write("[rename]\r\na=b\r\n\r\n[next]\r\nc=d\r\n");
  Profile profile(path());
  profile.appendString("rename", "NUL", "x");
  EXPECT_EQ(read(), "[rename]\r\na=b\r\nNUL=x\r\n\r\n[next]\r\nc=d\r\n");

  // Neither the repeat nor a line equal to one further down saves: every
  // create is refused from here on, so a save would raise.
  hooks.fail(Call::kCreateNewFile, EACCES);
  profile.appendString("rename", "nul", "X");
  profile.appendString("rename", "c", "d");
  EXPECT_EQ(read(), "[rename]\r\na=b\r\nNUL=x\r\n\r\n[next]\r\nc=d\r\n");
}

TEST_F(ProfileTest, RefreshSeesChangeMadeByOthers) {
  write("[S]\r\nk=1\r\n");
  Profile profile(path());
  EXPECT_EQ(profile.getString("S", "k", ""), "1");

  // Same size, later time.
  writeStampedFile(path(), "[S]\r\nk=2\r\n", makeDosStamp(2030));
  EXPECT_EQ(profile.getString("S", "k", ""), "2");

  write("[S]\r\nk=333\r\n");
  EXPECT_EQ(profile.getInt("S", "k", 0), 333);

  std::filesystem::remove(path());
  EXPECT_EQ(profile.getString("S", "k", "gone"), "gone");
  EXPECT_EQ(profile.lineCount(), 0u);
}

TEST_F(ProfileTest, UnreadableFileGivesEmptyProfileUntilItCanBeRead) {
  write("[S]\r\nk=1\r\n");
  hooks.fail(Call::kReadFile, EIO);
  Profile profile(path());
  EXPECT_EQ(profile.lineCount(), 0u);
  EXPECT_EQ(profile.getString("S", "k", "def"), "def");
  hooks.clear();
  EXPECT_EQ(profile.getString("S", "k", "def"), "1");
}

// Every edit is on disk when it returns, so neither the end of an object
// nor close() writes anything again: what another program or object wrote
// since stays. Only an edit whose save failed is written once more.
TEST_F(ProfileTest, EndOfLifeWritesNothingOverLaterChanges) {
  write("[S]\r\nk=1\r\n");
  {
    Profile first(path());
    first.writeString("S", "k", "2");
    {
      Profile second(path());
      second.writeString("S", "k", "3");
    }
    EXPECT_EQ(read(), "[S]\r\nk=3\r\n");
  }
  EXPECT_EQ(read(), "[S]\r\nk=3\r\n");

  {
    Profile profile(path());
    profile.writeString("S", "k", "4");
    write("outside\r\n");
    profile.close();
  }
  EXPECT_EQ(read(), "outside\r\n");

  write("[S]\r\nk=1\r\n");
  {
    Profile profile(path());
    hooks.fail(Call::kCreateNewFile, ENOSPC);
    EXPECT_THROW(profile.writeString("S", "k", "5"), Error);
    hooks.clear();
  }
  EXPECT_EQ(read(), "[S]\r\nk=5\r\n");
}

// An edit that leaves every line as it was does not save: the file keeps its
// time, so a later copy of it does not take it for a changed file.
TEST_F(ProfileTest, EditThatChangesNothingLeavesTheFileAlone) {
  const platform::DosStamp stamp = makeDosStamp(2001);
  writeStampedFile(path(), "[S]\r\nk=1\r\n", stamp);
  Profile profile(path());
  profile.writeString("S", "k", "1");
  profile.writeString("S", "absent", nullptr);
  profile.writeString("None", nullptr, nullptr);
  EXPECT_EQ(readStampValue(path()), stampValue(stamp));
  profile.writeString("S", "k", "2");
  EXPECT_NE(readStampValue(path()), stampValue(stamp));
  EXPECT_EQ(read(), "[S]\r\nk=2\r\n");
}

TEST_F(ProfileTest, LongLineStaysWhole) {
  std::string longValue(300, 'x');
  write("[S]\r\nlong=" + longValue + "\r\n");
  Profile profile(path());
  EXPECT_EQ(profile.lineCount(), 2u);
  EXPECT_EQ(profile.getString("S", "long", ""), longValue);
  profile.writeString("S", "k", "v");
  EXPECT_EQ(read(), "[S]\r\nlong=" + longValue + "\r\nk=v\r\n");
}

TEST_F(ProfileTest, IndentedKeyIsReplacedInPlace) {
  write("[S]\r\n  Key = old\r\nother=1\r\n");
  Profile profile(path());
  profile.writeString("S", "key", "new");
  EXPECT_EQ(read(), "[S]\r\nkey=new\r\nother=1\r\n");
  EXPECT_EQ(profile.getString("S", "Key", ""), "new");
}

// A save that fails at any step raises Error 21 with the path, leaves the
// original byte for byte, and removes its temporary file.
TEST_F(ProfileTest, FailedSaveKeepsOriginalFile) {
  const std::string original = "[S]\r\nk=1\r\n";
  for (Call failing :
       {Call::kCreateNewFile, Call::kWriteFile, Call::kCloseFile, Call::kReplaceFile}) {
    SCOPED_TRACE(static_cast<int>(failing));
    hooks.clear();
    write(original);
    Profile profile(path());
    hooks.fail(failing, ENOSPC);
    std::optional<Error> error =
        expectError(kErrorCreate, path(), [&] { profile.writeString("S", "k", "2"); });
    if (error) {
      EXPECT_EQ(error->getSourceFile(), "tvpprof");
    }
    EXPECT_EQ(read(), original);
    EXPECT_EQ(names(), std::vector<std::string>{"TEST.INI"});
    // The destructor retries, fails the same way, and does not throw.
  }
}

TEST_F(ProfileTest, SaveSkipsTakenTemporaryNamesAndFailsInMissingDirectory) {
  dir.write("~TVP0000.TMP", "someone else's");
  write("[S]\r\n");
  {
    Profile profile(path());
    profile.writeString("S", "k", "1");
  }
  EXPECT_EQ(read(), "[S]\r\nk=1\r\n");
  EXPECT_EQ(dir.read("~TVP0000.TMP"), "someone else's");

  Profile nowhere(dir.file("missing/TEST.INI"));
  EXPECT_THROW(nowhere.writeString("S", "k", "1"), Error);
  EXPECT_THROW(nowhere.close(), Error);
}

}  // namespace
