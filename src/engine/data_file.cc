#include "engine/data_file.h"

#include <cassert>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "config/ascii_text.h"
#include "config/config_data.h"
#include "config/error.h"
#include "fileops/file_install.h"
#include "messages/nls_class.h"
#include "path/path_name.h"
#include "platform/files.h"
#include "profile/profile.h"

namespace {

// The longest path Windows names: MAX_PATH less the terminator.
constexpr std::size_t kMaxPathText = 259;

std::string numberedKey(const char* stem, int number) { return stem + std::to_string(number); }

// Whether line opens with "Condition", a group number written as %d writes
// it (no sign, no leading zero) and "="; the number goes to *group.
bool conditionGroupOf(const std::string& line, int* group) {
  const std::string stem = "Condition";
  if (!beginsWithNoCase(line, stem)) return false;
  std::size_t start = stem.size();
  std::size_t end = start;
  while (end < line.size() && line[end] >= '0' && line[end] <= '9') ++end;
  if (end == start || end == line.size() || line[end] != '=') return false;
  std::string digits = line.substr(start, end - start);
  if (digits.size() > 1 && digits[0] == '0') return false;
  if (digits.size() > std::to_string(INT_MAX).size()) return false;
  long long number = std::stoll(digits);
  if (number > INT_MAX) return false;
  *group = static_cast<int>(number);
  return true;
}

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
      if (config->isInteractive()) {
        printErrorLine(11);
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
        messages->printTo(stderr, "\n%c%s %s\n", kBel, messages->getMessage(12),
                          directory->c_str());
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

void DataFile::processConditions() {
  // One pass over section "Patch" sorts the condition lines into their
  // groups, in file order; scanning the whole section again for every group
  // would make a profile of many groups take quadratic time.
  std::map<int, std::vector<std::size_t>> groups;
  std::size_t header = profile->findSection("Patch");
  if (header != Profile::kNoLine) {
    for (std::size_t position = header + 1;
         position < profile->lineCount() && !Profile::isSectionHeader(profile->line(position));
         ++position) {
      int group = 0;
      if (conditionGroupOf(profile->line(position), &group)) {
        groups[group].push_back(position);
      }
    }
  }

  int processed = 0;
  for (int group = 0;; ++group) {
    auto lines = groups.find(group);
    if (lines == groups.end()) {
      break;
    }
    bool holds = true;
    std::string branch;
    for (std::size_t position : lines->second) {
      std::string condition = profile->line(position);
      if (!testCondition(condition)) {
        holds = false;
        break;
      }
      if (position == lines->second.front()) {
        branch = condition;
      }
    }
    if (holds) {
      ++processed;
      processSection(branch);
    }
  }
  if (processed == 0) {
    if (config->isInteractive()) {
      messages->printTo(stderr, "\n%c%s\n%s\n", kBel, messages->getMessage(9),
                        messages->getMessage(10));
    }
    endRun();
  }
}

bool DataFile::fileExists(const std::string& path) {
  platform::Status status = platform::testPath(path);
  return status.ok || !status.notFound;
}

void DataFile::printErrorLine(int message) {
  messages->printTo(stderr, "\n%c%s\n", kBel, messages->getMessage(message));
}

void DataFile::endRun() {
  // No teardown: the objects of the run stay as they are, only the streams
  // (and with them the log) are flushed.
  std::fflush(stdout);
  std::fflush(stderr);
  std::exit(1);
}
