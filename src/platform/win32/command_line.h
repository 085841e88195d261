// Builds a Win32 command line from separate arguments, quoted so that the C
// runtime of the started program splits it back into the same arguments.
#ifndef SRC_PLATFORM_WIN32_COMMAND_LINE_H_
#define SRC_PLATFORM_WIN32_COMMAND_LINE_H_

#include <string>
#include <vector>

namespace platform {

// Joins the arguments with single blanks. An argument that is empty or holds a
// blank, tab or quote is put in quotes; a quote inside it, and the
// backslashes right before a quote, are escaped.
std::string buildCommandLine(const std::vector<std::string>& arguments);

}  // namespace platform

#endif  // SRC_PLATFORM_WIN32_COMMAND_LINE_H_
