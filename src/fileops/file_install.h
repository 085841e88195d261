// The file operations that put single files into place: copying with DOS
// time-stamp rules, renaming, erasing, each able to keep the file it replaces
// as its ".OLD" backup, and each falling back on a replacement at the next
// restart of Windows when a file cannot be replaced now (WININIT.INI on the
// Windows 95 family, MoveFileExA on Windows NT).
//
// Failures that cannot be worked around raise Error (numbers 20 to 29) with
// the path concerned, or Error 1 with the size when memory runs out, from the
// module tvpfile. Trace lines go to standard output only, never to the log,
// and only when the configuration's debug flag is set.
#ifndef SRC_FILEOPS_FILE_INSTALL_H_
#define SRC_FILEOPS_FILE_INSTALL_H_

#include <string>
#include <vector>

class ConfigData;
class SubstituteClass;

// Copy results, reported as messages 32 to 36.
constexpr int kCopySameStamp = 2;
constexpr int kCopyTargetNewer = 4;
constexpr int kCopyOverOlder = 8;
constexpr int kCopyOverNewer = 16;
constexpr int kCopyCreated = 32;

// Values of the force, replace and backup arguments for callers that fix
// them; any nonzero value counts as set, as it does in a profile's fields.
constexpr int kForce = 1;
constexpr int kReplaceExisting = 1;
constexpr int kNoBackup = 0;
constexpr int kWithBackup = 1;

// Copies sourceName in sourceDir to destName in destDir. The new file is
// written whole beside the destination (flushed, with the source's stamp) and
// only then takes its place, so the destination's name always holds the old
// file or the whole new one; with backup the old one becomes its ".OLD" file,
// a step recorded first in the run journal of config when it has one. A
// destination named X.OLD, which has no backup, is replaced the same way, its
// old file kept aside until the end of the run.
// A destination that is there but cannot be replaced now (in use, or not
// backed up) is replaced at the next restart by a whole copy made in tempDir
// first (tempDir or config null, no such directory, or a directory in its
// place: Error 21, nothing put off). substitutes, when given, fills in the
// placeholders of the copy; memory that runs out for that raises Error 1.
// config may be null: no trace and nothing deferred. Stamps are compared and
// given as DOS stamps: a time before 1980 or after 2107 counts as the nearest
// one a DOS stamp holds, and the file's path is added to clampedStamps when
// that is given. A failure leaves no new file behind. Returns a copy result;
// a file copied onto itself (the same name once "." and ".." are resolved,
// without regard to case) is left as it is, with kCopySameStamp.
int copyFile(const std::string& sourceDir, const std::string& destDir, const char* tempDir,
             const std::string& sourceName, const std::string& destName, ConfigData* config,
             int force, int backup, SubstituteClass* substitutes = nullptr,
             std::vector<std::string>* clampedStamps = nullptr);

// copyFile on two full paths.
int copyFileByPath(const std::string& sourcePath, const std::string& destPath, const char* tempDir,
                   ConfigData* config, int force, int backup,
                   SubstituteClass* substitutes = nullptr,
                   std::vector<std::string>* clampedStamps = nullptr);

// Renames sourceName in sourceDir to destName in destDir; replace erases an
// existing destination first, backup keeps it as its ".OLD" file first.
// A rename that fails is deferred (config null: Error 26). A missing source,
// or a destination no restart could fill (no such directory, a directory in
// its place), raises Error 26 before anything is done or put off. A file
// renamed onto itself, as copyFile compares names, is left as it is.
void moveFile(const std::string& sourceDir, const std::string& destDir,
              const std::string& sourceName, const std::string& destName, ConfigData* config,
              int replace, int backup);

void moveFileByPath(const std::string& sourcePath, const std::string& destPath, ConfigData* config,
                    int replace, int backup);

// Deletes the file at path, or with backup renames it to its ".OLD" file. A
// missing file is left alone; a deletion that fails is deferred (config null:
// Error 25). A directory at path raises Error 25 before anything is done.
void eraseFile(const std::string& path, ConfigData* config, int backup);

// Puts the rename of source to dest (null dest: the deletion of source) off to
// the next restart by the platform kind, and sets the deferred flag.
void deferRename(const std::string& source, const char* dest, ConfigData* config);

// Appends dest=source ("NUL" for a deletion) to the section "rename" of
// WININIT.INI in the Windows directory, unless the line is there.
void deferViaWininit(const std::string& source, const char* dest, ConfigData* config);

// Registers the step with MoveFileExA and flags 7; a refusal raises Error 29.
void deferViaMoveFileEx(const std::string& source, const char* dest);

// Finishes a replacement that a run cut off while the destination's name was
// free: the destination goes to its backup name where it is still there and
// the backup is not, then the new file at stagedPath takes the destination's
// name. True when the step is finished (or nothing of it was left); false
// when the new file could not take the name, which then leaves it in place
// for a later run.
bool finishReplacement(const std::string& stagedPath, const std::string& destPath,
                       const std::string& backupPath);

// Finishes a replacement from the record that earlier versions kept in
// tempDir before the run journal, and removes the record. Does nothing when
// there is no record.
void completeInterruptedReplacement(const std::string& tempDir);

// Before the file at path is rewritten where it stands: copies it whole to a
// name beside it and records that in the run journal of config, for a
// rollback; the end of the run removes the copy. True at once without a
// journal; false when the copy cannot be made or recorded, and the file must
// then not be rewritten.
bool keepCopyForRollback(const std::string& path, ConfigData* config);

// Copies the file at path whole to a name beside it and puts off to the next
// restart the move of that copy back onto path, so that the restart leaves
// path as it is now whatever it carries out before. Error 22 or 23 when the
// copy cannot be made, 29 when the move is refused.
void deferRestoreOf(const std::string& path, ConfigData* config);

// Copies the file at sourcePath whole, with its stamp, into a new file at
// targetPath; raises Error 20 to 24 with the path concerned when it cannot,
// leaving no new file behind. Without flushes, the copy is only started on
// its way to the disk, for a caller that flushes several copies at once.
void copyWholeFile(const std::string& sourcePath, const std::string& targetPath,
                   bool flushes = true);

// A path in dir, built from the template "TVXXXXXX", that names nothing yet:
// one candidate character (0, then a to z), one base-32 digit of the process
// number, a dot, three more base-32 digits. Returns false when every candidate
// exists.
bool makeTemporaryPath(const std::string& dir, std::string* path);

// Whether the name of path has the form makeTemporaryPath gives: a copy the
// run makes on its way, never a name of the machine's.
bool isTemporaryName(const std::string& path);

#endif  // SRC_FILEOPS_FILE_INSTALL_H_
