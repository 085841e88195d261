#include "support/expect_error.h"

#include <gtest/gtest.h>

#include <regex>

std::optional<Error> expectError(int number, const std::string& message,
                                 const std::function<void()>& action) {
  try {
    action();
  } catch (const Error& error) {
    EXPECT_EQ(number, error.getErrorNumber());
    EXPECT_EQ(message, error.getErrorMessage());
    return error;
  }
  ADD_FAILURE() << "no error " << number << " for " << message;
  return std::nullopt;
}

void expectRunEnded(const std::string& stderrPattern, const std::function<void()>& action) {
  ::testing::internal::CaptureStderr();
  bool ended = false;
  try {
    action();
  } catch (const Error& error) {
    ended = error.getErrorNumber() == kErrorRunEnded;
    EXPECT_TRUE(ended) << "error " << error.getErrorNumber() << ": " << error.getErrorMessage();
  }
  const std::string written = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(ended) << "the run went on";
  EXPECT_TRUE(std::regex_match(written, std::regex(stderrPattern))) << written;
}
