#include "support/expect_error.h"

#include <gtest/gtest.h>

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
