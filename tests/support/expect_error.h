// Checks that an action raises the installer's one error type with a given
// number and detail, as a gtest failure when it does not.
#ifndef TESTS_SUPPORT_EXPECT_ERROR_H_
#define TESTS_SUPPORT_EXPECT_ERROR_H_

#include <functional>
#include <optional>
#include <string>

#include "base/error.h"

// Runs action and expects it to raise Error `number` whose message is
// `message`. Returns the error raised, so that a test can look at its module,
// size or line, or nullopt when none was.
std::optional<Error> expectError(int number, const std::string& message,
                                 const std::function<void()>& action);

// Runs action and expects it to end the run early (Error kErrorRunEnded)
// after writing to standard error a text that stderrPattern (a regular
// expression) matches whole.
void expectRunEnded(const std::string& stderrPattern, const std::function<void()>& action);

#endif  // TESTS_SUPPORT_EXPECT_ERROR_H_
