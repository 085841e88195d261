// How Windows compares two paths: without regard to the case of ASCII
// letters, "/" and "\" alike, repeated separators and "." components
// ignored, ".." going up one level, and the dots and blanks that end a
// component dropped. Used to tell when two names in a profile or on the
// machine mean one file.
#ifndef TOOLS_TVPCHECK_NAME_KEY_H_
#define TOOLS_TVPCHECK_NAME_KEY_H_

#include <string>

// A text that is equal for two paths exactly when Windows takes them for the
// same file.
std::string windowsNameKey(const std::string& path);

#endif  // TOOLS_TVPCHECK_NAME_KEY_H_
