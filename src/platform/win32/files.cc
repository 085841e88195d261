#include "platform/native_calls.h"

#include "platform/files.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "base/ascii_text.h"
#include "platform/name_case.h"
#include "platform/win32/handle_value.h"
#include "platform/win32/win32_status.h"
#include "platform/win32/windows_family.h"

namespace platform {
namespace native {

namespace {

HANDLE toHandle(FileHandle file) { return toSystemHandle<HANDLE>(file); }
FileHandle fromHandle(HANDLE handle) { return fromSystemHandle<FileHandle>(handle); }

// One call moves at most what a DWORD counts.
DWORD clampToDword(std::size_t size) {
  return size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
}

bool endsWithSeparator(const std::string& path) {
  if (path.empty()) {
    return false;
  }
  char last = path.back();
  return last == '\\' || last == '/' || last == ':';
}

// A name the system looks up as it is written (without regard to the case of
// ASCII letters), so that a listing answers whether it is there: ASCII letters, digits and a few
// marks, no pattern or separator, no trailing dot (dropped by the system), and nothing that could
// name a device (CON, AUX, NUL, PRN, COMn, LPTn, with any extension).
bool isPlainName(const std::string& name) {
  if (name.empty() || name.back() == '.') {
    return false;
  }
  static const char kMarks[] = "._-~!#%&'()@^{}";
  for (char c : name) {
    bool letterOrDigit = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!letterOrDigit && std::memchr(kMarks, c, sizeof kMarks - 1) == nullptr) {
      return false;
    }
  }
  std::string prefix = name.substr(0, 3);
  for (const char* device : {"CON", "AUX", "NUL", "PRN", "COM", "LPT"}) {
    if (equalsNoCase(prefix, device)) {
      return false;
    }
  }
  return true;
}

// The first moment a DOS stamp holds, 1980-01-01 00:00:00, and the first
// past its last, 2108-01-01 00:00:00, in the 100-nanosecond steps from 1601
// of a FILETIME.
constexpr ULONGLONG kFirstDosTicks = 119600064000000000ULL;
constexpr ULONGLONG kPastDosTicks = 159992928000000000ULL;

// The stamp nearest to a time a DOS stamp cannot hold: 1980-01-01 00:00:00
// for an earlier one, 2107-12-31 23:59:58 for a later one.
DosStamp nearestDosStamp(bool earlier) {
  DosStamp stamp;
  stamp.date =
      earlier ? static_cast<WORD>((1 << 5) | 1) : static_cast<WORD>((127 << 9) | (12 << 5) | 31);
  stamp.time = earlier ? 0 : static_cast<WORD>((23 << 11) | (59 << 5) | 29);
  return stamp;
}

}  // namespace

Status openFileForReading(const std::string& path, FileHandle* file) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    Status status = lastErrorStatus();
    // A link to nothing cannot be opened, yet its name is taken.
    if (status.notFound && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
      status.notFound = false;
    }
    return status;
  }
  *file = fromHandle(handle);
  return Status::success();
}

Status openFileForAppending(const std::string& path, FileHandle* file) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return lastErrorStatus();
  // Windows 95 has no append mode; the position set once stays at the end,
  // since only this handle writes.
  if (SetFilePointer(handle, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
      GetLastError() != NO_ERROR) {
    Status status = lastErrorStatus();
    CloseHandle(handle);
    return status;
  }
  *file = fromHandle(handle);
  return Status::success();
}

Status createNewFile(const std::string& path, FileHandle* file) {
  // Shared as the C runtime shares the files it opens: a file being written
  // can still be opened and read by others, as on the POSIX stand-in.
  HANDLE handle =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return lastErrorStatus();
  }
  *file = fromHandle(handle);
  return Status::success();
}

Status readFile(FileHandle file, void* buffer, std::size_t capacity, std::size_t* bytesRead) {
  DWORD count = 0;
  BOOL done = ReadFile(toHandle(file), buffer, clampToDword(capacity), &count, nullptr);
  *bytesRead = count;
  return done ? Status::success() : lastErrorStatus();
}

Status writeFile(FileHandle file, const void* data, std::size_t size, std::size_t* bytesWritten) {
  DWORD count = 0;
  BOOL done = WriteFile(toHandle(file), data, clampToDword(size), &count, nullptr);
  *bytesWritten = count;
  return done ? Status::success() : lastErrorStatus();
}

// Windows 95 and NT 4.0 have no way to start a flush without waiting for it.
void startFlush(FileHandle) {}

Status closeFile(FileHandle file) {
  return CloseHandle(toHandle(file)) ? Status::success() : lastErrorStatus();
}

Status getFileStamp(FileHandle file, DosStamp* stamp) {
  FILETIME written;
  FILETIME local;
  WORD date = 0;
  WORD time = 0;
  if (!GetFileTime(toHandle(file), nullptr, nullptr, &written) ||
      !FileTimeToLocalFileTime(&written, &local)) {
    return lastErrorStatus();
  }
  // FileTimeToDosDateTime refuses a time before 1980, and Wine's takes the
  // year of one after 2107 round modulo 128 (2110 comes back as 1982), so
  // the range is checked on the file time itself.
  ULARGE_INTEGER ticks;
  ticks.LowPart = local.dwLowDateTime;
  ticks.HighPart = local.dwHighDateTime;
  if (ticks.QuadPart < kFirstDosTicks || ticks.QuadPart >= kPastDosTicks) {
    *stamp = nearestDosStamp(ticks.QuadPart < kFirstDosTicks);
    return Status::failure(ERROR_ARITHMETIC_OVERFLOW, false);
  }
  if (!FileTimeToDosDateTime(&local, &date, &time)) {
    return lastErrorStatus();
  }
  stamp->date = date;
  stamp->time = time;
  return Status::success();
}

Status setFileStamp(FileHandle file, DosStamp stamp) {
  FILETIME local;
  FILETIME written;
  if (!DosDateTimeToFileTime(stamp.date, stamp.time, &local) ||
      !LocalFileTimeToFileTime(&local, &written) ||
      !SetFileTime(toHandle(file), nullptr, nullptr, &written)) {
    return lastErrorStatus();
  }
  return Status::success();
}

Status getFileInfo(const std::string& path, FileInfo* info) {
  // FindFirstFileA rather than GetFileAttributesExA, which the Windows 95
  // family gained only with Windows 98. A name with a wildcard would match
  // some other file, so it is refused as GetFileAttributesExA refuses it.
  if (path.find_first_of("*?") != std::string::npos) {
    return Status::failure(ERROR_INVALID_NAME, false);
  }
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return lastErrorStatus();
  }
  FindClose(search);
  info->modifiedTime = (static_cast<std::uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                       found.ftLastWriteTime.dwLowDateTime;
  info->size = (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
  return Status::success();
}

Status testPath(const std::string& path) {
  if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    return lastErrorStatus();
  }
  return Status::success();
}

Status renameFile(const std::string& from, const std::string& to) {
  return MoveFileA(from.c_str(), to.c_str()) ? Status::success() : lastErrorStatus();
}

bool hasOneStepReplace() { return isWindowsNt(); }

Status replaceFile(const std::string& from, const std::string& to) {
  // The Windows 95 family has MoveFileExA as a stub only. Deleting the old
  // file and renaming instead would leave nothing under its name if the
  // rename failed, so the call fails and the caller goes through an aside
  // name. Wine implements the call whatever it plays, hence the version test.
  if (!isWindowsNt()) return Status::failure(ERROR_CALL_NOT_IMPLEMENTED, false);
  // Write-through puts the rename itself on disk before the call returns.
  return moveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? Status::success()
             : lastErrorStatus();
}

Status deleteFile(const std::string& path) {
  return DeleteFileA(path.c_str()) ? Status::success() : lastErrorStatus();
}

Status testWritable(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return lastErrorStatus();
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return Status::success();
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return Status::failure(ERROR_ACCESS_DENIED, false);
  }
  // An open that shares nothing fails while any other handle to the file is
  // open, which is when a rename or a deletion would fail too.
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return lastErrorStatus();
  CloseHandle(handle);
  return Status::success();
}

Status getShortPath(const std::string& path, std::string* shortPath) {
  char buffer[MAX_PATH];
  DWORD length = GetShortPathNameA(path.c_str(), buffer, sizeof buffer);
  if (length == 0) return lastErrorStatus();
  if (length >= sizeof buffer) return Status::failure(ERROR_FILENAME_EXCED_RANGE, false);
  shortPath->assign(buffer, length);
  return Status::success();
}

Status makeWritable(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return lastErrorStatus();
  if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return Status::success();
  return SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)
             ? Status::success()
             : lastErrorStatus();
}

Status makeDirectory(const std::string& path) {
  return CreateDirectoryA(path.c_str(), nullptr) ? Status::success() : lastErrorStatus();
}

Status removeDirectory(const std::string& path) {
  return RemoveDirectoryA(path.c_str()) ? Status::success() : lastErrorStatus();
}

Status listDirectory(const std::string& path, std::vector<DirectoryEntry>* entries) {
  entries->clear();
  std::string pattern = path;
  if (!endsWithSeparator(pattern)) {
    pattern += '\\';
  }
  pattern += "*.*";
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    // The root of a drive has no "." or "..", so an empty one matches
    // nothing; a missing directory gives ERROR_PATH_NOT_FOUND instead.
    if (GetLastError() == ERROR_FILE_NOT_FOUND) {
      return Status::success();
    }
    return lastErrorStatus();
  }
  do {
    std::string name = found.cFileName;
    if (name == "." || name == "..") {
      continue;
    }
    DirectoryEntry entry;
    entry.name = name;
    entry.isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.isLink = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    entry.shortName = found.cAlternateFileName;
    entries->push_back(entry);
  } while (FindNextFileA(search, &found));
  DWORD error = GetLastError();
  FindClose(search);
  if (error != ERROR_NO_MORE_FILES) {
    return Status::failure(error, false);
  }
  return Status::success();
}

}  // namespace native

bool listingRulesOut(const std::string& directory, const std::vector<DirectoryEntry>& entries,
                     const std::string& name) {
  if (!native::isPlainName(name) || directory.size() + 1 + name.size() >= MAX_PATH) {
    return false;
  }
  for (const DirectoryEntry& entry : entries) {
    if (equalsIgnoringNameCase(entry.name, name) || equalsIgnoringNameCase(entry.shortName, name)) {
      return false;
    }
  }
  return true;
}

namespace native {

std::FILE* openStream(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

// Durable writes: flushing and the steps of whole-file saves.

Status flushFile(FileHandle file) {
  return FlushFileBuffers(toHandle(file)) ? Status::success() : lastErrorStatus();
}

namespace {

// Tried names for a save's new file; each one that is taken moves on.
constexpr unsigned kSaveAttempts = 4096;

Status failureOf(DWORD error) { return Status::failure(error, isNotFoundError(error)); }

std::string directoryOf(const std::string& path) {
  std::size_t separator = path.find_last_of("\\/");
  if (separator != std::string::npos) return path.substr(0, separator + 1);
  if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
  return std::string();
}

// Writes all of content, then makes it reach the disk.
bool writeDurably(HANDLE handle, const std::string& content) {
  std::size_t done = 0;
  while (done < content.size()) {
    DWORD count = 0;
    if (!WriteFile(handle, content.data() + done, clampToDword(content.size() - done), &count,
                   nullptr)) {
      return false;
    }
    if (count == 0) {
      SetLastError(ERROR_DISK_FULL);
      return false;
    }
    done += count;
  }
  return FlushFileBuffers(handle) != 0;
}

// Where no new file may be made beside it, the file is rewritten in place,
// as a plain save does; the old content is overwritten before the rest is
// cut off, so blocks the file holds already need no free space.
Status rewriteInPlace(const std::string& path, const std::string& content) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return lastErrorStatus();
  bool done = writeDurably(handle, content) && SetEndOfFile(handle);
  DWORD error = done ? 0 : GetLastError();
  if (!CloseHandle(handle) && done) {
    done = false;
    error = GetLastError();
  }
  return done ? Status::success() : failureOf(error);
}

}  // namespace

Status writeNewFileBeside(const std::string& path, const std::string& content,
                          NewFileBeside* made) {
  made->target = path;
  made->temporary.clear();
  DWORD attributes = GetFileAttributesA(path.c_str());
  bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  made->targetExists = exists;
  if (!exists && !isNotFoundError(GetLastError())) return lastErrorStatus();
  if (exists && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    return failureOf(ERROR_ACCESS_DENIED);
  }
  // The new file carries the old one's attributes.
  DWORD kept =
      exists ? attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE)
             : 0;
  std::string directory = directoryOf(path);
  std::string temporary;
  HANDLE handle = INVALID_HANDLE_VALUE;
  DWORD error = ERROR_FILE_EXISTS;
  for (unsigned attempt = 0; attempt < kSaveAttempts; ++attempt) {
    char name[16];
    std::snprintf(name, sizeof name, "~TVP%04X.TMP", attempt);
    temporary = directory + name;
    handle = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) break;
    error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  if (handle == INVALID_HANDLE_VALUE) {
    if (exists && error == ERROR_ACCESS_DENIED) return rewriteInPlace(path, content);
    return failureOf(error);
  }
  bool done = writeDurably(handle, content);
  error = done ? 0 : GetLastError();
  if (!CloseHandle(handle) && done) {
    done = false;
    error = GetLastError();
  }
  if (!done) {
    DeleteFileA(temporary.c_str());
    return failureOf(error);
  }
  made->temporary = temporary;
  return Status::success();
}

// Windows 95 and NT 4.0 have no call that flushes a directory; NT writes the
// replacing rename through by itself.
void flushDirectoryOf(const std::string&) {}

}  // namespace native
}  // namespace platform
