// The aside name of a file: where saveWholeFile keeps the old content for the
// moment between its two renames on a system that cannot rename over a file,
// and where readWholeFile looks for it when the file itself is missing. Only
// the platform implementations include it.
#ifndef SRC_PLATFORM_ASIDE_NAME_H_
#define SRC_PLATFORM_ASIDE_NAME_H_

#include <string>

namespace platform {

// Fixed for each path, so that a later run finds what an interrupted one left;
// a suffix rather than a new extension, so that A.INI and A.DAT never share
// one.
inline std::string asideNameOf(const std::string& path) { return path + ".~SV"; }

}  // namespace platform

#endif  // SRC_PLATFORM_ASIDE_NAME_H_
