// Helpers for Windows path names: splitting a path into drive, directory,
// name and extension, and rebuilding it with some parts replaced. Both "\"
// and "/" separate; the separator the helpers insert is always "\". Paths and
// parts of any length are held whole.
#ifndef SRC_PATH_PATH_NAME_H_
#define SRC_PATH_PATH_NAME_H_

#include <string>

// Splits path: drive ("C:" or empty), directory (up to and including the last
// separator), name, and extension (from the last dot of the final component,
// dot included). Any output may be null.
void pathSplit(const std::string& path, std::string* drive, std::string* dir, std::string* name,
               std::string* ext);

// Rebuilds path from the given parts, taking the path's own part for each
// null one: drive, directory, "\" unless the text so far ends in "\" or is
// empty, name, extension. Given parts are used as they are (a drive with its
// colon, an extension with its dot).
std::string pathMerge(const std::string& path, const char* drive, const char* dir, const char* name,
                      const char* ext);

// pathMerge with the name and extension of fromPath.
std::string pathMergeFileName(const std::string& path, const char* drive, const char* dir,
                              const std::string& fromPath);

// The path with its extension replaced or added (ext includes its dot).
std::string pathSetExt(const std::string& path, const std::string& ext);

// The path's drive and directory with the name and extension of fromPath.
std::string pathSetFileName(const std::string& path, const std::string& fromPath);

// The drive and directory, ending in "\"; ".\" for a bare name.
std::string pathDriveDir(const std::string& path);

// The name and extension.
std::string pathFileName(const std::string& path);

// dir, then "\" unless dir already ends in one, then name.
std::string pathJoin(const std::string& dir, const std::string& name);

// A text that is equal for two paths exactly when Windows takes them for the
// same file: "\\" and "/" alike, empty and "." levels dropped, ".." taking
// away the level before it (never the drive or the root), the dots and
// blanks that end a name dropped, and letters folded as Windows folds file
// names. For comparing only.
std::string pathNameKey(const std::string& path);

#endif  // SRC_PATH_PATH_NAME_H_
