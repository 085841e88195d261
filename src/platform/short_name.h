// 8.3 names: the names of at most eight characters and an extension of at
// most three by which the Windows 95 family knows every file before long
// names are available, as WININIT.EXE does at a restart, and the aliases
// Windows makes for the long names. The deferral through WININIT.INI uses
// them to name the files it puts off, the POSIX stand-in to give its long
// names the aliases Windows would, and tvprestart to refuse what WININIT.EXE
// cannot read.
#ifndef SRC_PLATFORM_SHORT_NAME_H_
#define SRC_PLATFORM_SHORT_NAME_H_

#include <set>
#include <string>

namespace platform {

// Whether name is an 8.3 name, without regard to case: one to eight
// characters, then optionally a dot and one to three more, none of them a
// blank, a control character, a second dot or one of "*+,/:;<=>?[\]|.
bool isShortName(const std::string& name);

// Whether every component of path is an 8.3 name; a drive ("C:"), empty
// components (a leading or doubled separator), "." and ".." pass too.
bool isShortPath(const std::string& path);

// What an alias of longName is built from, as Windows builds it: the name in
// upper case (upperNameCase) without its blanks and leading dots, each
// character no 8.3 name may hold as "_"; *stem the first eight characters
// before the last dot (with the dots among them left out), *extension the
// first three after it. False when nothing is left for the stem.
bool getShortNameBasis(const std::string& longName, std::string* stem, std::string* extension);

// The alias "STEM~N.EXT" with the first N from 1 whose alias is not in
// taken (8.3 names in upper case); the stem is cut to leave room for "~N"
// (six characters for N up to 9). Empty when every N up to 999999 is taken.
std::string numberShortName(const std::string& stem, const std::string& extension,
                            const std::set<std::string>& taken);

}  // namespace platform

#endif  // SRC_PLATFORM_SHORT_NAME_H_
