// The aside name of a file: where saveWholeFile keeps the old content for the
// moment between its two renames on a system that cannot rename over a file,
// and where readWholeFile looks for it when the file itself is missing. Only
// the platform implementations and the tests include it.
#ifndef SRC_PLATFORM_ASIDE_NAME_H_
#define SRC_PLATFORM_ASIDE_NAME_H_

#include <string>

namespace platform {

// The aside name of the file at path, in the same directory: eight base-32
// digits of a 64-bit FNV-1a hash of the file's name with its ASCII letters in
// upper case, and the extension "~SV". An 8.3 name, since the Windows 95
// family keeps files on file systems without long names and its WININIT.EXE
// takes only 8.3 names at a restart. It depends on the name alone, so a later
// run finds what an interrupted one left however the name is spelt; two
// different names share one by a chance of one in 2^40.
std::string asideNameOf(const std::string& path);

}  // namespace platform

#endif  // SRC_PLATFORM_ASIDE_NAME_H_
