// Error lines: "\n", BEL, the catalogue's text, the detail, "\n", on standard
// error and in the log alike.
#include <gtest/gtest.h>

#include <string>

#include "messages/message_numbers.h"
#include "messages/nls_class.h"
#include "support/temp_dir.h"

namespace {

class ErrorLineTest : public ::testing::Test {
 protected:
  // Loads the catalogue, with a log open, and returns what f wrote to
  // standard error; the log's content goes to *log.
  template <class F>
  std::string printed(const std::string& catalogue, F f, std::string* log) {
    dir.write("TEST.MSG", catalogue);
    NLSClass messages(dir.file("TEST.MSG"));
    EXPECT_EQ(messages.load(), 1);
    messages.openLog(dir.file("RUN.LOG"), 0);
    ::testing::internal::CaptureStderr();
    f(messages);
    std::string written = ::testing::internal::GetCapturedStderr();
    messages.openLog("", 0);
    *log = dir.read("RUN.LOG").value_or("<no log>");
    return written;
  }

  TempDir dir;
};

TEST_F(ErrorLineTest, FormsTheLineAroundTheMessageAndItsDetail) {
  struct Row {
    const char* name;
    void (*print)(NLSClass&);
    const char* expected;
  };
  const Row rows[] = {
      {"bare", [](NLSClass& m) { m.printError(kMessageBadProfile); }, "\n\aMessage 18\n"},
      {"path", [](NLSClass& m) { m.printError(kMessageNotCopied, ": %s", "C:\\A.DLL"); },
       "\n\aMessage 30: C:\\A.DLL\n"},
      {"key",
       [](NLSClass& m) { m.printError(kMessageKeyNotOpened, ":\n\t%s\\%s", "Software", "(null)"); },
       "\n\aMessage 19:\n\tSoftware\\(null)\n"},
      {"second message",
       [](NLSClass& m) {
         m.printError(kMessageNoConditionMet, "\n%s", m.getMessage(kMessageNotApplicable));
       },
       "\n\aMessage 9\nMessage 10\n"},
  };
  std::string catalogue;
  for (int n = 1; n <= kMessageRebootProgramFailed; ++n) {
    catalogue += "Message " + std::to_string(n) + "\r\n";
  }
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string log;
    EXPECT_EQ(printed(catalogue, row.print, &log), row.expected);
    EXPECT_EQ(log, row.expected);
  }
}

// A catalogue's text is data: a % in it is printed, never read as a format.
TEST_F(ErrorLineTest, MessageTextIsNotAFormat) {
  std::string log;
  std::string written = printed(
      "one\ntwo %s %n\n", [](NLSClass& m) { m.printError(kMessageUnknown, ": %s", "detail %d"); },
      &log);
  EXPECT_EQ(written, "\n\atwo %s %n: detail %d\n");
  EXPECT_EQ(log, written);
}

}  // namespace
