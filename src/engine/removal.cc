// The removal of an installed patch: every file, INI key and registry value
// it changed is put back as its undo data (fileops/undo_store.h) has it,
// and the patch leaves the ledger. A removal runs under the product's lock
// and with a journal of its own, so that one cut off is finished by the
// next run of anything.
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/ascii_text.h"
#include "base/error.h"
#include "config/config_data.h"
#include "engine/data_file.h"
#include "fileops/file_install.h"
#include "fileops/run_journal.h"
#include "fileops/undo_store.h"
#include "messages/message_numbers.h"
#include "messages/nls_class.h"
#include "path/path_name.h"
#include "platform/files.h"
#include "platform/name_case.h"
#include "profile/profile.h"

namespace {

using UndoStep = RunJournal::UndoStep;

// The profile digest that marks a journal as a removal's: no profile has it.
const char kRemovalDigest[] = "REMOVAL";

std::string folded(std::string text) {
  for (char& c : text) c = platform::upperNameCase(c);
  return text;
}

// The undo data of patch as stored, or nothing when there is none.
std::optional<std::vector<UndoStep>> readUndo(const UndoStore& store, const std::string& patch) {
  const std::string path = store.getRecordPath(patch);
  if (platform::testPath(path).notFound) return std::nullopt;
  RunJournal record(path);
  RunJournal::Identity any;
  if (record.read(any) == RunJournal::Standing::kNone) return std::nullopt;
  return record.getUndoSteps();
}

// The ledger entries of ledger, in order, and the position of the first
// that records patch (npos when none does).
std::vector<std::string> ledgerOf(Profile* ledger) {
  std::vector<std::string> entries;
  for (int number = 0;; ++number) {
    std::string value = ledger->getString("Install", "Patch" + std::to_string(number), "");
    if (value.empty()) break;
    entries.push_back(value);
  }
  return entries;
}

}  // namespace

bool DataFile::isRemovalJournal(const RunJournal::Identity& identity) {
  return identity.profileDigest == kRemovalDigest;
}

void DataFile::removeFromLedger(Profile* ledger, const std::string& patch) {
  // The entries by number, as the file holds them: on the Windows 95 family
  // the Windows directory's copy takes the numbers of the product root's,
  // so it may start above 0.
  std::map<int, std::string> entries;
  std::size_t position = 0;
  for (const std::string& line : ledger->sectionLines("Install", &position)) {
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos || !beginsWithNoCase(line, "Patch")) continue;
    const std::string digits = line.substr(5, equals - 5);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) continue;
    entries.emplace(std::atoi(digits.c_str()), line.substr(equals + 1));
  }
  // Each entry after the patch's moves down one number, one save at a time:
  // a removal cut off on the way leaves an entry twice, which the removal
  // done again drops, as it drops the patch's own.
  std::set<std::string> seen;
  std::vector<std::pair<int, std::string>> kept;
  int free = -1;
  for (const auto& [number, value] : entries) {
    if (namesPatch(value, patch) || !seen.insert(folded(value)).second) {
      if (free < 0) free = number;
      continue;
    }
    kept.emplace_back(free >= 0 ? free++ : number, value);
  }
  for (const auto& [number, value] : kept) {
    if (entries[number] != value) {
      ledger->writeString("Install", ("Patch" + std::to_string(number)).c_str(), value.c_str());
    }
  }
  for (const auto& entry : entries) {
    if (free >= 0 && entry.first >= free) {
      ledger->writeString("Install", ("Patch" + std::to_string(entry.first)).c_str(), nullptr);
    }
  }
  // The first patch made the section; the last to go takes it along.
  if (kept.empty()) ledger->removeEmptySection("Install");
}

void DataFile::removePatch(const std::string& patch) {
  takeProduct();
  RunJournal::Identity identity;
  identity.patch = patch;
  identity.profileDigest = kRemovalDigest;
  identity.kind = config->getPlatform();
  resumeJournal(identity);
  // This removal's own journal: an earlier try was cut off.
  const RunJournal::Identity& found = journal->getFoundIdentity();
  const bool resumes = found.patch == patch && isRemovalJournal(found);
  completeInterruptedReplacement(archiveTempDir);
  finishRemoval(patch, true, resumes);
}

void DataFile::finishRemoval(const std::string& patch, bool reports, bool resumes) {
  UndoStore store(archiveDir);
  std::vector<Profile*> ledgers = {config->getWindowsIni()};
  if (config->getPlatform() == kPlatformWindows95) ledgers.push_back(config->getRootIni());
  int unused = 0;
  const bool installed = isPatchInstalled(patch.c_str(), &unused);
  const std::optional<std::vector<UndoStep>> undo = readUndo(store, patch);
  if (!installed && !undo) {
    // Not installed, or removed already by a try cut off before it ended,
    // which may have left the ledger's empty section or some of the copies.
    if (resumes) {
      for (Profile* ledger : ledgers) removeFromLedger(ledger, patch);
      store.discard(patch);
    }
    journal->end();
    if (reports && !resumes) {
      messages->printError(kMessageNotInstalled, ": %s", patch.c_str());
      endRun();
    }
    if (reports) {
      messages->print("%s: %s\n", messages->getMessage(kMessagePatchRemoved), patch.c_str());
    }
    return;
  }
  if (!undo) {
    journal->end();
    messages->printError(kMessageNoUndoData, ": %s", patch.c_str());
    endRun();
  }
  // A later patch that changed one of the same things again must go first:
  // taken back under it, this patch's old state would wipe out its change.
  if (installed && !resumes) {
    std::set<std::string> names;
    for (const UndoStep& step : *undo) {
      if (step.kind != UndoStep::kDeferred) names.insert(UndoStore::getTouchedName(step));
    }
    // The ledger whose numbers decide: the product root's on the Windows 95
    // family, the Windows directory's on Windows NT.
    const std::vector<std::string> entries = ledgerOf(
        config->getPlatform() == kPlatformWindows95 ? config->getRootIni() : ledgers.front());
    bool later = false;
    for (const std::string& entry : entries) {
      if (namesPatch(entry, patch)) {
        later = true;
        continue;
      }
      if (!later) continue;
      const std::optional<std::vector<UndoStep>> other = readUndo(store, entry);
      bool overlaps = !other;
      for (std::size_t i = 0; other && !overlaps && i < other->size(); ++i) {
        overlaps = names.count(UndoStore::getTouchedName((*other)[i])) != 0;
      }
      if (overlaps) {
        journal->end();
        messages->printError(kMessageLaterPatchOverlaps, ": %s", entry.c_str());
        endRun();
      }
    }
  }
  // The journal takes the removal's identity with its first record, so that
  // a removal cut off from here on is finished by the next run.
  if (!journal->recordDecision(std::nullopt)) {
    throw Error(kErrorWrite, journal->getPath(), kModuleEngine, __LINE__);
  }
  for (auto step = undo->rbegin(); step != undo->rend(); ++step) {
    restoreStep(*step, reports);
  }
  if (failedEntries) {
    // The undo data and the ledger entry stay, and with them the journal:
    // the next run goes on with the removal.
    messages->printError(kMessageRemovalUnfinished, ": %s", patch.c_str());
    applyDeferredRule();
    return;
  }
  for (Profile* ledger : ledgers) removeFromLedger(ledger, patch);
  store.discard(patch);
  journal->end();
  applyDeferredRule();
  if (reports) {
    messages->print("%s: %s\n", messages->getMessage(kMessagePatchRemoved), patch.c_str());
  }
}

void DataFile::restoreStep(const UndoStep& step, bool reports) {
  const char* restored = messages->getMessage(kMessageRestored);
  switch (step.kind) {
    case UndoStep::kKeptAside:
      // Whatever is there now goes, and a copy of the original takes the
      // free name; one in use is replaced at the restart.
      try {
        if (fileExists(step.path)) eraseFile(step.path, config, 0);
        copyFileByPath(step.other, step.path, archiveTempDir.c_str(), config, 1, 0);
      } catch (const Error& error) {
        if (error.getErrorNumber() == kErrorNoMemory) throw;
        messages->printError(kMessageNotCopied, ": %s", error.getErrorMessage().c_str());
        noteEntryFailed();
        return;
      }
      if (reports) messages->print("%s (%s)\n", step.path.c_str(), restored);
      return;
    case UndoStep::kCreated:
      if (!fileExists(step.path)) return;
      try {
        eraseFile(step.path, config, 0);
      } catch (const Error& error) {
        messages->printError(kMessageNotErased, ": %s", error.getErrorMessage().c_str());
        noteEntryFailed();
        return;
      }
      if (reports) {
        messages->print("%s (%s)\n", step.path.c_str(), messages->getMessage(kMessageRemovedFile));
      }
      return;
    case UndoStep::kDeferred:
      return;
    default:
      if (!undoStep(step)) {
        messages->printError(kMessageUnfinishedPatch, ": %s", step.path.c_str());
        noteEntryFailed();
        return;
      }
      if (!reports) return;
      if (step.kind == UndoStep::kIniValue) {
        messages->print("%s [%s] %s (%s)\n", step.path.c_str(), step.other.c_str(),
                        step.key.c_str(), restored);
      } else if (step.kind == UndoStep::kIniSection) {
        messages->print("%s [%s] (%s)\n", step.path.c_str(), step.other.c_str(), restored);
      } else if (step.kind == UndoStep::kRegistryValue) {
        messages->print("%s\\%s\\%s (%s)\n", step.key.c_str(), step.path.c_str(),
                        step.other.c_str(), restored);
      } else {
        messages->print("%s\\%s (%s)\n", step.key.c_str(), step.path.c_str(), restored);
      }
      return;
  }
}
