#include "fileops/file_install.h"

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "config/config_data.h"
#include "config/error.h"
#include "path/path_name.h"
#include "platform/files.h"
#include "platform/restart.h"
#include "platform/system.h"
#include "profile/profile.h"

namespace {

constexpr std::size_t kCopyBlockSize = 4096;

// Every copy of the run passes through this one block. The only nested copy
// (into the temporary directory) starts after the outer copy has closed its
// source and before the outer copy reads a byte, so no two copies share it.
char copyBuffer[kCopyBlockSize];

const char* const kBackupExt = ".OLD";
const char* const kTemporaryTemplate = "TVXXXXXX";
const char* const kDigits32 = "0123456789abcdefghijklmnopqrstuv";

// Closes the file it holds when it goes, so that an Error raised by a nested
// operation does not leave a handle open.
class OpenFile {
 public:
  OpenFile() = default;
  ~OpenFile() { close(); }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  platform::FileHandle* handle() { return &file; }
  platform::FileHandle get() const { return file; }

  platform::Status close() {
    platform::Status status;
    if (file.isOpen()) {
      status = platform::closeFile(file);
      file = platform::FileHandle();
    }
    return status;
  }

 private:
  platform::FileHandle file;
};

// A directory and a name; an empty directory leaves the bare name, which
// stands for the current directory (a leading "\" would name the root).
std::string joinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  return pathJoin(dir, name);
}

// Drive and directory part of a path, and its name and extension.
void splitPath(const std::string& path, std::string* dir, std::string* name) {
  std::string drive, directory, base, ext;
  pathSplit(path, &drive, &directory, &base, &ext);
  *dir = drive + directory;
  *name = base + ext;
}

// The date word carries the year in its high bits and the time word the hour,
// so comparing the words as numbers, date first, orders the stamps in time.
int compareStamps(const platform::DosStamp& a, const platform::DosStamp& b) {
  if (a.date != b.date) return a.date < b.date ? -1 : 1;
  if (a.time != b.time) return a.time < b.time ? -1 : 1;
  return 0;
}

bool isDeferring(const ConfigData* config) { return config != nullptr && config->isDeferred(); }

bool isTracing(const ConfigData* config) { return config != nullptr && config->isDebug(); }

// Only a directory can be listed; a file, in use or not, cannot.
bool isDirectory(const std::string& path) {
  std::vector<platform::DirectoryEntry> entries;
  return platform::listDirectory(path, &entries).ok;
}

// Anything that is not clearly absent counts as there: a name the system
// cannot look at is treated as a file that may be in use.
bool pathIsPresent(const std::string& path) { return !platform::testPath(path).notFound; }

}  // namespace

bool makeTemporaryPath(const std::string& dir, std::string* path) {
  unsigned long pid = platform::getProcessId();
  std::string name = kTemporaryTemplate;
  // The template keeps to 8.3: "TV", candidate, one digit, dot, three digits.
  name[3] = kDigits32[(pid >> 15) & 31];
  name[4] = '.';
  name[5] = kDigits32[(pid >> 10) & 31];
  name[6] = kDigits32[(pid >> 5) & 31];
  name[7] = kDigits32[pid & 31];
  const std::string candidates = "0abcdefghijklmnopqrstuvwxyz";
  for (char candidate : candidates) {
    name[2] = candidate;
    std::string result = joinPath(dir, name);
    if (platform::testPath(result).notFound) {
      *path = result;
      return true;
    }
  }
  return false;
}

int copyFile(const std::string& sourceDir, const std::string& destDir, const char* tempDir,
             const std::string& sourceName, const std::string& destName, ConfigData* config,
             int force, int backup) {
  const std::string sourcePath = joinPath(sourceDir, sourceName);
  const std::string destPath = joinPath(destDir, destName);
  if (isTracing(config)) {
    std::printf("\t\tCopy Src File  : %s\n", sourcePath.c_str());
    std::printf("\t\tCopy Dest File : %s\n", destPath.c_str());
  }

  OpenFile source;
  if (!platform::openFileForReading(sourcePath, source.handle()).ok) {
    throw Error(kErrorSourceOpen, sourcePath, kModuleFileOps, __LINE__);
  }
  platform::DosStamp sourceStamp;
  if (!platform::getFileStamp(source.get(), &sourceStamp).ok) {
    source.close();
    throw Error(kErrorStampRead, sourcePath, kModuleFileOps, __LINE__);
  }

  // A destination that cannot be opened for reading counts as absent, even
  // when a file of that name is there (held without any sharing).
  bool destExisted = false;
  platform::DosStamp destStamp;
  {
    OpenFile dest;
    if (platform::openFileForReading(destPath, dest.handle()).ok) {
      destExisted = true;
      if (!platform::getFileStamp(dest.get(), &destStamp).ok) {
        dest.close();
        source.close();
        throw Error(kErrorStampRead, destPath, kModuleFileOps, __LINE__);
      }
    }
  }
  const int order = destExisted ? compareStamps(destStamp, sourceStamp) : -1;
  const bool goesAhead = !destExisted || force != 0 || order < 0;

  // The backup is made exactly when the copy goes ahead, so a destination
  // that stays in place is never backed up.
  if (backup != 0 && destExisted && goesAhead) {
    moveFileByPath(destPath, pathSetExt(destPath, kBackupExt), config, 1, 0);
  }
  if (!goesAhead) return order == 0 ? kCopySameStamp : kCopyTargetNewer;

  // Only ever created new: a destination still present here (in use, read
  // only, not backed up, or its backup deferred) makes this fail.
  OpenFile dest;
  if (!platform::createNewFile(destPath, dest.handle()).ok) {
    source.close();
    // No restart can put a file where a directory stands: a deferred
    // replacement would fail unseen after the run reported it installed.
    if (tempDir == nullptr || config == nullptr || isDirectory(destPath)) {
      throw Error(kErrorCreate, destPath, kModuleFileOps, __LINE__);
    }
    std::string tempPath;
    if (!makeTemporaryPath(tempDir, &tempPath)) {
      throw Error(kErrorCreate, destPath, kModuleFileOps, __LINE__);
    }
    const std::string tempName = pathFileName(tempPath);
    copyFile(sourceDir, tempDir, nullptr, sourceName, tempName, config, force, 0);
    deferRename(joinPath(tempDir, tempName), destPath.c_str(), config);
  } else {
    for (;;) {
      std::size_t bytesRead = 0;
      if (!platform::readFile(source.get(), copyBuffer, kCopyBlockSize, &bytesRead).ok) {
        dest.close();
        source.close();
        throw Error(kErrorSourceRead, sourcePath, kModuleFileOps, __LINE__);
      }
      if (bytesRead == 0) break;
      std::size_t bytesWritten = 0;
      if (!platform::writeFile(dest.get(), copyBuffer, bytesRead, &bytesWritten).ok ||
          bytesWritten != bytesRead) {
        dest.close();
        source.close();
        throw Error(kErrorWrite, destPath, kModuleFileOps, __LINE__);
      }
    }
    if (!platform::setFileStamp(dest.get(), sourceStamp).ok) {
      dest.close();
      source.close();
      throw Error(kErrorStampSet, destPath, kModuleFileOps, __LINE__);
    }
    source.close();
    // A close that fails may have lost buffered data: that is a failed write,
    // not a finished copy.
    if (!dest.close().ok) throw Error(kErrorWrite, destPath, kModuleFileOps, __LINE__);
  }

  if (!destExisted) return kCopyCreated;
  return order > 0 ? kCopyOverNewer : kCopyOverOlder;
}

int copyFileByPath(const std::string& sourcePath, const std::string& destPath, const char* tempDir,
                   ConfigData* config, int force, int backup) {
  std::string sourceDir, sourceName, destDir, destName;
  splitPath(sourcePath, &sourceDir, &sourceName);
  splitPath(destPath, &destDir, &destName);
  return copyFile(sourceDir, destDir, tempDir, sourceName, destName, config, force, backup);
}

void moveFile(const std::string& sourceDir, const std::string& destDir,
              const std::string& sourceName, const std::string& destName, ConfigData* config,
              int replace, int backup) {
  const std::string sourcePath = joinPath(sourceDir, sourceName);
  const std::string destPath = joinPath(destDir, destName);

  if (backup != 0 && pathIsPresent(destPath)) {
    const std::string backupPath = pathSetExt(destPath, kBackupExt);
    eraseFile(backupPath, config, 0);
    // Once one step of the entry is deferred every later one must be too, or
    // it would run before the steps it depends on.
    bool renamed = !isDeferring(config) && platform::renameFile(destPath, backupPath).ok;
    if (!renamed) {
      if (config == nullptr) throw Error(kErrorMove, destPath, kModuleFileOps, __LINE__);
      deferRename(destPath, backupPath.c_str(), config);
    }
  }

  if (replace != 0) eraseFile(destPath, config, 0);

  bool renamed = !isDeferring(config) && platform::renameFile(sourcePath, destPath).ok;
  if (!renamed) {
    if (config == nullptr) throw Error(kErrorMove, sourcePath, kModuleFileOps, __LINE__);
    deferRename(sourcePath, destPath.c_str(), config);
  }
}

void moveFileByPath(const std::string& sourcePath, const std::string& destPath, ConfigData* config,
                    int replace, int backup) {
  std::string sourceDir, sourceName, destDir, destName;
  splitPath(sourcePath, &sourceDir, &sourceName);
  splitPath(destPath, &destDir, &destName);
  moveFile(sourceDir, destDir, sourceName, destName, config, replace, backup);
}

void eraseFile(const std::string& path, ConfigData* config, int backup) {
  if (!pathIsPresent(path)) return;
  if (backup != 0) {
    moveFileByPath(path, pathSetExt(path, kBackupExt), config, 1, 0);
    if (!pathIsPresent(path)) return;
  }
  bool deleted = !isDeferring(config) && platform::deleteFile(path).ok;
  if (!deleted) {
    if (config == nullptr) throw Error(kErrorErase, path, kModuleFileOps, __LINE__);
    deferRename(path, nullptr, config);
  }
}

void deferRename(const std::string& source, const char* dest, ConfigData* config) {
  switch (config->getPlatform()) {
    case kPlatformWindows95:
      deferViaWininit(source, dest, config);
      break;
    case kPlatformWindowsNt:
      deferViaMoveFileEx(source, dest);
      break;
    default:
      // Win32s has no way to replace a file at its next start.
      break;
  }
  config->setDeferred(1);
}

void deferViaWininit(const std::string& source, const char* dest, ConfigData* config) {
  // "NUL" as the target is how WININIT.INI spells a deletion.
  const char* target = dest != nullptr ? dest : "NUL";
  if (config->isDebug()) {
    std::printf("\t\tLock Src  : %s\n", source.c_str());
    std::printf("\t\tLock Dest : %s\n", target);
  }
  Profile wininit(pathJoin(config->getWindowsDir(), "WININIT.INI"));
  wininit.appendString("rename", target, source);
  wininit.close();
}

void deferViaMoveFileEx(const std::string& source, const char* dest) {
  const unsigned long flags =
      platform::kMoveReplaceExisting | platform::kMoveCopyAllowed | platform::kMoveDelayUntilReboot;
  if (!platform::scheduleMoveAtRestart(source, dest, flags).ok) {
    throw Error(kErrorRestartRefused, source, kModuleFileOps, __LINE__);
  }
}
