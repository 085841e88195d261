#include "engine/entry_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Every field of text, split with "=" once and then with ","; "<absent>"
// never appears as a field, so it marks the end.
std::vector<std::string> splitEntry(const std::string& text) {
  std::vector<std::string> fields;
  const char* field = nextField(text.c_str(), "=");
  while (field != nullptr) {
    fields.push_back(field);
    field = nextField(nullptr, ",");
  }
  return fields;
}

TEST(NextFieldTest, SplitsAtDelimitersThenGivesAbsent) {
  EXPECT_STREQ("a", nextField("a,b", ","));
  EXPECT_STREQ("b", nextField(nullptr, ","));
  EXPECT_EQ(nullptr, nextField(nullptr, ","));
  EXPECT_EQ(nullptr, nextField(nullptr, ","));
}

TEST(NextFieldTest, TellsEmptyFieldsFromAbsentOnes) {
  EXPECT_EQ((std::vector<std::string>{"K", "a", ""}), splitEntry("K=a,"));
  EXPECT_EQ((std::vector<std::string>{"K", "", "", "x"}), splitEntry("K=,,x"));
  EXPECT_EQ((std::vector<std::string>{"K"}), splitEntry("K"));
  EXPECT_EQ((std::vector<std::string>{"K", ""}), splitEntry("K="));
  EXPECT_STREQ("", nextField("", ","));
  EXPECT_EQ(nullptr, nextField(nullptr, ","));
}

TEST(NextFieldTest, BackslashMakesTheNextCharacterLiteral) {
  EXPECT_EQ((std::vector<std::string>{"K", "a,b"}), splitEntry("K=a\\,b"));
  EXPECT_EQ((std::vector<std::string>{"K", "C:\\DIR", "x"}), splitEntry("K=C:\\\\DIR,x"));
  EXPECT_EQ((std::vector<std::string>{"K", "SoftwareVendor"}), splitEntry("K=Software\\Vendor"));
  EXPECT_EQ((std::vector<std::string>{"A=B", "c"}), splitEntry("A\\=B=c"));
  // A lone backslash at the very end goes and ends the last field.
  EXPECT_EQ((std::vector<std::string>{"K", "ab"}), splitEntry("K=ab\\"));
  EXPECT_EQ((std::vector<std::string>{"K", "ab,"}), splitEntry("K=ab\\,"));
}

TEST(NextFieldTest, FieldsAreNotTrimmedAndStayValidUntilTheNextLine) {
  const char* first = nextField("K= a , b ", "=");
  const char* second = nextField(nullptr, ",");
  const char* third = nextField(nullptr, ",");
  EXPECT_STREQ("K", first);
  EXPECT_STREQ(" a ", second);
  EXPECT_STREQ(" b ", third);
}

TEST(NextFieldTest, SplitsLinesOfAnyLengthWhole) {
  std::string longField(1000, 'x');
  longField[600] = '\\';
  longField[601] = ',';
  std::vector<std::string> fields = splitEntry("K=" + longField + ",tail");
  ASSERT_EQ(3u, fields.size());
  EXPECT_EQ(999u, fields[1].size());
  EXPECT_EQ(',', fields[1][600]);
  EXPECT_EQ("tail", fields[2]);
}

TEST(TrimBlanksTest, RemovesWhiteSpaceAtBothEnds) {
  std::string text = " \t a b \r\n";
  trimBlanks(text);
  EXPECT_EQ("a b", text);
  text = " \t\r\n ";
  trimBlanks(text);
  EXPECT_EQ("", text);
  text = "x";
  trimBlanks(text);
  EXPECT_EQ("x", text);
}

TEST(EntryKindTest, KeywordDigitsThenEqualsOrEnd) {
  struct KindRow {
    const char* line;
    EntryKind kind;
  } rows[] = {
      {"ini1=WINDOWS,WIN.INI,S,K,V", EntryKind::kIni},
      {"INI=x", EntryKind::kIni},
      {"FILE27=x", EntryKind::kFile},
      {"FILE1", EntryKind::kFile},
      {"Reboot", EntryKind::kReboot},
      {"INI1 =x", EntryKind::kUnknown},
      {"FILEX=x", EntryKind::kUnknown},
      {"FIL=x", EntryKind::kUnknown},
      {"FINDFILE1=x", EntryKind::kFindFile},
      {"findfile1=x", EntryKind::kFindFile},
      {"FILE1=x", EntryKind::kFile},
      {"REG12=HKCU", EntryKind::kReg},
      {"SUBST3=a", EntryKind::kSubst},
      {"rename=a", EntryKind::kRename},
      {"COPY9", EntryKind::kCopy},
      {"ERASE1=a", EntryKind::kErase},
      {"ERASE1a=a", EntryKind::kUnknown},
  };
  for (const KindRow& row : rows) {
    EXPECT_EQ(entryKindOf(row.line), row.kind) << row.line;
  }
}

TEST(EntryKindTest, CommentsBeginWithSemicolonOrTwoSlashes) {
  EXPECT_TRUE(isCommentEntry("; note"));
  EXPECT_TRUE(isCommentEntry("//FILE1=x"));
  EXPECT_FALSE(isCommentEntry("/FILE1=x"));
  EXPECT_FALSE(isCommentEntry("FILE1=;x"));
  EXPECT_FALSE(isCommentEntry(""));
}

}  // namespace
