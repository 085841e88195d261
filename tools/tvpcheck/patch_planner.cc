#include "patch_planner.h"

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "base/ascii_text.h"
#include "base/decimal_number.h"
#include "base/error.h"
#include "config/config_data.h"
#include "driver/startup.h"
#include "engine/condition_line.h"
#include "engine/data_file.h"
#include "engine/entry_line.h"
#include "engine/entry_rules.h"
#include "fileops/substitute_class.h"
#include "messages/nls_class.h"
#include "path/path_name.h"
#include "platform/system.h"
#include "profile/profile.h"

namespace {

std::string upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// How a condition compares, by its mode number; conditionModeOf gives only
// the numbers 0 to 4, and any other reads as "at or after" there too.
const char* modeText(int mode) {
  static const char* const kModeTexts[] = {"any value", "equal to", "at or after", "at or before",
                                           "between"};
  if (mode < kConditionModeAny || mode > kConditionModeBetween) mode = kConditionModeAtOrAfter;
  return kModeTexts[mode];
}

// The date word carries the year in its high bits and the time word the
// hour, so the words compare as numbers, date first, as the copy does.
int compareStamps(const platform::DosStamp& a, const platform::DosStamp& b) {
  if (a.date != b.date) return a.date < b.date ? -1 : 1;
  if (a.time != b.time) return a.time < b.time ? -1 : 1;
  return 0;
}

bool hasOldExtension(const std::string& path) {
  std::string ext;
  pathSplit(path, nullptr, nullptr, nullptr, &ext);
  return equalsNoCase(ext, ".OLD");
}

// A directory path without the separator a join left at its end.
std::string withoutTrailingSeparator(std::string path) {
  while (path.size() > 1 && (path.back() == '\\' || path.back() == '/') &&
         !(path.size() == 3 && path[1] == ':')) {
    path.pop_back();
  }
  return path;
}

// The registry key a REG or condition line names, as one text: the root as
// written, then the path.
std::string keyText(const std::string& root, const EntryField& path) {
  return isFilled(path) ? root + "\\" + *path : root;
}

constexpr const char* kMissing = "\x01";

}  // namespace

PatchPlanner::PatchPlanner(Profile* profile, const std::string& profilePath,
                           const std::string& patchDir)
    : profile(profile),
      profilePath(profilePath),
      patchDir(patchDir),
      config(),
      tavroProfiles(),
      lines(),
      files(),
      iniKeys(),
      deletedIniSections(),
      registryChanges() {}

PatchPlanner::~PatchPlanner() = default;

std::string PatchPlanner::format(const std::string& profileName) const {
  std::string text;
  for (const PlanLine& line : lines) {
    text += profileName;
    if (line.line != 0) text += ":" + std::to_string(line.line);
    text += ": plan: " + line.text + "\n";
  }
  return text;
}

void PatchPlanner::add(std::size_t position, const std::string& text) {
  lines.push_back({position == Profile::kNoLine ? 0 : position + 1, text});
}

void PatchPlanner::plan() {
  lines.clear();
  std::string windowsDirectory;
  if (!platform::getWindowsDirectory(&windowsDirectory).ok ||
      windowsDirectory.size() > ConfigData::kMaxText) {
    add(Profile::kNoLine, "the Windows directory is unknown: the run stops (exit code 1)");
    return;
  }
  // The same start as a run: the Windows directory's TAVRO.INI names the
  // product root, the product root's holds the ledger. Both are only read.
  config = createConfigData(windowsDirectory, &tavroProfiles);
  config->setProgramDir(pathJoin(patchDir, ""));
  config->setForce(profile->getInt("Patch", "Force", 0));
  config->setBackup(profile->getInt("Patch", "Backup", 1));
  config->setRebootProgram(profile->getString("Patch", "Reboot Program", ""));

  add(Profile::kNoLine, std::string("this machine runs ") + platformNameOf(config->getPlatform()) +
                            "; Windows directory " + config->getWindowsDir() + ", product root " +
                            config->getRootDir());

  std::string archive = pathJoin(config->getRootDir(), "ARCHIVE");
  if (!isDirectoryHere(archive) && !isDirectoryHere(config->getRootDir())) {
    add(Profile::kNoLine, "the product root " + config->getRootDir() +
                              " does not exist: ARCHIVE cannot be made there, the run stops "
                              "(exit code 1)");
    return;
  }

  NLSClass messages("");
  DataFile dataFile(profilePath, config.get(), &messages);
  std::string patch = profile->getString("Patch", "Patch", "");
  int nextPatch = 0;
  if (!patch.empty()) {
    if (dataFile.isPatchInstalled(patch.c_str(), &nextPatch)) {
      add(Profile::kNoLine,
          "patch " + patch + " is installed already: the run stops (exit code 1)");
      return;
    }
    add(Profile::kNoLine, "patch " + patch + " is not installed yet");
  }

  if (planConditionGroups() == 0) {
    add(Profile::kNoLine, "no condition group holds: the run stops (exit code 1)");
    return;
  }
  planEnd(patch, nextPatch);
}

int PatchPlanner::planConditionGroups() {
  const std::map<int, std::vector<std::size_t>> groups = conditionGroupsOf(*profile);
  int processed = 0;
  for (int group = 0;; ++group) {
    auto found = groups.find(group);
    if (found == groups.end()) break;
    std::string reason;
    std::size_t failed = Profile::kNoLine;
    for (std::size_t position : found->second) {
      if (!evaluateCondition(profile->line(position), &reason)) {
        failed = position;
        break;
      }
    }
    std::string name = "condition group " + std::to_string(group);
    if (failed != Profile::kNoLine) {
      add(failed, name + " does not hold: " + reason);
      continue;
    }
    ++processed;
    std::string branch =
        parseConditionLine(profile->line(found->second.front())).branch.value_or("");
    add(found->second.front(), name + " holds: section [" + branch + "] is carried out");
    // Each section runs before the next group is evaluated, so a later group
    // sees what this section changed.
    planSection(branch);
  }
  return processed;
}

void PatchPlanner::planEnd(const std::string& patch, int nextPatch) {
  if (!patch.empty()) {
    std::string key = "Patch" + std::to_string(nextPatch);
    switch (config->getPlatform()) {
      case kPlatformWindows95:
        add(Profile::kNoLine,
            "patch " + patch + " is recorded as " + key + " in both TAVRO.INI files");
        break;
      case kPlatformWindowsNt:
        add(Profile::kNoLine,
            "patch " + patch + " is recorded as " + key + " in the Windows directory's TAVRO.INI");
        break;
      default:
        add(Profile::kNoLine, "patch " + patch + " is not recorded: Win32s keeps no ledger");
        break;
    }
  }
  if (!config->isRebootNeeded()) {
    add(Profile::kNoLine, "no restart is needed");
  } else if (config->getRebootProgram().empty()) {
    add(Profile::kNoLine, "a restart is needed: the user is asked to restart Windows");
  } else {
    add(Profile::kNoLine,
        "a restart is needed: the reboot program " + config->getRebootProgram() + " is started");
  }
}

bool PatchPlanner::evaluateCondition(const std::string& line, std::string* reason) {
  ConditionLine condition = parseConditionLine(line);
  if (!isFilled(condition.fourth) || !isFilled(condition.os) ||
      (!condition.isRegistry && !isFilled(condition.key))) {
    *reason = "a field it needs is empty or missing";
    return false;
  }
  int os = 0;
  if (!readDecimalNumber(condition.os->c_str(), &os) || os != config->getPlatform()) {
    *reason = "it is for OS " + *condition.os + ", this machine is " +
              std::to_string(config->getPlatform()) + " (" + platformNameOf(config->getPlatform()) +
              ")";
    return false;
  }
  std::string value;
  std::string what;
  if (condition.isRegistry) {
    what = keyText(*condition.fourth, condition.path) +
           (isFilled(condition.key) ? "\\" + *condition.key : std::string());
    switch (lookUpConditionValue(condition, tavroProfiles.rootIni.get(), &value)) {
      case ConditionLookup::kKeyNotOpened:
        *reason = "the registry key " + keyText(*condition.fourth, condition.path) +
                  " cannot be opened (an error line is written)";
        return false;
      case ConditionLookup::kValueNotRead:
        *reason = "the default value of " + what + " cannot be read (an error line is written)";
        return false;
      case ConditionLookup::kFound:
        break;
    }
  } else {
    what =
        "[" + *condition.fourth + "] " + *condition.key + " of " + tavroProfiles.rootIni->getPath();
    if (!iniValue(tavroProfiles.rootIni->getPath(), *condition.fourth, *condition.key, &value))
      value.clear();
  }
  if (value.empty()) {
    *reason = what + " has no value";
    return false;
  }
  trimBlanks(value);
  if (conditionValueHolds(value, condition)) return true;
  std::string start = condition.start.value_or("");
  trimBlanks(start);
  *reason = what + " is " + quoted(value) + ", not " + modeText(conditionModeOf(condition.mode)) +
            " " + quoted(start);
  if (conditionModeOf(condition.mode) == kConditionModeBetween && condition.end) {
    std::string end = *condition.end;
    trimBlanks(end);
    *reason += " and " + quoted(end);
  }
  return false;
}

void PatchPlanner::planSection(const std::string& section) {
  std::size_t header = profile->findSection(section);
  if (header == Profile::kNoLine) {
    add(Profile::kNoLine, "section [" + section + "] does not exist: an error line is written");
    return;
  }
  SubstituteClass substitutes('\\');
  substitutes.addEntry("TAVRO", config->getRootDir());
  substitutes.addEntry("WINDOWS", config->getWindowsDir());
  forEachEntryLine(*profile, header, [&](std::size_t position, const std::string& line) {
    planEntry(position, line, substitutes);
  });
}

void PatchPlanner::planEntry(std::size_t position, const std::string& line,
                             SubstituteClass& substitutes) {
  switch (EntryKind kind = entryKindOf(line)) {
    case EntryKind::kIni:
      planIniEntry(position, line, substitutes);
      break;
    case EntryKind::kReg:
      planRegEntry(position, line);
      break;
    case EntryKind::kSubst:
    case EntryKind::kFile:
    case EntryKind::kFindFile:
      planFileEntry(position, line, kind);
      break;
    case EntryKind::kRename:
    case EntryKind::kCopy:
    case EntryKind::kErase:
      planLocalEntry(position, line, kind);
      break;
    case EntryKind::kReboot:
      planRebootEntry(line);
      break;
    case EntryKind::kUnknown:
      add(position, "a line of no known kind: fails (an error line is written)");
      break;
  }
}

void PatchPlanner::planIniEntry(std::size_t position, const std::string& line,
                                SubstituteClass& substitutes) {
  std::vector<EntryField> fields = splitEntryFields(line, 5);
  EntryField& value = fields[4];
  if (value) substitutes.substituteLine(*value);
  std::string base;
  if (!isFilled(fields[1]) || !isFilled(fields[2]) || !baseDirectory(fields[0], &base)) {
    add(position, "INI: fails: the entry is unusable (an error line is written)");
    return;
  }
  std::string path = pathJoin(base, *fields[1]);
  const std::string& section = *fields[2];
  std::string fileKey = pathNameKey(path);
  std::string sectionKey = fileKey + "\n" + upper(section);
  std::string head = "INI " + path + " [" + section + "]";
  if (!fields[3]) {
    bool present = false;
    for (const auto& [key, state] : iniKeys) {
      present |= key.compare(0, sectionKey.size() + 1, sectionKey + "\n") == 0 && state.first;
    }
    if (!present && deletedIniSections.count(sectionKey) == 0) {
      Profile file(path);
      present = file.findSection(section) != Profile::kNoLine;
    }
    add(position, head + " deleted" + (present ? "" : " (not there)"));
    for (auto it = iniKeys.begin(); it != iniKeys.end();) {
      it = it->first.compare(0, sectionKey.size() + 1, sectionKey + "\n") == 0 ? iniKeys.erase(it)
                                                                               : std::next(it);
    }
    deletedIniSections.insert(sectionKey);
    return;
  }
  const std::string& key = *fields[3];
  std::string old;
  bool had = iniValue(path, section, key, &old);
  std::string was = had ? " (was " + quoted(old) + ")" : " (new key)";
  if (!value) {
    add(position,
        head + " " + key + " deleted" + (had ? " (was " + quoted(old) + ")" : " (not there)"));
    iniKeys[sectionKey + "\n" + upper(key)] = {false, ""};
    return;
  }
  add(position, head + " " + key + "=" + *value + was);
  iniKeys[sectionKey + "\n" + upper(key)] = {true, *value};
}

void PatchPlanner::planRegEntry(std::size_t position, const std::string& line) {
  std::vector<EntryField> fields = splitEntryFields(line, 4);
  EntryField& value = fields[3];
  if (value) {
    SubstituteClass substitutes('\\');
    substitutes.addEntry("TAVRO", config->getRootDir());
    substitutes.addEntry("WINDOWS", config->getWindowsDir());
    substitutes.substituteLine(*value);
  }
  platform::RegistryRoot root;
  if (!isFilled(fields[0]) || !findEntryRoot(*fields[0], &root) ||
      registryActionOf(fields[1], fields[2], value) == RegistryAction::kRefused) {
    add(position, "REG: fails: the entry is unusable (an error line is written)");
    return;
  }
  std::string rootName = upper(*fields[0]);
  std::string key = keyText(rootName, fields[1]);
  std::string path = fields[1].value_or("");
  std::string name = isFilled(fields[2]) ? quoted(*fields[2]) : std::string("the default value");
  switch (registryActionOf(fields[1], fields[2], value)) {
    case RegistryAction::kSetValue:
      add(position, "REG " + key + ": sets " + name + " to " + quoted(*value));
      registryChanges.emplace_back(upper(key), true);
      break;
    case RegistryAction::kDeleteValue:
      if (!registryKeyExists(rootName, path)) {
        add(position, "REG " + key + ": fails: the key does not exist (an error line is written)");
      } else {
        add(position, "REG " + key + ": deletes the value " + name);
      }
      break;
    case RegistryAction::kDeleteTree:
      if (!registryKeyExists(rootName, path)) {
        add(position, "REG " + key + ": fails: the key does not exist (an error line is written)");
      } else {
        add(position, "REG " + key + ": deletes the key and everything below it");
        registryChanges.emplace_back(upper(key), false);
      }
      break;
    case RegistryAction::kRefused:
      break;
  }
}

void PatchPlanner::planFileEntry(std::size_t position, const std::string& line, EntryKind kind) {
  const char* keyword = entryKeyword(kind);
  bool isFindFile = kind == EntryKind::kFindFile;
  std::vector<EntryField> fields = splitEntryFields(line, isFindFile ? 6 : 7);
  if (isFindFile) fields.insert(fields.begin() + 3, std::nullopt);
  int force = optionValueOf(fieldText(fields[4]), config->isForce() ? 1 : 0);
  int backup = optionValueOf(fieldText(fields[5]), config->isBackup() ? 1 : 0);
  int compress = optionValueOf(fieldText(fields[6]), 0);
  std::string base;
  if (!isFilled(fields[1]) || !baseDirectory(fields[0], &base)) {
    add(position,
        std::string(keyword) + ": fails: the entry is unusable (an error line is written)");
    return;
  }
  std::string targetDir;
  if (kind == EntryKind::kSubst) {
    targetDir = pathJoin(base, fields[2].value_or(""));
  } else {
    targetDir = isFilled(fields[2]) ? pathJoin(base, *fields[2]) : base;
  }
  if (!DataFile::fileExists(targetDir)) {
    add(position, std::string(keyword) + " " + targetDir +
                      ": fails: the directory does not exist (an error line is written)");
    return;
  }
  if (isFindFile) {
    planFindFile(position, targetDir, *fields[1], force, backup, compress);
    return;
  }
  std::string targetName = isFilled(fields[3]) ? *fields[3] : *fields[1];
  std::string targetPath = pathSetFileName(pathJoin(targetDir, ""), targetName);
  std::string sourcePath = pathSetFileName(config->getProgramDir(), *fields[1]);
  std::string text = std::string(keyword) + " " + targetPath + ": ";
  if (compress != 0) {
    text += "not copied (compress is set)";
  } else {
    bool wasDeferred = false;
    text += planCopy(sourcePath, targetPath, force, backup, &wasDeferred);
    deferred(wasDeferred);
  }
  if (kind == EntryKind::kSubst) text += "; then \\TAVRO and \\WINDOWS are filled in";
  add(position, text);
}

void PatchPlanner::planFindFile(std::size_t position, const std::string& targetDir,
                                const std::string& name, int force, int backup, int compress) {
  int found = 0;
  DataFile::visitDirectoriesHolding(targetDir, name, [&](const std::string& directoryPart) {
    ++found;
    std::string text = "FINDFILE " + pathSetFileName(directoryPart, name) + ": ";
    if (compress != 0) {
      text += "not copied (compress is set)";
    } else {
      bool wasDeferred = false;
      text += planCopy(pathSetFileName(config->getProgramDir(), name),
                       pathSetFileName(directoryPart, name), force, backup, &wasDeferred);
      deferred(wasDeferred);
    }
    add(position, text);
  });
  if (found == 0) {
    add(position, "FINDFILE " + targetDir + ": no directory of the tree holds " + name +
                      ": nothing is copied");
  }
}

void PatchPlanner::planLocalEntry(std::size_t position, const std::string& line, EntryKind kind) {
  const char* keyword = entryKeyword(kind);
  bool isErase = kind == EntryKind::kErase;
  std::vector<EntryField> fields = splitEntryFields(line, isErase ? 3 : 5);
  if (!isFilled(fields[1]) || (!isErase && !isFilled(fields[2]))) {
    add(position, std::string(keyword) + ": skipped without a word: a name is missing");
    return;
  }
  std::string base;
  if (!baseDirectory(fields[0], &base)) {
    add(position,
        std::string(keyword) + ": fails: the entry is unusable (an error line is written)");
    return;
  }
  std::string sourcePath = pathJoin(base, *fields[1]);
  if (isErase) {
    planErase(position, sourcePath,
              optionValueOf(fieldText(fields[2]), config->isBackup() ? 1 : 0));
    return;
  }

  int force = optionValueOf(fieldText(fields[3]), config->isForce() ? 1 : 0);
  int backup = optionValueOf(fieldText(fields[4]), config->isBackup() ? 1 : 0);
  std::string destinationPath = pathJoin(base, *fields[2]);
  if (kind == EntryKind::kCopy) {
    bool wasDeferred = false;
    std::string text = "COPY " + destinationPath + " from " + sourcePath + ": ";
    text += planCopy(sourcePath, destinationPath, force, backup, &wasDeferred);
    deferred(wasDeferred);
    add(position, text);
    return;
  }

  planRename(position, sourcePath, destinationPath, force, backup);
}

void PatchPlanner::planErase(std::size_t position, const std::string& sourcePath, int backup) {
  std::string text = "ERASE " + sourcePath + ": ";
  FileState file = fileAt(sourcePath);
  if (!file.exists) {
    add(position, text + "nothing to do, the file is not there");
    return;
  }
  if (backup != 0 && !hasOldExtension(sourcePath)) {
    std::string backupPath = pathSetExt(sourcePath, ".OLD");
    add(position, text + "renamed to " + backupPath + " now");
    setFile(backupPath, file);
  } else {
    add(position, text + "deleted now");
  }
  setFile(sourcePath, FileState());
}

void PatchPlanner::planRename(std::size_t position, const std::string& sourcePath,
                              const std::string& destinationPath, int force, int backup) {
  std::string destinationDir = withoutTrailingSeparator(pathDriveDir(destinationPath));
  std::string text = "RENAME " + sourcePath + " to " + destinationPath + ": ";
  FileState source = fileAt(sourcePath);
  if (!source.exists) {
    add(position, text + "fails: the source does not exist (an error line is written)");
    return;
  }
  if (!isDirectoryHere(destinationDir)) {
    add(position, text + "fails: " + missingDirectory(destinationDir));
    return;
  }
  FileState destination = fileAt(destinationPath);
  if (destination.exists && backup != 0 && !hasOldExtension(destinationPath)) {
    std::string backupPath = pathSetExt(destinationPath, ".OLD");
    text += "now, keeping the file there as " + backupPath;
    setFile(backupPath, destination);
  } else if (destination.exists && force != 0) {
    text += "now, replacing the file there";
  } else if (destination.exists) {
    text += "waits for the restart: the file there is neither backed up nor forced away";
    deferred(true);
    add(position, text);
    return;
  } else {
    text += "now";
  }
  setFile(destinationPath, source);
  setFile(sourcePath, FileState());
  add(position, text);
}

void PatchPlanner::planRebootEntry(const std::string& line) {
  std::vector<EntryField> fields = splitEntryFields(line, 2);
  config->setRebootNeeded(optionValueOf(fieldText(fields[0]), config->getRebootNeeded()));
  if (isFilled(fields[1])) config->setRebootProgram(*fields[1]);
}

std::string PatchPlanner::planCopy(const std::string& sourcePath, const std::string& targetPath,
                                   int force, int backup, bool* deferredCopy) {
  FileState source = fileAt(sourcePath);
  if (!source.exists || !source.readable || source.isDirectory) {
    return "fails: " + sourcePath + " cannot be read (an error line is written)";
  }
  std::string targetDir = withoutTrailingSeparator(pathDriveDir(targetPath));
  if (!isDirectoryHere(targetDir)) return "fails: " + missingDirectory(targetDir);
  FileState target = fileAt(targetPath);
  if (target.isDirectory) {
    return "fails: a directory stands at the target (an error line is written)";
  }
  bool existed = target.exists && target.readable;
  int order = existed ? compareStamps(target.stamp, source.stamp) : -1;
  if (existed && force == 0 && order >= 0) {
    return order == 0 ? "skipped (same time stamp)" : "skipped (the installed file is newer)";
  }
  std::string text;
  if (!existed) {
    text = "install (no file there)";
  } else if (order < 0) {
    text = "install (newer than the installed file)";
  } else {
    text = order == 0 ? "forced (same time stamp)" : "forced (over a newer file)";
  }
  std::string restart = config->getPlatform() == kPlatformWin32s
                            ? "waits in ARCHIVE\\TEMP: Win32s replaces nothing at a restart"
                            : "waits for the restart";
  if (target.exists && !target.readable) {
    *deferredCopy = true;
    return text + "; " + restart + ": the file there cannot be opened";
  }
  if (existed && (backup == 0 || hasOldExtension(targetPath))) {
    *deferredCopy = true;
    return text + "; " + restart + ": no backup moves the installed file away";
  }
  if (existed) {
    std::string backupPath = pathSetExt(targetPath, ".OLD");
    setFile(backupPath, target);
    text += "; now, keeping the installed file as " + backupPath +
            " (at the restart instead while it is in use)";
  } else {
    text += "; now";
  }
  FileState copied = source;
  setFile(targetPath, copied);
  return text;
}

bool PatchPlanner::baseDirectory(const EntryField& field, std::string* directory) const {
  return baseDirectoryPath(fieldText(field), *config, directory);
}

PatchPlanner::FileState PatchPlanner::fileAt(const std::string& path) {
  auto found = files.find(pathNameKey(path));
  if (found != files.end()) return found->second;
  FileState state;
  platform::Status status = platform::testPath(path);
  if (status.notFound) return state;
  state.exists = true;
  std::vector<platform::DirectoryEntry> entries;
  if (platform::listDirectory(path, &entries).ok) {
    state.isDirectory = true;
    return state;
  }
  platform::FileHandle file;
  if (platform::openFileForReading(path, &file).ok) {
    state.readable = platform::getFileStamp(file, &state.stamp).ok;
    platform::closeFile(file);
  }
  return state;
}

void PatchPlanner::setFile(const std::string& path, const FileState& state) {
  files[pathNameKey(path)] = state;
}

std::string PatchPlanner::missingDirectory(const std::string& path) {
  // A file where the directory should be fails the same way as nothing.
  return (fileAt(path).exists ? path + " is not a directory"
                              : "the directory " + path + " does not exist") +
         " (an error line is written)";
}

bool PatchPlanner::isDirectoryHere(const std::string& path) {
  FileState state = fileAt(path);
  return state.exists && state.isDirectory;
}

bool PatchPlanner::iniValue(const std::string& path, const std::string& section,
                            const std::string& key, std::string* value) {
  std::string sectionKey = pathNameKey(path) + "\n" + upper(section);
  auto found = iniKeys.find(sectionKey + "\n" + upper(key));
  if (found != iniKeys.end()) {
    *value = found->second.second;
    return found->second.first;
  }
  if (deletedIniSections.count(sectionKey) != 0) return false;
  // The two TAVRO.INI files are read through the run's own objects, as the
  // run edits them; any other file through a Profile of its own.
  std::string text;
  if (pathNameKey(path) == pathNameKey(tavroProfiles.windowsIni->getPath())) {
    text = tavroProfiles.windowsIni->getString(section, key, kMissing);
  } else if (pathNameKey(path) == pathNameKey(tavroProfiles.rootIni->getPath())) {
    text = tavroProfiles.rootIni->getString(section, key, kMissing);
  } else {
    Profile file(path);
    text = file.getString(section, key, kMissing);
  }
  if (text == kMissing) return false;
  *value = text;
  return true;
}

bool PatchPlanner::registryKeyExists(const std::string& root, const std::string& path) {
  platform::RegistryRoot rootKey;
  findEntryRoot(root, &rootKey);
  platform::RegistryKey opened;
  bool exists = platform::openRegistryKey(platform::getRootKey(rootKey),
                                          path.empty() ? nullptr : path.c_str(),
                                          platform::RegistryAccess::kRead, &opened)
                    .ok;
  if (exists) platform::closeRegistryKey(opened);
  std::string wanted = upper(path.empty() ? root : root + "\\" + path);
  for (const auto& [key, created] : registryChanges) {
    bool within = [](const std::string& inner, const std::string& outer) {
      return inner == outer ||
             (inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 &&
              inner[outer.size()] == '\\');
    }(created ? key : wanted, created ? wanted : key);
    if (within) exists = created;
  }
  return exists;
}

void PatchPlanner::deferred(bool wasDeferred) {
  if (wasDeferred) config->setRebootNeeded(1);
}
