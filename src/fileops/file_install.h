// The file operations that put single files into place: copying with DOS
// time-stamp rules, renaming, erasing, each able to keep the file it replaces
// as its ".OLD" backup, and each falling back on a replacement at the next
// restart of Windows when a file cannot be replaced now (WININIT.INI on the
// Windows 95 family, MoveFileExA on Windows NT).
//
// Failures that cannot be worked around raise Error (numbers 20 to 29) with
// the path concerned, from the module tvpfile. Trace lines go to standard
// output only, never to the log, and only when the configuration's debug flag
// is set.
#ifndef SRC_FILEOPS_FILE_INSTALL_H_
#define SRC_FILEOPS_FILE_INSTALL_H_

#include <string>

class ConfigData;

// Copy results, reported as messages 32 to 36.
constexpr int kCopySameStamp = 2;
constexpr int kCopyTargetNewer = 4;
constexpr int kCopyOverOlder = 8;
constexpr int kCopyOverNewer = 16;
constexpr int kCopyCreated = 32;

// Copies sourceName in sourceDir to destName in destDir. When the destination
// cannot be created now, copies the source into tempDir under a "TV" name and
// defers the replacement (tempDir or config null: Error 21 instead). config
// may be null: no trace and nothing deferred. Returns a copy result.
int copyFile(const std::string& sourceDir, const std::string& destDir, const char* tempDir,
             const std::string& sourceName, const std::string& destName, ConfigData* config,
             int force, int backup);

// copyFile on two full paths.
int copyFileByPath(const std::string& sourcePath, const std::string& destPath, const char* tempDir,
                   ConfigData* config, int force, int backup);

// Renames sourceName in sourceDir to destName in destDir; replace erases an
// existing destination first, backup keeps it as its ".OLD" file first.
// A rename that fails is deferred (config null: Error 26).
void moveFile(const std::string& sourceDir, const std::string& destDir,
              const std::string& sourceName, const std::string& destName, ConfigData* config,
              int replace, int backup);

void moveFileByPath(const std::string& sourcePath, const std::string& destPath, ConfigData* config,
                    int replace, int backup);

// Deletes the file at path, or with backup renames it to its ".OLD" file. A
// missing file is left alone; a deletion that fails is deferred (config null:
// Error 25).
void eraseFile(const std::string& path, ConfigData* config, int backup);

// Puts the rename of source to dest (null dest: the deletion of source) off to
// the next restart by the platform kind, and sets the deferred flag.
void deferRename(const std::string& source, const char* dest, ConfigData* config);

// Appends dest=source ("NUL" for a deletion) to the section "rename" of
// WININIT.INI in the Windows directory, unless the line is there.
void deferViaWininit(const std::string& source, const char* dest, ConfigData* config);

// Registers the step with MoveFileExA and flags 7; a refusal raises Error 29.
void deferViaMoveFileEx(const std::string& source, const char* dest);

// A path in dir, built from the template "TVXXXXXX", that names nothing yet:
// one candidate character (0, then a to z), one base-32 digit of the process
// number, a dot, three more base-32 digits. Returns false when every candidate
// exists.
bool makeTemporaryPath(const std::string& dir, std::string* path);

#endif  // SRC_FILEOPS_FILE_INSTALL_H_
