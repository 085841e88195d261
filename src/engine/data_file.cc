#include "engine/data_file.h"

#include <cassert>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/ascii_text.h"
#include "base/error.h"
#include "base/line_reader.h"
#include "config/config_data.h"
#include "engine/condition_line.h"
#include "fileops/file_install.h"
#include "fileops/run_journal.h"
#include "fileops/undo_store.h"
#include "messages/message_numbers.h"
#include "messages/nls_class.h"
#include "path/path_name.h"
#include "platform/files.h"
#include "profile/profile.h"

namespace {

// The journal of the run under way, in ARCHIVE.
const char kJournalName[] = "TVRUN.JNL";

// The longest path Windows names: MAX_PATH less the terminator.
constexpr std::size_t kMaxPathText = 259;

std::string numberedKey(const char* stem, int number) { return stem + std::to_string(number); }

}  // namespace

bool DataFile::namesPatch(const std::string& value, const std::string& patch) {
  if (!beginsWithNoCase(value, patch)) return false;
  if (value.size() == patch.size()) return true;
  const char next = value[patch.size()];
  return !((next >= '0' && next <= '9') || (next >= 'a' && next <= 'z') ||
           (next >= 'A' && next <= 'Z'));
}

namespace {

// Whether the profile's first line begins with the byte-order mark an editor
// puts before UTF-8 text.
bool beginsWithByteOrderMark(const Profile& profile) {
  return profile.lineCount() > 0 && profile.line(0).compare(0, 3, "\xEF\xBB\xBF") == 0;
}

}  // namespace

DataFile::DataFile(const std::string& dataFilePath, ConfigData* config, NLSClass* messages)
    : config(config),
      profile(),
      messages(messages),
      archiveDir(),
      archiveTempDir(),
      dataFilePath(dataFilePath),
      journal(),
      runIdentity(),
      failedEntries(false),
      lineWatch() {
  if (config->isDebug()) {
    messages->print("Opening installation profile\n");
  }
  profile = makeObject<Profile>(kModuleEngine, __LINE__, dataFilePath);
  if (config->isDebug()) {
    messages->print("Installation profile open\n");
  }
  archiveDir = pathJoin(config->getRootDir(), "ARCHIVE");
  archiveTempDir = pathJoin(archiveDir, "TEMP");
}

DataFile::~DataFile() {
  if (journal && config->getJournal() == journal.get()) config->setJournal(nullptr);
}

void DataFile::processProfile() {
  if (config->isDebug()) {
    messages->print("Processing installation profile\n");
  }
  // Behind the mark, "[Patch]" on the first line is no section header: every
  // condition would be lost, and the run would blame the product version.
  // Reading past the mark would hide what the profile checker reports.
  if (beginsWithByteOrderMark(*profile)) {
    messages->printError(kMessageBadProfile, "\n\t%s: begins with a UTF-8 byte-order mark",
                         dataFilePath.c_str());
    endRun();
  }
  takeProduct();
  std::string patchStr = profile->getString("Patch", "Patch", "");
  // What an earlier run left half done is finished, or stops this run,
  // before anything else looks at the product.
  resumeJournal(patchStr);
  completeInterruptedReplacement(archiveTempDir);
  if (config->isDebug()) {
    messages->print("Checking patch\n");
  }
  int nextPatch = 0;
  if (!patchStr.empty()) {
    if (isPatchInstalled(patchStr.c_str(), &nextPatch)) {
      // A journal left by a run cut off after it wrote the ledger is done
      // with.
      journal->end();
      if (config->isInteractive()) {
        messages->printError(kMessageAlreadyInstalled);
      }
      endRun();
    }
    if (config->isDebug()) {
      messages->print("Next Patch: %d\n", nextPatch);
    }
  }
  if (config->isDebug()) {
    messages->print("Checking Conditions\n");
  }
  processConditions();
  if (failedEntries) {
    // Recorded, the patch would never be tried again. The journal stays, so
    // that the next run follows the same decisions and finishes the entries.
    messages->printError(kMessagePatchNotRecorded);
    return;
  }
  if (!patchStr.empty()) {
    // What takes the patch off again is kept before the ledger names it, so
    // that no installed patch lacks it; a run cut off before the ledger
    // keeps it again.
    if (config->getPlatform() != kPlatformWin32s &&
        !UndoStore(archiveDir).keep(runIdentity, journal->getUndoSteps(), archiveTempDir)) {
      messages->printError(kMessageUndoNotKept);
    }
    // The Windows 95 family keeps the ledger in both copies; Windows NT only
    // in the Windows directory's, Win32s in neither.
    switch (config->getPlatform()) {
      case kPlatformWindows95:
        recordPatch(0, nextPatch, patchStr);
        recordPatch(1, nextPatch, patchStr);
        break;
      case kPlatformWindowsNt:
        recordPatch(0, nextPatch, patchStr);
        break;
      default:
        break;
    }
  }
  journal->end();
}

void DataFile::takeProduct() {
  // Without a product root the archive would land in the root of the current
  // drive, and the conditions would test a product that is not there.
  if (config->getRootDir().empty()) {
    messages->printError(kMessageProductNotInstalled);
    endRun();
  }
  createArchiveDirectories();
  // A second run at once would take this run's new files for the originals
  // and lose its INI edits, so it ends before it reads or changes anything.
  if (!productLock.take(archiveDir)) {
    messages->printError(kMessageProductBusy);
    endRun();
  }
}

void DataFile::resumeJournal(const std::string& patchStr) {
  RunJournal::Identity identity;
  identity.patch = patchStr;
  identity.profileDigest = RunJournal::digestOfFile(dataFilePath);
  identity.kind = config->getPlatform();
  resumeJournal(identity);
}

void DataFile::resumeJournal(const RunJournal::Identity& identity) {
  runIdentity = identity;
  journal = std::make_unique<RunJournal>(pathJoin(archiveDir, kJournalName));
  config->setJournal(journal.get());

  RunJournal::Standing standing = journal->read(identity);
  if (standing == RunJournal::Standing::kNone) return;
  const RunJournal::Identity found = journal->getFoundIdentity();
  if (standing == RunJournal::Standing::kSame && !journal->isRollingBack()) {
    const std::optional<RunJournal::Replacement>& step = journal->getUnfinishedReplacement();
    if (step) {
      // The new file cannot take its name: nothing else may happen before
      // it has, and the journal keeps the step for the next try.
      if (!finishReplacement(step->stagedPath, step->destPath, step->backupPath)) {
        throw Error(kErrorMove, step->stagedPath, kModuleEngine, __LINE__);
      }
      journal->endStep();
    }
    return;
  }
  if (standing == RunJournal::Standing::kUnreadable) {
    // Whoever's it is, it must not be written over.
    messages->printError(kMessageUnfinishedPatch, ": %s", journal->getPath().c_str());
    endRun();
  }
  // On another kind of Windows even the registry the journal speaks of may
  // be another: the patch is finished or rolled back there.
  if (standing == RunJournal::Standing::kOtherKind) {
    messages->printError(kMessageUnfinishedOtherKind, ": %s (%s)", found.patch.c_str(),
                         platformNameOf(found.kind));
    endRun();
  }
  // A removal cut off is finished, whoever's run finds it: taken back, it
  // would leave a patch half removed.
  if (isRemovalJournal(found)) {
    journal->read(found);
    finishRemoval(found.patch, false, true);
    journal->read(identity);
    return;
  }
  // Another run's journal. One whose patch is in the ledger was cut off
  // after it wrote the ledger, and nothing of it is left to do; any other
  // is rolled back, and this run starts afresh.
  int unused = 0;
  if (journal->isRollingBack() || found.patch.empty() ||
      !isPatchInstalled(found.patch.c_str(), &unused)) {
    rollBack(found.patch);
    reportLosingLongNames();
  } else {
    journal->end();
  }
  journal->read(identity);
}

void DataFile::createArchiveDirectories() {
  for (const std::string* directory : {&archiveDir, &archiveTempDir}) {
    // Paths are held to 259 characters, as Windows names them. A product
    // root that long may have been cut to the name of another directory, so
    // the run must not go on there; Windows itself refuses such a path.
    bool tooLong = directory->size() > kMaxPathText;
    if (!tooLong && platform::testPath(*directory).ok) {
      continue;
    }
    // A run started at the same moment may make it in between, and the
    // product's lock, which lives in it, cannot be taken before it exists.
    if (tooLong ||
        (!platform::makeDirectory(*directory).ok && !platform::testPath(*directory).ok)) {
      if (config->isInteractive()) {
        messages->printError(kMessageDirectoryNotCreated, " %s", directory->c_str());
      }
      endRun();
    }
  }
}

bool DataFile::isPatchInstalled(const char* patchStr, int* nextPatch) {
  assert(patchStr != nullptr && nextPatch != nullptr);
  std::string patch(patchStr);
  // Windows NT records a patch in the Windows directory's copy only: a patch
  // recorded there is installed, and a new one takes the first number free
  // there, or it would overwrite an earlier patch's record.
  std::vector<Profile*> ledgers = {config->getRootIni()};
  if (config->getPlatform() == kPlatformWindowsNt) ledgers.push_back(config->getWindowsIni());
  for (Profile* ledger : ledgers) {
    for (*nextPatch = 0;; ++*nextPatch) {
      std::string value = ledger->getString("Install", numberedKey("Patch", *nextPatch), "");
      if (value.empty()) break;
      if (namesPatch(value, patch)) {
        if (config->isDebug()) {
          messages->print("Patch already installed\n");
        }
        return true;
      }
    }
  }
  if (config->isDebug()) {
    messages->print("Patch *NOT* already installed\n");
  }
  return false;
}

void DataFile::recordPatch(int target, int number, const std::string& patchStr) {
  Profile* ledger = target == 0 ? config->getWindowsIni() : config->getRootIni();
  ledger->writeString("Install", numberedKey("Patch", number).c_str(), patchStr.c_str());
}

void DataFile::processConditions() {
  const std::map<int, std::vector<std::size_t>> groups = conditionGroupsOf(*profile);

  // A patch's own entries may change what its conditions test (a level it
  // raises, say), so a run cut off and started again follows the decisions
  // the first run took, as they were taken.
  const std::vector<std::optional<std::string>> recorded =
      journal ? journal->getDecisions() : std::vector<std::optional<std::string>>();

  int processed = 0;
  for (int group = 0;; ++group) {
    auto lines = groups.find(group);
    if (lines == groups.end()) {
      break;
    }
    std::size_t decided = static_cast<std::size_t>(group);
    bool holds = true;
    std::string branch;
    if (decided < recorded.size()) {
      holds = recorded[decided].has_value();
      branch = recorded[decided].value_or("");
    } else {
      holds = isGroupHolding(lines->second, &branch);
      // Without the record a cut-off run is still finished where its
      // conditions still hold; nothing is lost by going on.
      if (journal)
        journal->recordDecision(holds ? std::optional<std::string>(branch) : std::nullopt);
    }
    if (holds) {
      ++processed;
      processSection(branch);
    }
  }
  watchLine(Profile::kNoLine);
  if (processed == 0) {
    if (journal) journal->end();
    if (config->isInteractive()) {
      messages->printError(kMessageNoConditionMet, "\n%s",
                           messages->getMessage(kMessageNotApplicable));
    }
    endRun();
  }
}

bool DataFile::isGroupHolding(const std::vector<std::size_t>& positions, std::string* branch) {
  for (std::size_t position : positions) {
    watchLine(position);
    std::string condition = profile->line(position);
    if (!testCondition(condition)) {
      return false;
    }
    if (position == positions.front()) {
      *branch = condition;
    }
  }
  return true;
}

bool DataFile::fileExists(const std::string& path) {
  platform::Status status = platform::testPath(path);
  return status.ok || !status.notFound;
}

void DataFile::endRun() {
  // The driver leaves the objects of the run as they are: no teardown.
  throw Error(kErrorRunEnded, dataFilePath, kModuleEngine, __LINE__);
}
