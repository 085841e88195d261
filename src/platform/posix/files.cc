#include "platform/native_calls.h"

#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>

#include "base/ascii_text.h"
#include "platform/posix/posix_support.h"
#include "platform/short_name.h"
#include "platform/system.h"

namespace platform {
namespace native {

namespace {

using testing::Call;

// The fault a test hook chooses for a call on a path; 0 lets it go ahead.
int pathFault(Call call, const std::string& path) {
  return posix::faultHookInstalled ? posix::consultFaultHook(call, path) : 0;
}

// A rename concerns two files, and either may be the one a test holds in
// use, so the hook is asked about the source and then the target.
int pairFault(Call call, const std::string& from, const std::string& to) {
  if (!posix::faultHookInstalled) return 0;
  if (int fault = posix::consultFaultHook(call, from)) return fault;
  return posix::consultFaultHook(call, to);
}

int handleFault(Call call, FileHandle file) {
  if (!posix::faultHookInstalled) return 0;
  return posix::consultFaultHook(call, posix::getHandlePath(static_cast<int>(file.value)));
}

Status lastError() { return posix::failureFromErrno(errno); }

// Opens `resolved`, the Linux path `path` names.
Status openResolved(const std::string& resolved, const std::string& path, int flags,
                    FileHandle* file) {
  int descriptor;
  do {
    descriptor = open(resolved.c_str(), flags | O_CLOEXEC, 0666);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) return lastError();
  file->value = descriptor;
  posix::rememberHandlePath(descriptor, path);
  return Status::success();
}

Status openDescriptor(const std::string& path, int flags, FileHandle* file) {
  return openResolved(posix::resolvePath(path), path, flags, file);
}

// Windows lists a directory sorted by upper-cased name; sorting the same way
// keeps listings alike on both builds and independent of readdir's order.
bool listsBefore(const DirectoryEntry& left, const DirectoryEntry& right) {
  std::size_t common = std::min(left.name.size(), right.name.size());
  for (std::size_t i = 0; i < common; ++i) {
    char a = upperNameCase(left.name[i]);
    char b = upperNameCase(right.name[i]);
    if (a != b) return static_cast<unsigned char>(a) < static_cast<unsigned char>(b);
  }
  if (left.name.size() != right.name.size()) return left.name.size() < right.name.size();
  return left.name < right.name;
}

// Seconds east of UTC in force now. Windows turns file times into local
// time and back with the offset of the moment (FileTimeToLocalFileTime uses
// the current bias), not with the offset in force at the file's own time, so
// two files either side of a change to or from daylight-saving time compare
// as their UTC times do.
bool currentUtcOffset(long* offset) {
  std::time_t now = std::time(nullptr);
  struct tm local;
  if (localtime_r(&now, &local) == nullptr) return false;
  *offset = local.tm_gmtoff;
  return true;
}

// The first second a DOS stamp holds, 1980-01-01 00:00:00, and the first
// past its last, 2108-01-01 00:00:00, as local seconds from 1970.
constexpr std::time_t kFirstDosSecond = 315532800;
constexpr std::time_t kPastDosSecond = static_cast<std::time_t>(4354819200LL);

// The stamp nearest to a time a DOS stamp cannot hold: 1980-01-01 00:00:00
// for an earlier one, 2107-12-31 23:59:58 for a later one.
DosStamp nearestDosStamp(bool earlier) {
  DosStamp stamp;
  stamp.date = earlier ? static_cast<std::uint16_t>((1 << 5) | 1)
                       : static_cast<std::uint16_t>((127 << 9) | (12 << 5) | 31);
  stamp.time = earlier ? 0 : static_cast<std::uint16_t>((23 << 11) | (59 << 5) | 29);
  return stamp;
}

// Tried names for a save's new file; each one that is taken moves on, so
// this only bounds a directory littered with leftovers.
constexpr unsigned kTemporaryAttempts = 4096;
// As many links as Linux itself follows in one path.
constexpr int kLinkDepth = 40;

// The file that path finally names after every symbolic link along the way
// (path itself when it is no link). A link to nothing gives the name it
// points at, which a save then creates, as writing through the link would.
Status followLinks(std::string path, std::string* target) {
  for (int depth = 0;; ++depth) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) break;
    if (depth == kLinkDepth) return posix::failureFromErrno(ELOOP);
    std::string link(static_cast<std::size_t>(info.st_size) + 1, '\0');
    ssize_t length = readlink(path.c_str(), &link[0], link.size());
    if (length < 0) return lastError();
    // Changed since lstat: look again.
    if (static_cast<std::size_t>(length) >= link.size()) continue;
    link.resize(static_cast<std::size_t>(length));
    if (link.empty() || link[0] != '/') {
      std::size_t slash = path.find_last_of('/');
      link = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + link;
    }
    path = link;
  }
  *target = path;
  return Status::success();
}

// Writes the whole content and makes it reach the disk.
Status writeDurably(FileHandle file, const std::string& content) {
  std::size_t written = 0;
  Status status = native::writeFile(file, content.data(), content.size(), &written);
  return status.ok ? native::flushFile(file) : status;
}

// Rewrites an existing file where no new file can be made beside it, as a
// plain save that opens the file for writing does. The new content goes over
// the old from the start and the rest is cut off afterwards: blocks the file
// already holds need no free space, so a nearly full disk cannot leave it
// empty. The hook is asked as for a stream opened with "w", which is what
// this stands for.
Status rewriteInPlace(const std::string& target, const std::string& content) {
  if (int fault = pathFault(Call::kOpenStream, target)) return posix::failureFromErrno(fault);
  FileHandle file;
  Status status = openDescriptor(target, O_WRONLY, &file);
  if (!status.ok) return status;
  std::size_t written = 0;
  status = native::writeFile(file, content.data(), content.size(), &written);
  if (status.ok &&
      ftruncate(static_cast<int>(file.value), static_cast<off_t>(content.size())) != 0) {
    status = lastError();
  }
  if (status.ok) status = native::flushFile(file);
  Status closed = native::closeFile(file);
  return status.ok ? closed : status;
}

// Follows the links of the file a save replaces to *target and looks at it:
// *exists and *old say what is there. Fails for a directory and for a file
// that may not be written.
Status lookAtSaveTarget(const std::string& path, std::string* target, struct stat* old,
                        bool* exists) {
  Status status = followLinks(posix::resolvePath(path), target);
  if (!status.ok) return status;
  *exists = stat(target->c_str(), old) == 0;
  if (!*exists && errno != ENOENT && errno != ENOTDIR) return lastError();
  if (!*exists) return Status::success();
  if (S_ISDIR(old->st_mode)) return posix::failureFromErrno(EISDIR);
  // Windows refuses to write a read-only file. Root passes every access
  // test, so a file without its owner's write permission, the closest
  // Linux has to the read-only attribute, is refused as well.
  if ((old->st_mode & S_IWUSR) == 0) return posix::failureFromErrno(EACCES);
  if (access(target->c_str(), W_OK) != 0) return lastError();
  return Status::success();
}

// Creates a new file under the first free temporary name in directory
// (empty, or ending in "/").
Status createTemporaryIn(const std::string& directory, FileHandle* file, std::string* temporary) {
  Status created = posix::failureFromErrno(EEXIST);
  for (unsigned attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
    char name[16];
    std::snprintf(name, sizeof name, "~TVP%04X.TMP", attempt);
    *temporary = directory + name;
    created = native::createNewFile(*temporary, file);
    // Only a name that is taken is worth another try; anything else (no
    // such directory, no access) fails the same way for every name.
    if (created.ok || created.systemError != EEXIST) break;
  }
  return created;
}

}  // namespace

Status openFileForReading(const std::string& path, FileHandle* file) {
  if (int fault = pathFault(Call::kOpenFileForReading, path)) return posix::failureFromErrno(fault);
  std::string resolved = posix::resolvePath(path);
  Status status = openResolved(resolved, path, O_RDONLY, file);
  if (!status.ok) {
    // A link to nothing cannot be opened, yet its name is taken.
    struct stat info;
    if (status.notFound && lstat(resolved.c_str(), &info) == 0) status.notFound = false;
    return status;
  }
  // Linux opens a directory for reading; Windows refuses to open one as a
  // file, and callers rely on that to tell files from directories.
  struct stat info;
  if (fstat(static_cast<int>(file->value), &info) == 0 && S_ISDIR(info.st_mode)) {
    posix::forgetHandlePath(static_cast<int>(file->value));
    close(static_cast<int>(file->value));
    file->value = -1;
    return posix::failureFromErrno(EISDIR);
  }
  return status;
}

Status openFileForAppending(const std::string& path, FileHandle* file) {
  if (int fault = pathFault(Call::kOpenFileForAppending, path)) {
    return posix::failureFromErrno(fault);
  }
  return openDescriptor(path, O_WRONLY | O_CREAT | O_APPEND, file);
}

Status createNewFile(const std::string& path, FileHandle* file) {
  if (int fault = pathFault(Call::kCreateNewFile, path)) return posix::failureFromErrno(fault);
  return openDescriptor(path, O_RDWR | O_CREAT | O_EXCL, file);
}

Status readFile(FileHandle file, void* buffer, std::size_t capacity, std::size_t* bytesRead) {
  *bytesRead = 0;
  if (int fault = handleFault(Call::kReadFile, file)) return posix::failureFromErrno(fault);
  ssize_t count;
  do {
    count = read(static_cast<int>(file.value), buffer, capacity);
  } while (count < 0 && errno == EINTR);
  if (count < 0) return lastError();
  *bytesRead = static_cast<std::size_t>(count);
  return Status::success();
}

Status writeFile(FileHandle file, const void* data, std::size_t size, std::size_t* bytesWritten) {
  *bytesWritten = 0;
  if (int fault = handleFault(Call::kWriteFile, file)) return posix::failureFromErrno(fault);
  const char* next = static_cast<const char*>(data);
  // write may take only part of the data (a full disk, a signal); Windows
  // writes all or fails, so keep going until it is all out or an error says
  // why not.
  while (*bytesWritten < size) {
    ssize_t count = write(static_cast<int>(file.value), next, size - *bytesWritten);
    if (count < 0) {
      if (errno == EINTR) continue;
      return lastError();
    }
    if (count == 0) return posix::failureFromErrno(ENOSPC);
    *bytesWritten += static_cast<std::size_t>(count);
    next += count;
  }
  return Status::success();
}

void startFlush(FileHandle file) {
  // Only a hint: a failure here shows again in the flush that follows.
  sync_file_range(static_cast<int>(file.value), 0, 0, SYNC_FILE_RANGE_WRITE);
}

Status closeFile(FileHandle file) {
  int descriptor = static_cast<int>(file.value);
  int fault = handleFault(Call::kCloseFile, file);
  posix::forgetHandlePath(descriptor);
  // The descriptor is gone after close even when it reports an error, so it
  // is never closed twice; the hook's fault is reported after the close.
  int result = close(descriptor);
  int error = errno;
  if (fault) return posix::failureFromErrno(fault);
  if (result != 0) return posix::failureFromErrno(error);
  return Status::success();
}

Status flushFile(FileHandle file) {
  if (int fault = handleFault(Call::kFlushFile, file)) return posix::failureFromErrno(fault);
  if (fsync(static_cast<int>(file.value)) != 0) return lastError();
  return Status::success();
}

Status getFileStamp(FileHandle file, DosStamp* stamp) {
  if (int fault = handleFault(Call::kGetFileStamp, file)) return posix::failureFromErrno(fault);
  struct stat info;
  if (fstat(static_cast<int>(file.value), &info) != 0) return lastError();
  long offset = 0;
  if (!currentUtcOffset(&offset)) return lastError();
  std::time_t seconds = info.st_mtim.tv_sec + offset;
  // A DOS date counts seven bits of years from 1980.
  if (seconds < kFirstDosSecond || seconds >= kPastDosSecond) {
    *stamp = nearestDosStamp(seconds < kFirstDosSecond);
    return posix::failureFromErrno(EOVERFLOW);
  }
  struct tm local;
  if (gmtime_r(&seconds, &local) == nullptr) return lastError();
  stamp->date = static_cast<std::uint16_t>(((local.tm_year - 80) << 9) | ((local.tm_mon + 1) << 5) |
                                           local.tm_mday);
  stamp->time =
      static_cast<std::uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
  return Status::success();
}

Status setFileStamp(FileHandle file, DosStamp stamp) {
  if (int fault = handleFault(Call::kSetFileStamp, file)) return posix::failureFromErrno(fault);
  struct tm local = {};
  local.tm_year = ((stamp.date >> 9) & 0x7f) + 80;
  local.tm_mon = ((stamp.date >> 5) & 0x0f) - 1;
  local.tm_mday = stamp.date & 0x1f;
  local.tm_hour = (stamp.time >> 11) & 0x1f;
  local.tm_min = (stamp.time >> 5) & 0x3f;
  local.tm_sec = (stamp.time & 0x1f) * 2;
  // Windows refuses a stamp that names no real date or time; timegm would
  // quietly roll it over into the next month or day instead.
  if (local.tm_mon < 0 || local.tm_mon > 11 || local.tm_mday < 1 || local.tm_hour > 23 ||
      local.tm_min > 59 || local.tm_sec > 59) {
    return posix::failureFromErrno(EINVAL);
  }
  long offset = 0;
  if (!currentUtcOffset(&offset)) return lastError();
  std::time_t seconds = timegm(&local);
  if (seconds == static_cast<std::time_t>(-1)) return posix::failureFromErrno(EINVAL);
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = seconds - offset;
  times[1].tv_nsec = 0;
  if (futimens(static_cast<int>(file.value), times) != 0) return lastError();
  return Status::success();
}

Status getFileInfo(const std::string& path, FileInfo* info) {
  if (int fault = pathFault(Call::kGetFileInfo, path)) return posix::failureFromErrno(fault);
  struct stat status;
  if (stat(posix::resolvePath(path).c_str(), &status) != 0) return lastError();
  info->modifiedTime = static_cast<std::uint64_t>(status.st_mtim.tv_sec) * 1000000000u +
                       static_cast<std::uint64_t>(status.st_mtim.tv_nsec);
  info->size = static_cast<std::uint64_t>(status.st_size);
  return Status::success();
}

Status testPath(const std::string& path) {
  if (int fault = pathFault(Call::kTestPath, path)) return posix::failureFromErrno(fault);
  struct stat info;
  if (lstat(posix::resolvePath(path).c_str(), &info) != 0) return lastError();
  return Status::success();
}

Status renameFile(const std::string& from, const std::string& to) {
  if (int fault = pairFault(Call::kRenameFile, from, to)) return posix::failureFromErrno(fault);
  std::string source = posix::resolvePath(from);
  std::string target = posix::resolvePath(to);
  if (target == source) {
    // The target names the source itself in another case: Windows renames
    // the file to the new spelling rather than calling the target taken.
    std::string literal = posix::toSlashes(to);
    std::size_t slash = literal.find_last_of('/');
    std::string name = slash == std::string::npos ? literal : literal.substr(slash + 1);
    std::size_t sourceSlash = source.find_last_of('/');
    target =
        (sourceSlash == std::string::npos ? std::string() : source.substr(0, sourceSlash + 1)) +
        name;
    if (target == source) return Status::success();
  }
  if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
    return Status::success();
  }
  if (errno != EINVAL && errno != ENOSYS) return lastError();
  // A file system without the no-replace rename: a hard link fails on an
  // existing target by itself, which leaves no window for a race.
  struct stat info;
  if (lstat(source.c_str(), &info) != 0) return lastError();
  if (!S_ISDIR(info.st_mode)) {
    if (link(source.c_str(), target.c_str()) != 0) return lastError();
    if (unlink(source.c_str()) != 0) {
      Status status = lastError();
      unlink(target.c_str());
      return status;
    }
    return Status::success();
  }
  if (lstat(target.c_str(), &info) == 0) return posix::failureFromErrno(EEXIST);
  if (rename(source.c_str(), target.c_str()) != 0) return lastError();
  return Status::success();
}

bool hasOneStepReplace() {
  // Bit 31 of the version number marks the Windows 95 family and Win32s.
  return (getVersionNumber() & 0x80000000ul) == 0;
}

Status replaceFile(const std::string& from, const std::string& to) {
  // The stand-in of a system without MoveFileExA renames over nothing, so
  // that the Linux build takes the path the Windows program takes there.
  if (!hasOneStepReplace()) return posix::failureFromErrno(ENOSYS);
  if (int fault = pairFault(Call::kReplaceFile, from, to)) return posix::failureFromErrno(fault);
  if (rename(posix::resolvePath(from).c_str(), posix::resolvePath(to).c_str()) != 0) {
    return lastError();
  }
  return Status::success();
}

Status writeNewFileBeside(const std::string& path, const std::string& content,
                          NewFileBeside* made) {
  // The look at the old file is the save's first step, asked like the look
  // at a file's size and time.
  if (int fault = pathFault(Call::kGetFileInfo, path)) return posix::failureFromErrno(fault);
  struct stat old;
  made->temporary.clear();
  made->targetExists = false;
  Status status = lookAtSaveTarget(path, &made->target, &old, &made->targetExists);
  if (!status.ok) return status;

  std::size_t slash = made->target.find_last_of('/');
  std::string directory =
      slash == std::string::npos ? std::string() : made->target.substr(0, slash + 1);
  FileHandle file;
  std::string temporary;
  Status created = createTemporaryIn(directory, &file, &temporary);
  if (!created.ok) {
    if (made->targetExists && (created.systemError == EACCES || created.systemError == EPERM)) {
      return rewriteInPlace(made->target, content);
    }
    return created;
  }

  if (made->targetExists) {
    // Only root may give a file away; anyone else's save leaves the saver as
    // owner, as a copy would, and that is no reason to fail. The owner goes
    // first, since changing it clears set-id bits that the mode then restores.
    int descriptor = static_cast<int>(file.value);
    if (fchown(descriptor, old.st_uid, old.st_gid) != 0 && errno != EPERM) status = lastError();
    if (status.ok && fchmod(descriptor, old.st_mode & 07777) != 0) status = lastError();
  }
  if (status.ok) status = writeDurably(file, content);
  Status closed = native::closeFile(file);
  if (status.ok) status = closed;
  if (!status.ok) {
    deleteFile(temporary);
    return status;
  }
  made->temporary = temporary;
  return Status::success();
}

void flushDirectoryOf(const std::string& path) {
  // A file system that cannot flush a directory (or fails to) has still
  // made the renames; only a power cut could undo them.
  posix::syncParentDirectory(posix::resolvePath(path));
}

Status deleteFile(const std::string& path) {
  if (int fault = pathFault(Call::kDeleteFile, path)) return posix::failureFromErrno(fault);
  const std::string resolved = posix::resolvePath(path);
  // Windows deletes no read-only file; Linux would, its directory being
  // writable.
  struct stat info;
  if (lstat(resolved.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
      (info.st_mode & S_IWUSR) == 0) {
    return posix::failureFromErrno(EACCES);
  }
  if (unlink(resolved.c_str()) != 0) return lastError();
  return Status::success();
}

Status testWritable(const std::string& path) {
  const std::string resolved = posix::resolvePath(path);
  struct stat info;
  if (lstat(resolved.c_str(), &info) != 0) return lastError();
  // No program holds a file of the stand-in in use; a file without its
  // owner's write permission plays a read-only one, as deleteFile has it.
  if (S_ISREG(info.st_mode) && (info.st_mode & S_IWUSR) == 0) {
    return posix::failureFromErrno(EACCES);
  }
  return Status::success();
}

Status getShortPath(const std::string& path, std::string* shortPath) {
  Status found = testPath(path);
  if (!found.ok) return found;
  // Each long name on the way becomes its alias; a name that is its own
  // alias stays as written, in its case, as GetShortPathNameA leaves it.
  std::string shortened;
  for (std::size_t start = 0;;) {
    std::size_t end = path.find_first_of("\\/", start);
    if (end == std::string::npos) end = path.size();
    std::string component = path.substr(start, end - start);
    if (!component.empty() && component != "." && component != ".." && !isShortName(component)) {
      const std::string resolved = posix::resolvePath(path.substr(0, end));
      const std::size_t slash = resolved.find_last_of('/');
      component = slash == std::string::npos ? posix::getShortNameIn(std::string(), resolved)
                                             : posix::getShortNameIn(resolved.substr(0, slash + 1),
                                                                     resolved.substr(slash + 1));
      if (component.empty()) return posix::failureFromErrno(EINVAL);
    }
    shortened += component;
    if (end == path.size()) break;
    shortened += path[end];
    start = end + 1;
  }
  *shortPath = shortened;
  return Status::success();
}

Status makeWritable(const std::string& path) {
  if (int fault = pathFault(Call::kMakeWritable, path)) return posix::failureFromErrno(fault);
  const std::string resolved = posix::resolvePath(path);
  struct stat info;
  if (stat(resolved.c_str(), &info) != 0) return lastError();
  if ((info.st_mode & S_IWUSR) != 0) return Status::success();
  if (chmod(resolved.c_str(), info.st_mode | S_IWUSR) != 0) return lastError();
  return Status::success();
}

Status makeDirectory(const std::string& path) {
  if (int fault = pathFault(Call::kMakeDirectory, path)) return posix::failureFromErrno(fault);
  if (mkdir(posix::resolvePath(path).c_str(), 0777) != 0) return lastError();
  return Status::success();
}

Status removeDirectory(const std::string& path) {
  if (int fault = pathFault(Call::kRemoveDirectory, path)) return posix::failureFromErrno(fault);
  if (rmdir(posix::resolvePath(path).c_str()) != 0) return lastError();
  return Status::success();
}

Status listDirectory(const std::string& path, std::vector<DirectoryEntry>* entries) {
  entries->clear();
  if (int fault = pathFault(Call::kListDirectory, path)) return posix::failureFromErrno(fault);
  // Most directories are named as they are spelled on disk, so only one
  // that cannot be opened as written pays for the case-blind look-up.
  std::string directory = posix::toSlashes(path);
  DIR* stream = opendir(directory.c_str());
  if (stream == nullptr && (errno == ENOENT || errno == ENOTDIR)) {
    directory = posix::resolvePath(path);
    stream = opendir(directory.c_str());
  }
  if (stream == nullptr) return lastError();
  errno = 0;
  while (struct dirent* entry = readdir(stream)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    DirectoryEntry listed;
    listed.name = name;
    unsigned char type = entry->d_type;
    if (type == DT_UNKNOWN) {
      // Some file systems leave the type to a separate look; lstat so that a
      // link is reported as itself, never as what it points to.
      struct stat info;
      if (fstatat(dirfd(stream), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(info.st_mode)) type = DT_DIR;
        if (S_ISLNK(info.st_mode)) type = DT_LNK;
      }
    }
    listed.isDirectory = type == DT_DIR;
    listed.isLink = type == DT_LNK;
    if (listed.isLink) {
      // Windows lists a junction or directory link as a directory that is
      // also a reparse point; report the link's target kind the same way so
      // that callers must look at isLink to avoid following it.
      struct stat target;
      listed.isDirectory =
          fstatat(dirfd(stream), entry->d_name, &target, 0) == 0 && S_ISDIR(target.st_mode);
    }
    entries->push_back(listed);
    errno = 0;
  }
  int error = errno;
  closedir(stream);
  if (error != 0) {
    entries->clear();
    return posix::failureFromErrno(error);
  }
  std::sort(entries->begin(), entries->end(), listsBefore);
  std::vector<std::string> names;
  for (const DirectoryEntry& entry : *entries) names.push_back(entry.name);
  std::vector<std::string> aliases = posix::getShortNames(names);
  for (std::size_t i = 0; i < aliases.size(); ++i) (*entries)[i].shortName = aliases[i];
  return Status::success();
}

}  // namespace native

bool listingRulesOut(const std::string& directory, const std::vector<DirectoryEntry>& entries,
                     const std::string& name) {
  // A name with a separator is a path, and one the system cannot take as a
  // name fails with an error of its own rather than "not found".
  if (name.empty() || name == "." || name == ".." || name.size() > NAME_MAX ||
      name.find_first_of("/\\") != std::string::npos || directory.size() >= PATH_MAX / 2) {
    return false;
  }
  for (const DirectoryEntry& entry : entries) {
    if (equalsIgnoringNameCase(entry.name, name) || equalsIgnoringNameCase(entry.shortName, name)) {
      return false;
    }
  }
  // Without search permission a name cannot be looked up even where the
  // directory can be read.
  return access(posix::toSlashes(directory).c_str(), X_OK) == 0;
}

namespace native {

std::FILE* openStream(const std::string& path, const char* mode) {
  if (int fault = pathFault(Call::kOpenStream, path)) {
    errno = fault;
    return nullptr;
  }
  return std::fopen(posix::resolvePath(path).c_str(), mode);
}

}  // namespace native
}  // namespace platform
