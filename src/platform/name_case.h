// How Windows compares names without regard to case: file names, and
// registry key and value names. Both platform implementations use it, the
// Windows one where it compares names itself (a directory listing), the
// POSIX stand-ins wherever they play Windows.
#ifndef SRC_PLATFORM_NAME_CASE_H_
#define SRC_PLATFORM_NAME_CASE_H_

#include <string>

namespace platform {

// The byte c of a name in the program's code page (1252) in upper case, as
// Windows folds the names it compares without regard to case: file names,
// and registry key and value names. That is the ASCII letters, the accented
// letters from 0xE0 to 0xFE (the division sign 0xF7 is none), and the four
// small letters below 0xA0 (s with caron, oe, z with caron, y with
// diaeresis), which go to 0x8A, 0x8C, 0x8E and 0x9F. Every other byte is its
// own upper case.
char upperNameCase(char c);

// Whether two names are equal under upperNameCase.
bool equalsIgnoringNameCase(const std::string& left, const std::string& right);

// Whether text begins with prefix under upperNameCase.
bool beginsWithIgnoringNameCase(const std::string& text, const std::string& prefix);

}  // namespace platform

#endif  // SRC_PLATFORM_NAME_CASE_H_
