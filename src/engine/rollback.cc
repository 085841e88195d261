// The rollback of a patch that a run left unfinished, from the undo steps of
// its journal, before another patch (or the same one with another profile)
// is installed.
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/ascii_text.h"
#include "base/error.h"
#include "config/config_data.h"
#include "engine/data_file.h"
#include "engine/entry_rules.h"
#include "engine/registry_key_holder.h"
#include "fileops/file_install.h"
#include "fileops/run_journal.h"
#include "fileops/undo_store.h"
#include "messages/message_numbers.h"
#include "messages/nls_class.h"
#include "path/path_name.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "profile/profile.h"

namespace {

using UndoStep = RunJournal::UndoStep;

// Whether the file at path is the one the step recorded, by size and time;
// a step that could not read them names whatever is there.
bool isRecordedFile(const std::string& path, const UndoStep& step) {
  if (step.size == 0 && step.time == 0) return true;
  platform::FileInfo info;
  return platform::getFileInfo(path, &info).ok && info.size == step.size &&
         info.modifiedTime == step.time;
}

// Gives the file at from back the name to, which must be free or hold a
// file the step put there.
bool putBack(const std::string& from, const std::string& to) {
  if (DataFile::fileExists(to) && !platform::deleteFile(to).ok) return false;
  return platform::renameFile(from, to).ok;
}

// Undoes one file step. Each undo looks at what is there, so that one cut
// off and done again, or one whose step was never made, does nothing more.
bool undoFileStep(const UndoStep& step) {
  switch (step.kind) {
    case UndoStep::kPlaced:
      // Not placed: the new file is still beside the destination.
      if (DataFile::fileExists(step.path)) return platform::deleteFile(step.path).ok;
      if (DataFile::fileExists(step.other) && isRecordedFile(step.other, step)) {
        return platform::deleteFile(step.other).ok;
      }
      return true;
    case UndoStep::kRenamed:
      if (DataFile::fileExists(step.path) || !DataFile::fileExists(step.other) ||
          !isRecordedFile(step.other, step)) {
        return true;
      }
      return platform::renameFile(step.other, step.path).ok;
    case UndoStep::kKeptAside:
      if (!RunJournal::isKeptName(step.other)) return false;
      if (!DataFile::fileExists(step.other)) return true;
      // Every later step that took the name is undone already.
      return !DataFile::fileExists(step.path) && platform::renameFile(step.other, step.path).ok;
    case UndoStep::kRewritten:
      if (!RunJournal::isKeptName(step.other)) return false;
      return !DataFile::fileExists(step.other) || putBack(step.other, step.path);
    case UndoStep::kCreated:
      return !DataFile::fileExists(step.path) || platform::deleteFile(step.path).ok;
    default:
      return true;
  }
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

bool undoRegistryStep(const UndoStep& step) {
  platform::RegistryRoot rootName;
  if (!findEntryRoot(step.key, &rootName)) return false;
  const platform::RegistryKey root = platform::getRootKey(rootName);
  const char* keyPath = step.path.empty() ? nullptr : step.path.c_str();
  const char* valueName = step.other.empty() ? nullptr : step.other.c_str();
  platform::RegistryKey opened;
  if (step.kind == UndoStep::kRegistryKeyDeleted ||
      (step.kind == UndoStep::kRegistryValue && step.present)) {
    if (!platform::createRegistryKey(root, keyPath, &opened).ok) return false;
    RegistryKeyHolder key(opened);
    if (step.kind == UndoStep::kRegistryKeyDeleted) return true;
    platform::RegistryValue value;
    value.type = step.type;
    value.data = step.value;
    return platform::setRegistryValue(key.get(), valueName, value).ok;
  }
  platform::Status status =
      platform::openRegistryKey(root, keyPath, platform::RegistryAccess::kAllAccess, &opened);
  if (status.notFound) return true;
  if (!status.ok) return false;
  RegistryKeyHolder key(opened);
  if (step.kind == UndoStep::kRegistryValue) {
    status = platform::deleteRegistryValue(key.get(), valueName);
    return status.ok || status.notFound;
  }
  return false;
}

}  // namespace

Profile* DataFile::productIniAt(const std::string& path) const {
  for (Profile* ini : {config->getRootIni(), config->getWindowsIni()}) {
    if (ini != nullptr && pathNameKey(ini->getPath()) == pathNameKey(path)) return ini;
  }
  return nullptr;
}

bool DataFile::undoStep(const RunJournal::UndoStep& step) {
  switch (step.kind) {
    case UndoStep::kIniValue:
    case UndoStep::kIniSection: {
      // The product's own INI files are held by the run configuration, whose
      // copies must see the rollback's edits.
      Profile* ini = productIniAt(step.path);
      std::unique_ptr<Profile> file;
      if (ini == nullptr) {
        file = std::make_unique<Profile>(step.path);
        ini = file.get();
      }
      if (step.kind == UndoStep::kIniSection) {
        ini->restoreSection(step.other, linesOf(step.value), static_cast<std::size_t>(step.size));
      } else {
        if (step.present && step.size != 0) {
          ini->restoreString(step.other, step.key, step.value, static_cast<std::size_t>(step.size));
        } else {
          ini->writeString(step.other, step.key.c_str(),
                           step.present ? step.value.c_str() : nullptr);
        }
        if (!step.present && step.type == 1) ini->removeEmptySection(step.other);
      }
      if (file) file->close();
      return true;
    }
    case UndoStep::kRegistryValue:
    case UndoStep::kRegistryKeyDeleted:
      return undoRegistryStep(step);
    case UndoStep::kRegistryKeyCreated: {
      platform::RegistryRoot rootName;
      if (!findEntryRoot(step.key, &rootName)) return false;
      platform::RegistryKey opened;
      platform::Status status =
          platform::openRegistryKey(platform::getRootKey(rootName), step.path.c_str(),
                                    platform::RegistryAccess::kAllAccess, &opened);
      if (status.notFound) return true;
      if (!status.ok) return false;
      RegistryKeyHolder key(opened);
      return deleteRegistryTree(key.get(), step.path) &&
             platform::deleteRegistryKey(key.get(), "").ok;
    }
    case UndoStep::kDeferred:
      return true;
    default:
      return undoFileStep(step);
  }
}

void DataFile::undoDeferredSteps() {
  // What the patch put off to the restart cannot be taken back from the
  // restart, so what undoes it is put off after it: each name the steps
  // touch gets back, at the restart, what it holds now, or is deleted
  // where it holds nothing now. The patch's own copies waiting in ARCHIVE
  // are no name of the machine's.
  std::vector<std::string> touched;
  std::set<std::string> seen;
  for (const UndoStep& step : journal->getUndoSteps()) {
    if (step.kind != UndoStep::kDeferred) continue;
    for (const std::string& path : {step.path, step.other}) {
      if (path.empty() || beginsWithNoCase(path, pathJoin(archiveTempDir, ""))) continue;
      if (seen.insert(pathNameKey(path)).second) touched.push_back(path);
    }
  }
  for (const std::string& path : touched) {
    if (DataFile::fileExists(path)) {
      deferRestoreOf(path, config);
    } else {
      deferRename(path, nullptr, config);
    }
  }
  config->setDeferred(0);
}

void DataFile::rollBack(const std::string& patch) {
  // Steps undone from here on are not steps of a run: nothing records them.
  config->setJournal(nullptr);
  const bool begun = journal->beginRollback();
  const std::vector<UndoStep>& steps = journal->getUndoSteps();
  std::string failedPath;
  if (!begun) failedPath = journal->getPath();
  for (auto step = steps.rbegin(); failedPath.empty() && step != steps.rend(); ++step) {
    try {
      if (!undoStep(*step)) failedPath = step->path;
    } catch (const Error&) {
      failedPath = step->path;
    }
  }
  if (failedPath.empty() && !journal->isRestartUndone()) {
    try {
      undoDeferredSteps();
      if (!journal->markRestartUndone()) failedPath = journal->getPath();
    } catch (const Error& error) {
      failedPath = error.getErrorMessage();
    }
  }
  config->setJournal(journal.get());
  if (!failedPath.empty()) {
    // The journal keeps the rollback begun, so the next run goes on with it.
    messages->printError(kMessageUnfinishedPatch, ": %s\n%s", patch.c_str(), failedPath.c_str());
    endRun();
  }
  // A run cut off as it kept its undo leaves some of it: the patch is not
  // installed, so none of it is.
  if (!patch.empty()) UndoStore(archiveDir).discard(patch);
  journal->end();
  messages->print("%s: %s\n", messages->getMessage(kMessageUnfinishedRolledBack), patch.c_str());
}
