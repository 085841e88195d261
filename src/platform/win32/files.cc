#include "platform/files.h"

#include <windows.h>

#include "platform/win32/win32_status.h"
#include "platform/win32/windows_family.h"

namespace platform {

namespace {

HANDLE toHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file.value); }

FileHandle fromHandle(HANDLE handle) {
  FileHandle file;
  file.value = reinterpret_cast<std::intptr_t>(handle);
  return file;
}

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

}  // namespace

Status openFileForReading(const std::string& path, FileHandle* file) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return lastErrorStatus();
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

Status closeFile(FileHandle file) {
  return CloseHandle(toHandle(file)) ? Status::success() : lastErrorStatus();
}

Status getFileStamp(FileHandle file, DosStamp* stamp) {
  FILETIME written;
  FILETIME local;
  WORD date = 0;
  WORD time = 0;
  if (!GetFileTime(toHandle(file), nullptr, nullptr, &written) ||
      !FileTimeToLocalFileTime(&written, &local) || !FileTimeToDosDateTime(&local, &date, &time)) {
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

Status replaceFile(const std::string& from, const std::string& to) {
  if (isWindowsNt()) {
    return moveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) ? Status::success()
                                                                            : lastErrorStatus();
  }
  // The Windows 95 family does not implement MoveFileExA. There the old file
  // is removed first; a missing one is no obstacle, and the rename reports
  // the rest.
  if (!DeleteFileA(to.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
    return lastErrorStatus();
  }
  return MoveFileA(from.c_str(), to.c_str()) ? Status::success() : lastErrorStatus();
}

Status deleteFile(const std::string& path) {
  return DeleteFileA(path.c_str()) ? Status::success() : lastErrorStatus();
}

Status makeDirectory(const std::string& path) {
  return CreateDirectoryA(path.c_str(), nullptr) ? Status::success() : lastErrorStatus();
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
    entries->push_back(entry);
  } while (FindNextFileA(search, &found));
  DWORD error = GetLastError();
  FindClose(search);
  if (error != ERROR_NO_MORE_FILES) {
    return Status::failure(error, false);
  }
  return Status::success();
}

std::FILE* openStream(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

}  // namespace platform
