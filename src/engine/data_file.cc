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
#include "messages/message_numbers.h"
#include "messages/nls_class.h"
#include "path/path_name.h"
#include "platform/files.h"
#include "profile/profile.h"

namespace {

// The decisions of the run under way, in ARCHIVE\TEMP.
const char kRunRecordName[] = "TVRUN.TXT";

// The longest path Windows names: MAX_PATH less the terminator.
constexpr std::size_t kMaxPathText = 259;

std::string numberedKey(const char* stem, int number) { return stem + std::to_string(number); }

}  // namespace

DataFile::DataFile(const std::string& dataFilePath, ConfigData* config, NLSClass* messages)
    : config(config),
      profile(),
      messages(messages),
      archiveDir(),
      archiveTempDir(),
      dataFilePath(dataFilePath) {
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

DataFile::~DataFile() = default;

void DataFile::processProfile() {
  if (config->isDebug()) {
    messages->print("Processing installation profile\n");
  }
  createArchiveDirectories();
  // A replacement that an earlier run left half done is finished before
  // anything else looks at the product.
  completeInterruptedReplacement(archiveTempDir);
  std::string patchStr = profile->getString("Patch", "Patch", "");
  if (config->isDebug()) {
    messages->print("Checking patch\n");
  }
  int nextPatch = 0;
  if (!patchStr.empty()) {
    if (isPatchInstalled(patchStr.c_str(), &nextPatch)) {
      // A record left by a run cut off after it wrote the ledger is done with.
      platform::deleteFile(runRecordPath());
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
  processConditions(patchStr);
  if (patchStr.empty()) {
    return;
  }
  // The Windows 95 family keeps the ledger in both copies; Windows NT only in
  // the Windows directory's, Win32s in neither.
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
  platform::deleteFile(runRecordPath());
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
    if (tooLong || !platform::makeDirectory(*directory).ok) {
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
      if (beginsWithNoCase(value, patch)) {
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

void DataFile::processConditions(const std::string& patchStr) {
  const std::map<int, std::vector<std::size_t>> groups = conditionGroupsOf(*profile);

  // A patch's own entries may change what its conditions test (a level it
  // raises, say), so a run cut off and started again follows the decisions
  // the first run took, as they were taken.
  RunRecord record;
  if (!patchStr.empty()) record = readRunRecord(patchStr);

  int processed = 0;
  for (int group = 0;; ++group) {
    auto lines = groups.find(group);
    if (lines == groups.end()) {
      break;
    }
    std::size_t decided = static_cast<std::size_t>(group);
    bool holds = true;
    std::string branch;
    if (decided < record.branches.size()) {
      holds = record.branches[decided].has_value();
      branch = record.branches[decided].value_or("");
    } else {
      holds = isGroupHolding(lines->second, &branch);
      if (!patchStr.empty()) {
        record.branches.push_back(holds ? std::optional<std::string>(branch) : std::nullopt);
        writeRunRecord(patchStr, record);
      }
    }
    if (holds) {
      ++processed;
      processSection(branch);
    }
  }
  if (processed == 0) {
    platform::deleteFile(runRecordPath());
    if (config->isInteractive()) {
      messages->printError(kMessageNoConditionMet, "\n%s",
                           messages->getMessage(kMessageNotApplicable));
    }
    endRun();
  }
}

bool DataFile::isGroupHolding(const std::vector<std::size_t>& positions, std::string* branch) {
  for (std::size_t position : positions) {
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

std::string DataFile::runRecordPath() const { return pathJoin(archiveTempDir, kRunRecordName); }

// The record holds the patch string on its first line, then one line per
// group decided so far: "1," and the section for a group that holds, "0,"
// for one that does not.
DataFile::RunRecord DataFile::readRunRecord(const std::string& patchStr) const {
  RunRecord record;
  std::string text;
  if (!platform::readWholeFile(runRecordPath(), &text).ok) return record;
  // A line without its end was cut short: the decision it held is taken
  // again.
  std::vector<std::string> lines;
  LineReader reader(text);
  std::string line;
  while (reader.next(&line) && reader.hasLineEnd()) lines.push_back(line);
  if (lines.empty() || lines[0] != "Patch=" + patchStr) return record;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.size() < 2 || line[1] != ',' || (line[0] != '0' && line[0] != '1')) break;
    record.branches.push_back(line[0] == '1' ? std::optional<std::string>(line.substr(2))
                                             : std::nullopt);
  }
  return record;
}

void DataFile::writeRunRecord(const std::string& patchStr, const RunRecord& record) const {
  std::string text = "Patch=" + patchStr + "\r\n";
  for (const std::optional<std::string>& branch : record.branches) {
    text += branch ? "1," + *branch + "\r\n" : "0,\r\n";
  }
  // Without the record a cut-off run is still finished where its conditions
  // still hold; nothing is lost by going on.
  platform::saveWholeFile(runRecordPath(), text);
}

bool DataFile::fileExists(const std::string& path) {
  platform::Status status = platform::testPath(path);
  return status.ok || !status.notFound;
}

void DataFile::endRun() {
  // No teardown: the objects of the run stay as they are, only the streams
  // (and with them the log) are flushed.
  std::fflush(stdout);
  std::fflush(stderr);
  std::exit(1);
}
