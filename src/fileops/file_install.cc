#include "fileops/file_install.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "base/ascii_text.h"
#include "base/error.h"
#include "base/fnv_hash.h"
#include "base/line_reader.h"
#include "config/config_data.h"
#include "fileops/run_journal.h"
#include "fileops/substitute_class.h"
#include "path/path_name.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/name_case.h"
#include "platform/restart.h"
#include "platform/short_name.h"
#include "platform/system.h"
#include "profile/profile.h"

namespace {

constexpr std::size_t kCopyBlockSize = 65536;
// How much of a copy is written before the disk is set to work on it.
constexpr std::size_t kFlushAheadSize = 4 * kCopyBlockSize;

// Every copy of the run passes through this one block. The only nested copy
// (into the temporary directory) starts after the outer copy has closed its
// source and before the outer copy reads a byte, so no two copies share it.
alignas(4096) char copyBuffer[kCopyBlockSize];

const char* const kBackupExt = ".OLD";
const char* const kTemporaryTemplate = "TVXXXXXX";
// The record of a replacement under way that runs kept before the run
// journal; not a temporary name, so that no copy ever takes it.
const char* const kStepRecordName = "TVSTEP.TXT";
const char* const kDigits32 = "0123456789abcdefghijklmnopqrstuv";
// The extension of an old file kept beside its name for a rollback.
const char* const kKeptExt = ".~KP";

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

// Whether a step on path must wait for the restart: an earlier step of the
// entry waits, or a step on that name does.
bool isDeferring(const ConfigData* config, const std::string& path) {
  return config != nullptr && (config->isDeferred() || config->isAwaitingRestart(path));
}

// The temporary names of dir in the order they are tried, from the template
// "TVXXXXXX", kept to 8.3: "TV", a candidate character (0, then a to z), one
// base-32 digit of the process number, a dot, three more digits.
class TemporaryNames {
 public:
  explicit TemporaryNames(const std::string& dir) : dir(dir), name(kTemporaryTemplate) {
    unsigned long pid = platform::getProcessId();
    name[3] = kDigits32[(pid >> 15) & 31];
    name[4] = '.';
    name[5] = kDigits32[(pid >> 10) & 31];
    name[6] = kDigits32[(pid >> 5) & 31];
    name[7] = kDigits32[pid & 31];
  }

  // The next name to try; false after the last.
  bool next(std::string* path) {
    static const char kCandidates[] = "0abcdefghijklmnopqrstuvwxyz";
    if (tried == sizeof kCandidates - 1) return false;
    name[2] = kCandidates[tried++];
    *path = joinPath(dir, name);
    return true;
  }

 private:
  std::string dir;
  std::string name;
  std::size_t tried = 0;
};

// Creates a new file under the first free temporary name of dir, as
// makeTemporaryPath picks it. The create is the test: only a name found
// taken after a failed create moves on, so a name is looked up once.
bool createTemporaryFile(const std::string& dir, std::string* path, OpenFile* file) {
  TemporaryNames names(dir);
  std::string candidate;
  while (names.next(&candidate)) {
    if (platform::createNewFile(candidate, file->handle()).ok) {
      *path = candidate;
      return true;
    }
    // A free name that cannot be created: no name can be.
    if (platform::testPath(candidate).notFound) return false;
  }
  return false;
}

bool isTracing(const ConfigData* config) { return config != nullptr && config->isDebug(); }

// Only a directory can be listed; a file, in use or not, cannot.
bool isDirectory(const std::string& path) {
  std::vector<platform::DirectoryEntry> entries;
  return platform::listDirectory(path, &entries).ok;
}

// Anything that is not clearly absent counts as there: a name the system
// cannot look at is treated as a file that may be in use.
bool pathIsPresent(const std::string& path) { return !platform::testPath(path).notFound; }

// The path of a file's ".OLD" backup; empty for a file named X.OLD, which is
// its own backup name: backing it up would erase it.
std::string backupPathOf(const std::string& path) {
  std::string backupPath = pathSetExt(path, kBackupExt);
  return equalsNoCase(backupPath, path) ? std::string() : backupPath;
}

// Whether two paths name the same file, as Windows compares names.
bool isSameFile(const std::string& a, const std::string& b) {
  return pathNameKey(a) == pathNameKey(b);
}

// Whether a file can be put at path now or at the restart: its directory is
// a directory, and no directory stands in its place.
bool canReceive(const std::string& path) {
  std::string dir, name;
  splitPath(path, &dir, &name);
  if (!dir.empty() && !isDirectory(dir)) return false;
  return !isDirectory(path);
}

void traceCopy(const ConfigData* config, const std::string& sourcePath,
               const std::string& destPath) {
  if (isTracing(config)) {
    std::printf("\t\tCopy Src File  : %s\n", sourcePath.c_str());
    std::printf("\t\tCopy Dest File : %s\n", destPath.c_str());
  }
}

// Reads the stamp of the open file at path. A time that a DOS stamp cannot
// hold is taken as the nearest one it holds, and path is added to *clamped
// when that is given; any other failure raises Error 28.
void readStamp(platform::FileHandle file, const std::string& path, platform::DosStamp* stamp,
               std::vector<std::string>* clamped) {
  platform::DosStamp read;
  if (platform::getFileStamp(file, &read).ok) {
    *stamp = read;
    return;
  }
  // Only a time outside the DOS range comes back with a stamp; date 0 is no
  // date at all.
  if (read.date == 0) throw Error(kErrorStampRead, path, kModuleFileOps, __LINE__);
  *stamp = read;
  if (clamped != nullptr) clamped->push_back(path);
}

// Opens the source and reads its stamp. On a failure the caller's holder
// closes what was opened.
void openSource(const std::string& sourcePath, OpenFile* source, platform::DosStamp* stamp,
                std::vector<std::string>* clamped) {
  if (!platform::openFileForReading(sourcePath, source->handle()).ok) {
    throw Error(kErrorSourceOpen, sourcePath, kModuleFileOps, __LINE__);
  }
  readStamp(source->get(), sourcePath, stamp, clamped);
}

// Opens the destination for reading and reads its stamp into *stamp. One
// that cannot be opened counts as absent for the copy result, even when a
// file of that name is there (held without sharing); the status is notFound
// only when nothing is there. Raises Error 28 when its stamp cannot be read.
platform::Status readDestinationStamp(const std::string& destPath, platform::DosStamp* stamp,
                                      std::vector<std::string>* clamped) {
  OpenFile dest;
  platform::Status opened = platform::openFileForReading(destPath, dest.handle());
  if (opened.ok) readStamp(dest.get(), destPath, stamp, clamped);
  return opened;
}

// Closes and removes the new file of a copy that does not end whole, however
// it ends: an Error raised on the way (the substitution's too) or memory
// that runs out. Windows deletes no file that is open, so it is closed first.
class UnfinishedCopy {
 public:
  UnfinishedCopy(OpenFile* target, const std::string& path) : target(target), path(path) {}
  ~UnfinishedCopy() {
    if (target == nullptr) return;
    target->close();
    platform::deleteFile(path);
  }
  UnfinishedCopy(const UnfinishedCopy&) = delete;
  UnfinishedCopy& operator=(const UnfinishedCopy&) = delete;

  void finish() { target = nullptr; }

 private:
  OpenFile* target;
  std::string path;
};

// Writes the rest of the open source into target with its placeholders
// filled in. The text is held whole, twice, so a large file may need more
// memory than there is: that is Error 1, with the size read, as for every
// allocation of the run that cannot be had.
void writeSubstituted(platform::FileHandle source, const std::string& sourcePath,
                      platform::FileHandle target, const std::string& reportPath,
                      SubstituteClass* substitutes) {
  std::string content;
  try {
    if (!platform::readToEnd(source, &content).ok) {
      throw Error(kErrorSourceRead, sourcePath, kModuleFileOps, __LINE__);
    }
    if (platform::isAllocationRefused(kModuleFileOps, static_cast<unsigned long>(content.size()))) {
      throw std::bad_alloc();
    }
    const std::string text = substitutes->substituteText(content);
    std::size_t bytesWritten = 0;
    if (!platform::writeFile(target, text.data(), text.size(), &bytesWritten).ok ||
        bytesWritten != text.size()) {
      throw Error(kErrorWrite, reportPath, kModuleFileOps, __LINE__);
    }
  } catch (const std::bad_alloc&) {
    throw Error(kErrorNoMemory, static_cast<unsigned long>(content.size()), kModuleFileOps,
                __LINE__);
  }
}

// Writes the rest of the open source into the new file at targetPath (with
// its placeholders filled in when substitutes is given), gives it the stamp,
// makes it reach the disk and closes it. A failure removes the new file and
// raises the copy's error, naming reportPath for the errors of the target.
void writeCopy(platform::FileHandle source, const std::string& sourcePath, OpenFile* target,
               const std::string& targetPath, const std::string& reportPath,
               platform::DosStamp stamp, SubstituteClass* substitutes, bool flushes = true) {
  UnfinishedCopy unfinished(target, targetPath);
  if (substitutes != nullptr) {
    writeSubstituted(source, sourcePath, target->get(), reportPath, substitutes);
  } else {
    std::size_t unflushed = 0;
    for (;;) {
      std::size_t bytesRead = 0;
      if (!platform::readFile(source, copyBuffer, kCopyBlockSize, &bytesRead).ok) {
        throw Error(kErrorSourceRead, sourcePath, kModuleFileOps, __LINE__);
      }
      if (bytesRead == 0) break;
      std::size_t bytesWritten = 0;
      if (!platform::writeFile(target->get(), copyBuffer, bytesRead, &bytesWritten).ok ||
          bytesWritten != bytesRead) {
        throw Error(kErrorWrite, reportPath, kModuleFileOps, __LINE__);
      }
      // The disk writes what is copied while the rest is read, instead of
      // all of it in the flush at the end.
      unflushed += bytesWritten;
      if (unflushed >= kFlushAheadSize) {
        platform::startFlush(target->get());
        unflushed = 0;
      }
    }
  }
  if (!platform::setFileStamp(target->get(), stamp).ok) {
    throw Error(kErrorStampSet, reportPath, kModuleFileOps, __LINE__);
  }
  // A file that has not reached the disk, or whose close failed, may be cut
  // short: that is a failed write, not a finished copy. One whose caller
  // flushes it later only starts on its way.
  if (!flushes) platform::startFlush(target->get());
  if ((flushes && !platform::flushFile(target->get()).ok) || !target->close().ok) {
    throw Error(kErrorWrite, reportPath, kModuleFileOps, __LINE__);
  }
  unfinished.finish();
}

// Copies the source into a new file that nothing else uses yet (the copy that
// waits for the restart), whole or not at all.
void copyToNewFile(const std::string& sourcePath, const std::string& targetPath,
                   SubstituteClass* substitutes, bool flushes = true) {
  OpenFile source;
  platform::DosStamp stamp;
  // A stamp out of range is reported where a copy first reads its source.
  openSource(sourcePath, &source, &stamp, nullptr);
  OpenFile target;
  if (!platform::createNewFile(targetPath, target.handle()).ok) {
    throw Error(kErrorCreate, targetPath, kModuleFileOps, __LINE__);
  }
  writeCopy(source.get(), sourcePath, &target, targetPath, targetPath, stamp, substitutes, flushes);
}

// Removes a new file that did not take its place, also when an Error ends
// the copy on the way.
class StagedFileRemover {
 public:
  explicit StagedFileRemover(const std::string& path) : path(path) {}
  ~StagedFileRemover() {
    if (!path.empty()) platform::deleteFile(path);
  }
  StagedFileRemover(const StagedFileRemover&) = delete;
  StagedFileRemover& operator=(const StagedFileRemover&) = delete;

  void release() { path.clear(); }

 private:
  std::string path;
};

// One replacement of a destination by a new file written beside it.
struct Replacement {
  std::string stagedPath;
  std::string destPath;
  std::string backupPath;
  bool wantsBackup = false;
  // backupPath is no backup but a free name beside the destination that the
  // old file passes through on its way out (a file named X.OLD has no
  // backup): the end of the run removes it, as it does an erased file.
  bool setAside = false;
  // The earlier backup of that name has been dealt with (erased, or its
  // deletion put off).
  bool oldBackupErased = false;
};

// How putInPlace ended.
enum class Placement {
  kPlaced,
  // Not now: the destination still holds the old file.
  kNotNow,
  // The destination's name is free and neither file could be given it: the
  // new file and the journal's record stay for the next run to finish.
  kStranded,
};

RunJournal* journalOf(const ConfigData* config) {
  return config != nullptr ? config->getJournal() : nullptr;
}

using UndoStep = RunJournal::UndoStep;

// The undo step of a rename of the file at from to the free name to, which
// says by its size and time which file it moved.
UndoStep renameStep(UndoStep::Kind kind, const std::string& from, const std::string& to) {
  UndoStep step;
  step.kind = kind;
  step.path = from;
  step.other = to;
  platform::FileInfo info;
  if (platform::getFileInfo(from, &info).ok) {
    step.size = info.size;
    step.time = info.modifiedTime;
  }
  return step;
}

// A name beside path that names nothing yet, for the old file a rollback
// may need: "TV", six base-32 digits of the process and a count, ".~KP",
// an 8.3 name on every kind of Windows.
bool makeKeptPath(const std::string& path, std::string* kept) {
  static unsigned long count = 0;
  std::string dir, name;
  splitPath(path, &dir, &name);
  const unsigned long process = platform::getProcessId();
  for (int tries = 0; tries < 64; ++tries) {
    unsigned long number = (process * 1024 + count++) & 0x3fffffffUL;
    std::string keptName = "TV";
    for (int shift = 25; shift >= 0; shift -= 5) keptName += kDigits32[(number >> shift) & 31];
    keptName += kKeptExt;
    *kept = joinPath(dir, keptName);
    if (platform::testPath(*kept).notFound) return true;
  }
  return false;
}

// Deletes the file at path, also one that is read-only (copied from a CD,
// say), which Windows deletes only once the attribute is cleared.
bool deleteEvenReadOnly(const std::string& path) {
  return platform::makeWritable(path).ok && platform::deleteFile(path).ok;
}

// Erases the file at path by moving it to a name beside it, so that a
// rollback can put it back; the end of the run removes it. False when it
// cannot be moved now. A move that cannot be recorded first does not start.
bool moveAside(const std::string& path, RunJournal* journal) {
  std::string kept;
  if (!makeKeptPath(path, &kept) ||
      !journal->recordUndo({renameStep(UndoStep::kKeptAside, path, kept)})) {
    throw Error(kErrorErase, path, kModuleFileOps, __LINE__);
  }
  return platform::renameFile(path, kept).ok;
}

// Renames from to the free name to, recorded first for a rollback when the
// run keeps a journal; false when the rename fails, or cannot be recorded.
bool renameRecorded(const std::string& from, const std::string& to, RunJournal* journal) {
  if (journal != nullptr && !journal->recordUndo({renameStep(UndoStep::kRenamed, from, to)})) {
    return false;
  }
  return platform::renameFile(from, to).ok;
}

// Puts the new file written beside the destination in its place, keeping
// the destination as its backup when asked. Neither Windows 95 nor NT 4.0
// makes a second name for a file, so the backup is a rename, which frees
// the destination's name for a moment; the journal records the step first,
// so that the next run finishes it if this one is cut off there, and a step
// that cannot be recorded does not start.
Placement putInPlace(Replacement* step, ConfigData* config) {
  RunJournal* journal = journalOf(config);
  const UndoStep placed = renameStep(UndoStep::kPlaced, step->stagedPath, step->destPath);
  // A name a step waiting for the restart will change gets the new file
  // only after that step.
  if (config != nullptr && config->isAwaitingRestart(step->destPath)) return Placement::kNotNow;
  if (!step->wantsBackup) {
    // Nothing old is lost, so the record need not reach the disk first; one
    // that cannot be written at all only leaves the new file to a rollback.
    if (journal != nullptr) journal->recordUndo({placed}, false);
    return platform::renameFile(step->stagedPath, step->destPath).ok ? Placement::kPlaced
                                                                     : Placement::kNotNow;
  }
  // The earlier backup goes first, so that a rollback, which undoes in the
  // opposite order, gives the backup's name back to the destination before
  // it puts the earlier backup there again.
  if (!step->setAside) {
    eraseFile(step->backupPath, config, kNoBackup);
    step->oldBackupErased = true;
  }
  const UndoStep::Kind moved = step->setAside ? UndoStep::kKeptAside : UndoStep::kRenamed;
  if (journal != nullptr &&
      (!journal->recordUndo({renameStep(moved, step->destPath, step->backupPath), placed}, false) ||
       !journal->beginReplacement({step->stagedPath, step->destPath, step->backupPath}))) {
    return Placement::kNotNow;
  }
  Placement placement = Placement::kNotNow;
  // Once a step of the entry waits for the restart, every later one must.
  if (!isDeferring(config, step->backupPath) &&
      platform::renameFile(step->destPath, step->backupPath).ok) {
    if (platform::renameFile(step->stagedPath, step->destPath).ok) {
      placement = Placement::kPlaced;
    } else if (!platform::renameFile(step->backupPath, step->destPath).ok) {
      // Something took the name in between and the old file cannot go back.
      return Placement::kStranded;
    }
  }
  if (journal != nullptr) {
    journal->endStep();
  } else if (placement == Placement::kPlaced && step->setAside) {
    // No rollback can want the old file back.
    platform::deleteFile(step->backupPath);
  }
  return placement;
}

// Puts the copy off to the next restart: the source goes whole into a new
// temporary file first, and only then are the backup and the replacement
// put off, so that a copy that fails leaves nothing of the entry waiting.
void deferCopy(const std::string& sourcePath, const char* tempDir, const Replacement& step,
               ConfigData* config, SubstituteClass* substitutes) {
  // No restart can put a file where a directory stands, or into a directory
  // that is not there.
  if (tempDir == nullptr || config == nullptr || !canReceive(step.destPath)) {
    throw Error(kErrorCreate, step.destPath, kModuleFileOps, __LINE__);
  }
  std::string tempPath;
  if (!makeTemporaryPath(tempDir, &tempPath)) {
    throw Error(kErrorCreate, step.destPath, kModuleFileOps, __LINE__);
  }
  copyToNewFile(sourcePath, tempPath, substitutes);

  // A file set aside needs no step of its own: the restart replaces the
  // destination.
  if (step.wantsBackup && !step.setAside) {
    if (!step.oldBackupErased) eraseFile(step.backupPath, config, kNoBackup);
    deferRename(step.destPath, step.backupPath.c_str(), config);
  }
  traceCopy(config, sourcePath, tempPath);
  deferRename(tempPath, step.destPath.c_str(), config);
}

// Writes the new file beside the destination and puts it in its place, so
// that the destination's name holds the old file or the whole new one at
// every moment. False, with nothing changed, when the new file cannot be
// made there or the destination cannot be replaced now.
bool replaceBeside(platform::FileHandle source, const std::string& sourcePath,
                   platform::DosStamp stamp, const std::string& destDir, Replacement* step,
                   ConfigData* config, SubstituteClass* substitutes) {
  std::string stagedPath;
  OpenFile staged;
  if (!createTemporaryFile(destDir, &stagedPath, &staged)) return false;
  writeCopy(source, sourcePath, &staged, stagedPath, step->destPath, stamp, substitutes);
  step->stagedPath = stagedPath;
  StagedFileRemover remover(stagedPath);
  switch (putInPlace(step, config)) {
    case Placement::kPlaced:
      remover.release();
      return true;
    case Placement::kNotNow:
      return false;
    case Placement::kStranded:
      // The new file is now the only whole file meant for that name.
      remover.release();
      throw Error(kErrorCreate, step->destPath, kModuleFileOps, __LINE__);
  }
  return false;
}

// The name by which WININIT.EXE finds the file at path, or names it when it
// puts it there: the 8.3 form of the path when something is there, else
// that of its directory and an 8.3 name for the file. The file's own name
// when it is one; else the alias Windows would give the long name in that
// directory now, NAME~N.EXT with the first N that no entry there has taken,
// which is the only name the file then has after the restart. The alias
// depends only on what the directory holds, so a later step or a rollback
// that puts off a step on the same name before the restart finds it again.
// False when no 8.3 name can be had (a volume without aliases, a directory
// that is not there).
bool getWininitName(const std::string& path, std::string* shortPath) {
  platform::Status status = platform::getShortPath(path, shortPath);
  if (status.ok) return platform::isShortPath(*shortPath);
  if (!status.notFound) return false;
  std::string dir, name;
  splitPath(path, &dir, &name);
  std::string shortDir;
  if (dir.empty() || !platform::getShortPath(dir, &shortDir).ok ||
      !platform::isShortPath(shortDir)) {
    return false;
  }
  std::string shortName = name;
  if (!platform::isShortName(name)) {
    std::vector<platform::DirectoryEntry> entries;
    std::string stem, extension;
    if (!platform::listDirectory(dir, &entries).ok ||
        !platform::getShortNameBasis(name, &stem, &extension)) {
      return false;
    }
    std::set<std::string> taken;
    for (const platform::DirectoryEntry& entry : entries) {
      for (std::string taker : {entry.name, entry.shortName}) {
        for (char& c : taker) c = platform::upperNameCase(c);
        taken.insert(taker);
      }
    }
    shortName = platform::numberShortName(stem, extension, taken);
    if (shortName.empty()) return false;
  }
  *shortPath = joinPath(shortDir, shortName);
  return true;
}

}  // namespace

bool finishReplacement(const std::string& stagedPath, const std::string& destPath,
                       const std::string& backupPath) {
  if (!pathIsPresent(stagedPath)) return true;
  // Cut off before the backup rename: make it; after it: only the new
  // file's rename is left.
  if (pathIsPresent(destPath) && !backupPath.empty() && !pathIsPresent(backupPath)) {
    platform::renameFile(destPath, backupPath);
  }
  if (!pathIsPresent(destPath) && !platform::renameFile(stagedPath, destPath).ok) {
    // The new file is the only one left for that name: it stays.
    return false;
  }
  if (pathIsPresent(stagedPath)) platform::deleteFile(stagedPath);
  return true;
}

void completeInterruptedReplacement(const std::string& tempDir) {
  // The record that runs before the run journal kept, read once more so
  // that a step such a run left half done is still finished.
  const std::string recordPath = joinPath(tempDir, kStepRecordName);
  std::string record;
  if (!platform::readWholeFile(recordPath, &record).ok) return;
  // A last line without its line end was cut short and does not count.
  std::vector<std::string> paths;
  LineReader reader(record);
  std::string line;
  while (reader.next(&line) && reader.hasLineEnd()) paths.push_back(line);
  if (paths.size() == 3 && !finishReplacement(paths[0], paths[1], paths[2])) return;
  platform::deleteFile(recordPath);
}

bool keepCopyForRollback(const std::string& path, ConfigData* config) {
  RunJournal* journal = journalOf(config);
  if (journal == nullptr) return true;
  UndoStep step;
  step.kind = UndoStep::kRewritten;
  step.path = path;
  if (!makeKeptPath(path, &step.other)) return false;
  try {
    copyToNewFile(path, step.other, nullptr);
  } catch (const Error&) {
    return false;
  }
  if (journal->recordUndo({step})) return true;
  platform::deleteFile(step.other);
  return false;
}

void deferRestoreOf(const std::string& path, ConfigData* config) {
  // One name a path, so that a rollback cut off and done again makes the
  // same copy again rather than leave the first one behind.
  FnvHash hash;
  for (char c : pathNameKey(path)) hash.add(static_cast<unsigned char>(c));
  std::string dir, name;
  splitPath(path, &dir, &name);
  std::string keptName = "TV";
  for (int shift = 25; shift >= 0; shift -= 5) keptName += kDigits32[(hash.get() >> shift) & 31];
  const std::string kept = joinPath(dir, keptName + kKeptExt);
  if (pathIsPresent(kept) && !platform::deleteFile(kept).ok) {
    throw Error(kErrorCreate, kept, kModuleFileOps, __LINE__);
  }
  copyToNewFile(path, kept, nullptr);
  deferRename(kept, path.c_str(), config);
}

void copyWholeFile(const std::string& sourcePath, const std::string& targetPath, bool flushes) {
  copyToNewFile(sourcePath, targetPath, nullptr, flushes);
}

bool isTemporaryName(const std::string& path) {
  std::string dir, name;
  splitPath(path, &dir, &name);
  static const char kCandidates[] = "0abcdefghijklmnopqrstuvwxyz";
  auto isDigit32 = [](char c) { return std::strchr(kDigits32, c) != nullptr && c != '\0'; };
  return name.size() == 8 && name.compare(0, 2, "TV") == 0 && name[2] != '\0' &&
         std::strchr(kCandidates, name[2]) != nullptr && isDigit32(name[3]) && name[4] == '.' &&
         isDigit32(name[5]) && isDigit32(name[6]) && isDigit32(name[7]);
}

bool makeTemporaryPath(const std::string& dir, std::string* path) {
  TemporaryNames names(dir);
  std::string candidate;
  while (names.next(&candidate)) {
    if (platform::testPath(candidate).notFound) {
      *path = candidate;
      return true;
    }
  }
  return false;
}

int copyFile(const std::string& sourceDir, const std::string& destDir, const char* tempDir,
             const std::string& sourceName, const std::string& destName, ConfigData* config,
             int force, int backup, SubstituteClass* substitutes,
             std::vector<std::string>* clampedStamps) {
  const std::string sourcePath = joinPath(sourceDir, sourceName);
  const std::string destPath = joinPath(destDir, destName);
  traceCopy(config, sourcePath, destPath);

  OpenFile source;
  platform::DosStamp sourceStamp;
  openSource(sourcePath, &source, &sourceStamp, clampedStamps);
  // A file copied onto itself is where the copy would put it; forced, the
  // copy would only take its name away from it for a moment, or for good.
  if (isSameFile(sourcePath, destPath)) return kCopySameStamp;

  // A destination that cannot be opened for reading is still there to be
  // backed up and replaced.
  platform::DosStamp destStamp;
  const platform::Status destOpened = readDestinationStamp(destPath, &destStamp, clampedStamps);
  const bool destExisted = destOpened.ok;
  const int order = destExisted ? compareStamps(destStamp, sourceStamp) : -1;
  const bool goesAhead = !destExisted || force != 0 || order < 0;
  // A destination that stays in place is never backed up.
  if (!goesAhead) return order == 0 ? kCopySameStamp : kCopyTargetNewer;

  // As pathIsPresent would say, without a second look-up of the name.
  const bool destPresent = !destOpened.notFound;
  // No copy, now or at the restart, can put a file where a directory stands.
  if (destPresent && !destExisted && isDirectory(destPath)) {
    throw Error(kErrorCreate, destPath, kModuleFileOps, __LINE__);
  }
  Replacement step;
  step.destPath = destPath;
  step.backupPath = backupPathOf(destPath);
  // A file named X.OLD has no backup, but is replaced as if backed up: the
  // old file leaves its name by a rename, as a backup does, for a name that
  // no restart has to clear.
  step.setAside = backup != 0 && destPresent && step.backupPath.empty() &&
                  makeKeptPath(destPath, &step.backupPath);
  step.wantsBackup = backup != 0 && destPresent && !step.backupPath.empty();

  // A destination that is there and is not backed up cannot be replaced now:
  // it waits for the restart, as does one in use.
  const bool placed =
      (!destPresent || step.wantsBackup) &&
      replaceBeside(source.get(), sourcePath, sourceStamp, destDir, &step, config, substitutes);
  // The copy for the restart reads the source afresh, through the same
  // buffer.
  source.close();
  if (!placed) deferCopy(sourcePath, tempDir, step, config, substitutes);

  if (!destExisted) return kCopyCreated;
  return order > 0 ? kCopyOverNewer : kCopyOverOlder;
}

int copyFileByPath(const std::string& sourcePath, const std::string& destPath, const char* tempDir,
                   ConfigData* config, int force, int backup, SubstituteClass* substitutes,
                   std::vector<std::string>* clampedStamps) {
  std::string sourceDir, sourceName, destDir, destName;
  splitPath(sourcePath, &sourceDir, &sourceName);
  splitPath(destPath, &destDir, &destName);
  return copyFile(sourceDir, destDir, tempDir, sourceName, destName, config, force, backup,
                  substitutes, clampedStamps);
}

void moveFile(const std::string& sourceDir, const std::string& destDir,
              const std::string& sourceName, const std::string& destName, ConfigData* config,
              int replace, int backup) {
  const std::string sourcePath = joinPath(sourceDir, sourceName);
  const std::string destPath = joinPath(destDir, destName);
  // A rename without a source cannot succeed now or at the restart, and the
  // destination must not lose its place on the way to failing.
  if (!pathIsPresent(sourcePath)) throw Error(kErrorMove, sourcePath, kModuleFileOps, __LINE__);
  // Renamed onto itself, the file is where the rename would put it; the
  // backup or the erasure of the destination would take it away.
  if (isSameFile(sourcePath, destPath)) return;
  // No rename, now or at the restart, puts a file where a directory stands;
  // the backup of a directory there would move the whole of it.
  if (!canReceive(destPath)) throw Error(kErrorMove, destPath, kModuleFileOps, __LINE__);

  const std::string backupPath = backupPathOf(destPath);
  if (backup != 0 && !backupPath.empty() && pathIsPresent(destPath)) {
    // The destination's backup name is the source's own (A.OLD renamed to
    // A.DLL): making room for the backup would erase the file to rename.
    if (isSameFile(sourcePath, backupPath)) {
      throw Error(kErrorMove, sourcePath, kModuleFileOps, __LINE__);
    }
    eraseFile(backupPath, config, kNoBackup);
    // Once one step of the entry is deferred every later one must be too, or
    // it would run before the steps it depends on.
    bool renamed = !isDeferring(config, destPath) && !isDeferring(config, backupPath) &&
                   renameRecorded(destPath, backupPath, journalOf(config));
    if (!renamed) {
      if (config == nullptr) throw Error(kErrorMove, destPath, kModuleFileOps, __LINE__);
      deferRename(destPath, backupPath.c_str(), config);
    }
  }

  if (replace != 0) eraseFile(destPath, config, kNoBackup);

  bool renamed = !isDeferring(config, sourcePath) && !isDeferring(config, destPath) &&
                 renameRecorded(sourcePath, destPath, journalOf(config));
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
  // A directory is no file: moved aside or to its backup name it would be
  // kept whole, and no deletion, now or at the restart, removes it.
  if (isDirectory(path)) throw Error(kErrorErase, path, kModuleFileOps, __LINE__);
  const std::string backupPath = backupPathOf(path);
  if (backup != 0 && !backupPath.empty()) {
    moveFileByPath(path, backupPath, config, kReplaceExisting, kNoBackup);
    if (!pathIsPresent(path)) return;
  }
  // With a journal the file is only moved aside, so that a rollback can put
  // it back; a file that cannot be moved cannot be deleted either.
  RunJournal* journal = journalOf(config);
  bool deleted = !isDeferring(config, path) &&
                 (journal != nullptr ? moveAside(path, journal) : deleteEvenReadOnly(path));
  if (!deleted) {
    if (config == nullptr) throw Error(kErrorErase, path, kModuleFileOps, __LINE__);
    deferRename(path, nullptr, config);
  }
}

void deferRename(const std::string& source, const char* dest, ConfigData* config) {
  // A rollback undoes what waits for the restart by putting off more steps
  // after it, which it can do only for a step it knows of.
  RunJournal* journal = journalOf(config);
  if (journal != nullptr) {
    UndoStep step;
    step.kind = UndoStep::kDeferred;
    step.path = source;
    step.other = dest != nullptr ? dest : "";
    if (!journal->recordUndo({step})) {
      throw Error(kErrorRestartRefused, source, kModuleFileOps, __LINE__);
    }
  }
  // The restart deletes or replaces no read-only file: the attribute goes
  // now, or the step is not put off to a restart that would fail.
  const std::string cleared = dest != nullptr ? std::string(dest) : source;
  platform::Status writable = platform::makeWritable(cleared);
  if (!writable.ok && !writable.notFound) {
    throw Error(kErrorRestartRefused, cleared, kModuleFileOps, __LINE__);
  }
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
  config->addAwaitingRestart(source);
  if (dest != nullptr) config->addAwaitingRestart(dest);
}

void deferViaWininit(const std::string& source, const char* dest, ConfigData* config) {
  if (config->isDebug()) {
    std::printf("\t\tLock Src  : %s\n", source.c_str());
    std::printf("\t\tLock Dest : %s\n", dest != nullptr ? dest : "NUL");
  }
  // WININIT.EXE runs before long names are available and finds a file only
  // by its 8.3 name: a name it cannot read is refused now, never put off to
  // a restart that would pass it over. "NUL" as the target is how
  // WININIT.INI spells a deletion.
  std::string shortSource;
  if (!getWininitName(source, &shortSource)) {
    throw Error(kErrorRestartRefused, source, kModuleFileOps, __LINE__);
  }
  std::string shortTarget = "NUL";
  if (dest != nullptr && !getWininitName(dest, &shortTarget)) {
    throw Error(kErrorRestartRefused, dest, kModuleFileOps, __LINE__);
  }
  if (dest != nullptr && !platform::isShortName(pathFileName(dest))) {
    config->addLosingLongName(std::string(dest) + " (" + pathFileName(shortTarget) + ")");
  }
  Profile wininit(pathJoin(config->getWindowsDir(), "WININIT.INI"));
  wininit.appendString("rename", shortTarget, shortSource);
  wininit.close();
}

void deferViaMoveFileEx(const std::string& source, const char* dest) {
  const unsigned long flags =
      platform::kMoveReplaceExisting | platform::kMoveCopyAllowed | platform::kMoveDelayUntilReboot;
  if (!platform::scheduleMoveAtRestart(source, dest, flags).ok) {
    throw Error(kErrorRestartRefused, source, kModuleFileOps, __LINE__);
  }
}
