#include "fileops/undo_store.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/fnv_hash.h"
#include "fileops/file_install.h"
#include "path/path_name.h"
#include "platform/files.h"
#include "platform/name_case.h"

namespace {

using UndoStep = RunJournal::UndoStep;

const char kDigits32[] = "0123456789ABCDEFGHIJKLMNOPQRSTUV";

// Eight base-32 digits of a hash of text: an 8.3 name on every kind of
// Windows, the same for every run.
std::string hashName(const std::string& text) {
  FnvHash hash;
  for (char c : text) hash.add(static_cast<unsigned char>(c));
  std::uint64_t value = hash.get();
  std::string name(8, '0');
  for (char& digit : name) {
    digit = kDigits32[value & 31];
    value >>= 5;
  }
  return name;
}

bool isBelow(const std::string& path, const std::string& directory) {
  const std::string key = pathNameKey(path);
  const std::string below = pathNameKey(directory) + "\\";
  return key.compare(0, below.size(), below) == 0;
}

std::string folded(std::string text) {
  for (char& c : text) c = platform::upperNameCase(c);
  return text;
}

// Whether the file at path is the one of that size and time.
bool holds(const std::string& path, std::uint64_t size, std::uint64_t time) {
  platform::FileInfo info;
  return platform::getFileInfo(path, &info).ok && info.size == size && info.modifiedTime == time;
}

}  // namespace

UndoStore::UndoStore(const std::string& archiveDir) : directory(pathJoin(archiveDir, "UNDO")) {}

std::string UndoStore::getTouchedName(const UndoStep& step) {
  switch (step.kind) {
    case UndoStep::kKeptAside:
    case UndoStep::kCreated:
      return "F" + pathNameKey(step.path);
    case UndoStep::kIniValue:
      return "I" + pathNameKey(step.path) + "\n" + folded(step.other) + "\n" + folded(step.key);
    case UndoStep::kIniSection:
      return "S" + pathNameKey(step.path) + "\n" + folded(step.other);
    case UndoStep::kRegistryValue:
      return "V" + folded(step.key + "\\" + step.path) + "\n" + folded(step.other);
    default:
      return "K" + folded(step.key + "\\" + step.path);
  }
}

std::string UndoStore::nameOf(const std::string& patch) const { return hashName(folded(patch)); }

std::string UndoStore::getRecordPath(const std::string& patch) const {
  return pathJoin(directory, nameOf(patch) + ".UND");
}

std::string UndoStore::getCopyDir(const std::string& patch) const {
  return pathJoin(directory, nameOf(patch));
}

std::vector<UndoStep> UndoStore::getNetUndo(const std::vector<UndoStep>& steps,
                                            const std::string& archiveTempDir) {
  std::map<std::string, UndoStep> files;
  std::vector<UndoStep> others;
  std::map<std::string, bool> named;
  // The first step that names a file says what was there before the run:
  // where the file went (size and time 0: whatever is there when the undo
  // is kept), or, with kind kCreated, that there was none.
  auto touch = [&](const std::string& path, bool wasThere, const std::string& where,
                   std::uint64_t size, std::uint64_t time) {
    if (path.empty() || RunJournal::isKeptName(path) || isTemporaryName(path) ||
        isBelow(path, archiveTempDir)) {
      return;
    }
    UndoStep original;
    original.kind = wasThere ? UndoStep::kKeptAside : UndoStep::kCreated;
    original.path = path;
    original.other = where;
    original.size = size;
    original.time = time;
    files.emplace(pathNameKey(path), original);
  };
  for (const UndoStep& step : steps) {
    switch (step.kind) {
      case UndoStep::kRenamed:
        touch(step.path, true, step.other, step.size, step.time);
        // The name it goes to was free, unless the rename failed there and
        // was put off: then the moved file is still where it was.
        touch(step.other, false, step.path, step.size, step.time);
        break;
      case UndoStep::kKeptAside:
        touch(step.path, true, step.other, step.size, step.time);
        break;
      case UndoStep::kRewritten:
        // The whole copy beside it, made before the file was rewritten.
        touch(step.path, true, step.other, 0, 0);
        break;
      case UndoStep::kPlaced:
        // The new file, written beside, takes the name other.
        touch(step.other, false, "", 0, 0);
        break;
      case UndoStep::kCreated:
        touch(step.path, false, "", 0, 0);
        break;
      case UndoStep::kDeferred:
        // Until the restart, the files it names are as they were.
        touch(step.path, true, step.path, 0, 0);
        touch(step.other, true, step.other, 0, 0);
        break;
      default:
        if (named.emplace(getTouchedName(step), true).second) others.push_back(step);
        break;
    }
  }
  std::vector<UndoStep> net;
  for (const auto& entry : files) net.push_back(entry.second);
  net.insert(net.end(), others.begin(), others.end());
  return net;
}

bool UndoStore::keep(const RunJournal::Identity& identity, const std::vector<UndoStep>& steps,
                     const std::string& archiveTempDir) {
  const std::string copies = getCopyDir(identity.patch);
  for (const std::string& made : {directory, copies}) {
    if (!platform::testPath(made).ok && !platform::makeDirectory(made).ok) return false;
  }
  std::vector<UndoStep> net = getNetUndo(steps, archiveTempDir);
  for (UndoStep& step : net) {
    if (step.kind == UndoStep::kCreated && (step.size != 0 || step.time != 0)) {
      if (holds(step.other, step.size, step.time) && !platform::testPath(step.path).notFound) {
        step.kind = UndoStep::kKeptAside;
        step.other = step.path;
      } else {
        step.other.clear();
      }
      step.size = 0;
      step.time = 0;
    }
    if (step.kind != UndoStep::kKeptAside) continue;
    // Where the original went, or, when the step did not say which file it
    // moved, whatever is there now; a file of that size and time anywhere
    // the run put one is the original too.
    std::string original = step.other;
    if (step.size != 0 || step.time != 0) {
      if (!holds(original, step.size, step.time)) original.clear();
      for (const UndoStep& other : steps) {
        for (const std::string* candidate : {&other.path, &other.other}) {
          if (original.empty() && !candidate->empty() && holds(*candidate, step.size, step.time)) {
            original = *candidate;
          }
        }
      }
      if (original.empty()) return false;
    } else if (platform::testPath(original).notFound) {
      step.kind = UndoStep::kCreated;
      step.other.clear();
      continue;
    }
    platform::FileInfo info;
    if (!platform::getFileInfo(original, &info).ok) return false;
    step.size = info.size;
    step.time = info.modifiedTime;
    step.other = pathJoin(copies, hashName(pathNameKey(step.path)) + ".DAT");
    platform::Status old = platform::deleteFile(step.other);
    if (!old.ok && !old.notFound) return false;
    try {
      copyWholeFile(original, step.other, false);
    } catch (const Error& error) {
      if (error.getErrorNumber() == kErrorNoMemory) throw;
      return false;
    }
  }
  // Every copy reaches the disk before the record that names it: each was
  // started on its way as it was written, so most are there by now.
  for (const UndoStep& step : net) {
    if (step.kind != UndoStep::kKeptAside) continue;
    platform::FileHandle copy;
    if (!platform::openFileForAppending(step.other, &copy).ok) return false;
    const bool flushed = platform::flushFile(copy).ok;
    if (!platform::closeFile(copy).ok || !flushed) return false;
  }
  return platform::saveWholeFile(getRecordPath(identity.patch),
                                 RunJournal::formatUndo(identity, net))
      .ok;
}

void UndoStore::discard(const std::string& patch) {
  platform::deleteFile(getRecordPath(patch));
  const std::string copies = getCopyDir(patch);
  std::vector<platform::DirectoryEntry> entries;
  if (!platform::listDirectory(copies, &entries).ok) return;
  for (const platform::DirectoryEntry& entry : entries) {
    platform::deleteFile(pathJoin(copies, entry.name));
  }
  platform::removeDirectory(copies);
}
