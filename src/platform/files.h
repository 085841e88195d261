// File system services: opening, creating, reading and writing files through
// handles, DOS time stamps, renames, deletions, directories and existence
// tests.
//
// Paths are Windows paths. On Win32 they go to the system unchanged. The
// POSIX stand-in takes both "\" and "/" as separators and resolves a name that
// does not exist exactly without regard to case, component by component; a
// name that is created keeps the case it was given.
#ifndef SRC_PLATFORM_FILES_H_
#define SRC_PLATFORM_FILES_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/status.h"

namespace platform {

// An open file. The value is a HANDLE on Win32 and a descriptor on POSIX;
// -1 means no file.
struct FileHandle {
  std::intptr_t value = -1;
  bool isOpen() const { return value != -1; }
};

// A last-write time in local time, packed as MS-DOS keeps it: the time word
// holds seconds / 2 (bits 0-4), minutes (5-10) and hours (11-15); the date
// word holds the day (0-4), month 1-12 (5-8) and years since 1980 (9-15).
struct DosStamp {
  std::uint16_t date = 0;
  std::uint16_t time = 0;
};

// What a cached copy of a file compares to notice a change: the last-write
// time at the system's finest grain and the size in bytes.
struct FileInfo {
  std::uint64_t modifiedTime = 0;
  std::uint64_t size = 0;
};

struct DirectoryEntry {
  std::string name;
  bool isDirectory = false;
  // A symbolic link or reparse point; never followed into.
  bool isLink = false;
  // The 8.3 alias Windows gives a long name, by which the entry can be named
  // too; empty where the name is its own alias.
  std::string shortName;
};

// Opens an existing file for reading, binary. A failure is notFound only when
// nothing at all is at path, as testPath would say.
Status openFileForReading(const std::string& path, FileHandle* file);

// Creates a new file for reading and writing, binary, with normal attributes.
// Fails when any file or directory of that name exists (create only if new).
Status createNewFile(const std::string& path, FileHandle* file);

// Opens the file for writing at its end, creating it when missing; every
// write goes after what the file holds, as a log or journal is kept.
Status openFileForAppending(const std::string& path, FileHandle* file);

// Reads up to `capacity` bytes; `*bytesRead` is 0 at the end of the file.
Status readFile(FileHandle file, void* buffer, std::size_t capacity, std::size_t* bytesRead);

// Reads from the current position to the end of the file, appending to
// *content; fails like readFile. Memory for the text may run out
// (std::bad_alloc); callers that must report that catch it.
Status readToEnd(FileHandle file, std::string* content);

// Writes `size` bytes; `*bytesWritten` tells how many went out.
Status writeFile(FileHandle file, const void* data, std::size_t size, std::size_t* bytesWritten);

// Closes the file; a failure means buffered data may not have reached the
// disk. The handle is closed either way.
Status closeFile(FileHandle file);

// Makes everything written through the file so far reach the disk before it
// returns (fsync; FlushFileBuffers), so that a power cut after a rename that
// puts the file in place cannot leave it empty or torn.
Status flushFile(FileHandle file);

// Starts writing to the disk what was written through the file so far and
// returns without waiting, so that the disk works while more is written and
// the flush that follows has less to wait for. Only a hint: nothing is safe
// on the disk before flushFile returns.
void startFlush(FileHandle file);

// The last-write time of an open file, in local time. A time before 1980 or
// after 2107, which a DOS stamp cannot hold, fails (EOVERFLOW;
// ERROR_ARITHMETIC_OVERFLOW on Win32) and still gives *stamp the nearest
// stamp it holds, 1980-01-01 00:00:00 or 2107-12-31 23:59:58; every other
// failure leaves *stamp as it was.
Status getFileStamp(FileHandle file, DosStamp* stamp);

// Sets the last-write time of a file opened by createNewFile. A stamp that
// names no real date or time (month 13, say) fails and sets nothing.
Status setFileStamp(FileHandle file, DosStamp stamp);

// Size and last-write time of the file at path; notFound when it is absent.
Status getFileInfo(const std::string& path, FileInfo* info);

// Whether anything exists at path: ok when it does, notFound when it does
// not, another failure when the system cannot tell (no access, bad name).
Status testPath(const std::string& path);

// Whether the file at path could be replaced, renamed or deleted now, asked
// without changing it: the file is opened sharing nothing and closed at once.
// ok when it could; access denied (EACCES; ERROR_ACCESS_DENIED) for a
// read-only file; a sharing violation (ERROR_SHARING_VIOLATION) while another
// program has it open, which the POSIX stand-in never reports; notFound when
// nothing is at path.
Status testWritable(const std::string& path);

// Renames a file or directory; fails when `to` exists.
Status renameFile(const std::string& from, const std::string& to);

// Whether the system renames a file over another in one step (replaceFile):
// Windows NT does; the Windows 95 family and Win32s, which lack MoveFileExA,
// do not. The POSIX stand-in answers for the kind of Windows it plays.
bool hasOneStepReplace();

// Renames `from` over `to`, replacing an existing file in one step. Where
// hasOneStepReplace is false it fails with ERROR_CALL_NOT_IMPLEMENTED (ENOSYS
// on POSIX) and touches nothing.
Status replaceFile(const std::string& from, const std::string& to);

// Reads the whole file at path into *content (replacing what it held) as it
// stands; notFound when there is no such file. For files that no
// saveWholeFile writes, such as those a restart reads.
Status readFileAsIs(const std::string& path, std::string* content);

// Reads like readFileAsIs, but a copy that an interrupted saveWholeFile left
// alone under the aside name of the missing file is first put back, unless a
// file of the same name with the extension .BAK is newer than the copy (the
// save had finished, and a restart carried the file out and renamed it, as
// WININIT.INI becomes WININIT.BAK): then the stale copy is removed.
Status readWholeFile(const std::string& path, std::string* content);

// Replaces the whole content of the file at path by `content` so that at
// every moment path holds either its old content or all of the new: the
// content goes to a new file in the same directory, is flushed to disk, and
// then takes the old file's place. Where the system cannot rename over a
// file (hasOneStepReplace is false), the old file is first renamed to its
// aside name and the aside copy removed afterwards. The file keeps its
// attributes (mode, and owner where the system lets it), and a symbolic link
// is written through to its target. A file that may not be written is refused; where no new file
// can be made beside a file that may be written, it is rewritten in place.
// A missing file is created. On failure the old file stays as it was and no
// new file is left behind; a read-only file (on POSIX also one without its
// owner's write permission, since root passes every access test) fails with
// access denied.
Status saveWholeFile(const std::string& path, const std::string& content);

// The steps of saveWholeFile that each system takes its own way; only
// saveWholeFile calls them.
struct NewFileBeside {
  // The file the save replaces: path itself, or on POSIX the file that the
  // symbolic links of path lead to.
  std::string target;
  bool targetExists = false;
  // The closed new file; empty when target was rewritten in place.
  std::string temporary;
};

// Looks at the file a save of path replaces and refuses a directory or a file
// that may not be written; then writes content to a new file under a free
// temporary name in its directory, with the old file's attributes, flushed
// and closed. Where no new file may be made there, an existing target is
// rewritten in place instead. On failure no new file is left behind.
Status writeNewFileBeside(const std::string& path, const std::string& content, NewFileBeside* made);

// Makes the renames and deletions done in the directory of the file at path
// reach the disk where the system has a call for that (POSIX); Windows 95
// and NT 4.0 have none, so on Win32 it does nothing.
void flushDirectoryOf(const std::string& path);

// Deletes a file. As on Windows, a read-only file is not deleted (on POSIX:
// one without its owner's write permission), now or at a restart.
Status deleteFile(const std::string& path);

// Clears the read-only attribute of the file at path (on POSIX, gives its
// owner write permission), so that it can be deleted or replaced.
Status makeWritable(const std::string& path);

// Creates one directory level.
Status makeDirectory(const std::string& path);

// Removes the empty directory at path; fails when it holds anything.
Status removeDirectory(const std::string& path);

// The entries of a directory other than "." and "..", in the order the
// system lists them.
Status listDirectory(const std::string& path, std::vector<DirectoryEntry>* entries);

// The 8.3 form of the existing path, as GetShortPathNameA gives it, by which
// the Windows 95 family names the file before long names are available;
// notFound when nothing is at path. A volume that keeps no aliases gives
// long names back unchanged (isShortPath tells). The POSIX stand-in makes
// the aliases as posix::getShortNames says and finds files by them.
Status getShortPath(const std::string& path, std::string* shortPath);

// Whether `entries`, the listing of `directory`, show that testPath would
// find nothing named `name` there, which spares a look-up per directory when
// a whole tree is searched for one name. False wherever the listing cannot
// tell: for a name the system reads in a way of its own (a path, a pattern, a
// device), a path too long for it, or a directory whose names cannot be
// looked up; the caller then asks testPath.
bool listingRulesOut(const std::string& directory, const std::vector<DirectoryEntry>& entries,
                     const std::string& name);

// Opens a stream with the C library's fopen modes ("r", "w+", "a+", "rb").
// Text modes follow the platform's line-end convention. Returns null on
// failure.
std::FILE* openStream(const std::string& path, const char* mode);

}  // namespace platform

#endif  // SRC_PLATFORM_FILES_H_
