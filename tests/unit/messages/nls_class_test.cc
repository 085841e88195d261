#include "messages/nls_class.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "support/fault_hooks.h"
#include "support/temp_dir.h"

namespace {

using platform::testing::Call;

class NLSClassTest : public ::testing::Test {
 protected:
  // Loads content as the catalogue and returns load()'s result; the text
  // load() wrote to standard error goes to *diagnostic.
  int load(NLSClass& catalogue, const std::string& content, std::string* diagnostic = nullptr) {
    dir.write("TEST.MSG", content);
    ::testing::internal::CaptureStderr();
    int result = catalogue.load();
    std::string written = ::testing::internal::GetCapturedStderr();
    if (diagnostic != nullptr) *diagnostic = written;
    return result;
  }

  TempDir dir;
  std::string cataloguePath = dir.file("TEST.MSG");
  // Last, so that the hooks go before anything that writes back as it goes.
  FaultHooks hooks;
};

TEST_F(NLSClassTest, CommentLineEndsCatalogue) {
  NLSClass catalogue(cataloguePath);
  std::string diagnostic;
  ASSERT_EQ(load(catalogue, "one\ntwo\nthree\nfour\nfive\n; comment\nsix\n", &diagnostic), 1);
  EXPECT_EQ(diagnostic, "");
  EXPECT_EQ(catalogue.getMessageCount(), 5);
  EXPECT_STREQ(catalogue.getMessage(5), "five");

  for (const char* end : {"  REMARK\r\n", "rem\n", "\t#x\n", "Remember\n"}) {
    ASSERT_EQ(load(catalogue, std::string("one\ntwo\n") + end + "three\n"), 1);
    EXPECT_EQ(catalogue.getMessageCount(), 2) << end;
  }
  // "re" alone is no comment.
  ASSERT_EQ(load(catalogue, "one\nre\n"), 1);
  EXPECT_EQ(catalogue.getMessageCount(), 2);
}

TEST_F(NLSClassTest, BlankLineEndsCatalogueAndUnknownNumbersGiveMessageTwo) {
  NLSClass catalogue(cataloguePath);
  ASSERT_EQ(load(catalogue, "first\nsecond\n \t\r\nthird\n"), 1);
  EXPECT_EQ(catalogue.getMessageCount(), 2);
  EXPECT_STREQ(catalogue.getMessage(1), "first");
  for (int number : {0, -1, 3, 1000}) EXPECT_STREQ(catalogue.getMessage(number), "second");
}

TEST_F(NLSClassTest, CatalogueOlderThanAMessageGivesItsBuiltInText) {
  NLSClass catalogue(cataloguePath);
  std::string older;
  for (int n = 1; n <= 39; ++n) older += "C" + std::to_string(n) + "\n";
  ASSERT_EQ(load(catalogue, older), 1);
  EXPECT_STREQ(catalogue.getMessage(39), "C39");
  EXPECT_STREQ(catalogue.getMessage(41),
               "Not every entry reached its end; the patch is not recorded");
  EXPECT_STREQ(catalogue.getMessage(56), "C2");
  // Even a catalogue without message 2 tells why a run ended.
  ASSERT_EQ(load(catalogue, "only\n"), 1);
  EXPECT_STREQ(catalogue.getMessage(38),
               "Another installation is running for this product; try again when it has ended.");
}

TEST_F(NLSClassTest, LinesAreKeptWholeWithTheirBlanks) {
  NLSClass catalogue(cataloguePath);
  std::string longLine(600, 'm');
  ASSERT_EQ(load(catalogue, " lead\r\ntrail \t\n" + longLine + "\r\nlast without end"), 1);
  EXPECT_EQ(catalogue.getMessageCount(), 4);
  EXPECT_STREQ(catalogue.getMessage(1), " lead");
  EXPECT_STREQ(catalogue.getMessage(2), "trail \t");
  EXPECT_EQ(catalogue.getMessage(3), longLine);
  EXPECT_STREQ(catalogue.getMessage(4), "last without end");
}

TEST_F(NLSClassTest, ShortCatalogueFallsBackToEmptyText) {
  NLSClass catalogue(cataloguePath);
  ASSERT_EQ(load(catalogue, "only\n"), 1);
  EXPECT_STREQ(catalogue.getMessage(2), "");
  ASSERT_EQ(load(catalogue, "; nothing\nhidden\n"), 1);
  EXPECT_EQ(catalogue.getMessageCount(), 0);
  EXPECT_STREQ(catalogue.getMessage(1), "");
}

TEST_F(NLSClassTest, FailedLoadWritesFixedDiagnosticToStderrOnly) {
  std::string missing = dir.file("NONE.MSG");
  NLSClass catalogue(missing);
  catalogue.openLog(dir.file("run.log"), 0);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(catalogue.load(), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "\a\r\nError reading NLS language file: " + missing + "\r\n\r\n");
  EXPECT_EQ(dir.read("run.log"), "");

  NLSClass unreadable(cataloguePath);
  hooks.fail(Call::kReadFile, EIO);
  std::string diagnostic;
  EXPECT_EQ(load(unreadable, "one\ntwo\n", &diagnostic), 0);
  EXPECT_EQ(diagnostic, "\a\r\nError reading NLS language file\r\n\r\n");
  EXPECT_EQ(unreadable.getMessageCount(), 0);
}

TEST_F(NLSClassTest, PrintsReachConsoleAndLogInOrder) {
  NLSClass catalogue(cataloguePath);
  catalogue.openLog(dir.file("run.log"), 0);
  ASSERT_TRUE(catalogue.isLogOpen());

  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(catalogue.print("%s %d\n", "out", 1), 6);
  EXPECT_EQ(catalogue.printTo(stderr, "\n%c%s\n", kBel, "bad"), 6);
  EXPECT_EQ(catalogue.print("%s\n", "end"), 4);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "out 1\nend\n");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "\n\abad\n");
  // The log is complete while the run is still going.
  EXPECT_EQ(dir.read("run.log"), "out 1\n\n\abad\nend\n");
}

TEST_F(NLSClassTest, LogAppendsOrStartsAfresh) {
  dir.write("run.log", "old\n");
  NLSClass catalogue(cataloguePath);
  ::testing::internal::CaptureStdout();
  catalogue.openLog(dir.file("run.log"), 1);
  catalogue.print("a\n");
  EXPECT_EQ(dir.read("run.log"), "old\na\n");
  catalogue.openLog(dir.file("run.log"), 0);
  catalogue.print("b\n");
  EXPECT_EQ(dir.read("run.log"), "b\n");
  catalogue.openLog(dir.file("new.log"), 1);
  catalogue.print("c\n");
  EXPECT_EQ(dir.read("new.log"), "c\n");
  EXPECT_EQ(catalogue.getLogPath(), dir.file("new.log"));

  catalogue.openLog("", 1);
  EXPECT_FALSE(catalogue.isLogOpen());
  EXPECT_EQ(catalogue.getLogPath(), "");
  catalogue.print("d\n");
  EXPECT_EQ(dir.read("new.log"), "c\n");

  catalogue.openLog(dir.file("missing/x.log"), 0);
  EXPECT_FALSE(catalogue.isLogOpen());
  catalogue.print("e\n");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "a\nb\nc\nd\ne\n");
}

}  // namespace
