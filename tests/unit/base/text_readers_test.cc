// The one line reader and the one number reader, and the readers built on
// the number reader, which must all agree on every build.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "base/decimal_number.h"
#include "base/line_reader.h"
#include "engine/condition_line.h"
#include "engine/entry_rules.h"
#include "profile/profile.h"
#include "support/temp_dir.h"

namespace {

// Each line read, with "+" after it when it ended in a line feed.
std::vector<std::string> readAll(const std::string& text, std::size_t start = 0) {
  std::vector<std::string> lines;
  LineReader reader(text, start);
  std::string line;
  while (reader.next(&line)) lines.push_back(line + (reader.hasLineEnd() ? "+" : ""));
  return lines;
}

TEST(LineReaderTest, CutsLinesAsTextModeDoes) {
  struct Row {
    std::string text;
    std::vector<std::string> lines;
  };
  const Row rows[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\n", {"a+"}},
      {"a\r\nb\n", {"a+", "b+"}},
      {"a\nb", {"a+", "b"}},
      // Only the CR of a CR LF pair belongs to the line end.
      {"a\rb\r\n", {"a\rb+"}},
      {"a\r", {"a\r"}},
      {"a\r\r\n", {"a\r+"}},
      {"\n\r\n\n", {"+", "+", "+"}},
      {std::string("a\0b\n\0", 5), {std::string("a\0b+", 4), std::string("\0", 1)}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.text));
    EXPECT_EQ(readAll(row.text), row.lines);
  }
}

TEST(LineReaderTest, StartsWhereTold) {
  EXPECT_EQ(readAll("\xEF\xBB\xBFREGEDIT4\r\n[X]", 3),
            (std::vector<std::string>{"REGEDIT4+", "[X]"}));
  EXPECT_EQ(readAll("abc", 3), std::vector<std::string>{});
}

TEST(LineReaderTest, LeavesTheLineAloneAtTheEnd) {
  const std::string text = "x\n";
  LineReader reader(text);
  std::string line = "kept";
  ASSERT_TRUE(reader.next(&line));
  EXPECT_EQ(line, "x");
  line = "kept";
  EXPECT_FALSE(reader.next(&line));
  EXPECT_EQ(line, "kept");
}

TEST(DecimalNumberTest, ReadsLikeAtoiButClampsInsteadOfWrapping) {
  struct Row {
    const char* text;
    bool isNumber;
    int number;
  };
  const std::string thousandNines(1000, '9');
  const Row rows[] = {
      {"0", true, 0},
      {"  +12abc", true, 12},
      {"\t\r\n\v\f-7", true, -7},
      {"0000000000000000000001", true, 1},
      {"2147483647", true, INT_MAX},
      {"2147483648", true, INT_MAX},
      {"-2147483648", true, INT_MIN},
      {"-2147483649", true, INT_MIN},
      // A long of 64 bits cast to int gives 2 here: Windows NT by accident.
      {"4294967298", true, INT_MAX},
      {"-4294967298", true, INT_MIN},
      {"18446744073709551618", true, INT_MAX},
      {thousandNines.c_str(), true, INT_MAX},
      {"", false, 0},
      {"abc", false, 0},
      {"-", false, 0},
      {"+ 1", false, 0},
      {"--1", false, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.text).substr(0, 30));
    int number = 12345;
    EXPECT_EQ(readDecimalNumber(row.text, &number), row.isNumber);
    EXPECT_EQ(number, row.isNumber ? row.number : 12345);
  }
}

// Conditions, option fields and INI values are read by the same rules.
TEST(DecimalNumberTest, EveryReaderOfNumbersAgrees) {
  TempDir dir;
  struct Row {
    const char* text;
    int option;
    int mode;
  };
  const Row rows[] = {
      {"1", 1, kConditionModeEqual},
      {"4", 4, kConditionModeBetween},
      {"4294967297", INT_MAX, kConditionModeAtOrAfter},
      {"-4294967296", INT_MIN, kConditionModeAtOrAfter},
      {"x", -5, kConditionModeAtOrAfter},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(optionValueOf(row.text, -5), row.option);
    EXPECT_EQ(isOptionNumber(row.text), row.option != -5);
    EXPECT_EQ(conditionModeOf(EntryField(row.text)), row.mode);
    dir.write("N.INI", std::string("[S]\r\nk=") + row.text + "\r\n");
    Profile profile(dir.file("N.INI"));
    EXPECT_EQ(profile.getInt("S", "k", -5), row.option);
  }
}

// The program's own records hold digits only, and never wrap.
TEST(DecimalNumberTest, FieldsOfOwnRecordsAreDigitsWithinSixtyFourBits) {
  for (const char* text : {"", " 1", "+1", "-1", "1a", "18446744073709551616"}) {
    std::uint64_t number = 7;
    EXPECT_FALSE(readFieldNumber(text, &number)) << text;
    EXPECT_EQ(number, 7u);
  }
  std::uint64_t number = 0;
  ASSERT_TRUE(readFieldNumber("18446744073709551615", &number));
  EXPECT_EQ(number, UINT64_MAX);
}

}  // namespace
