#include "engine/data_file.h"

#include <memory>
#include <string>
#include <vector>

#include "base/ascii_text.h"
#include "base/error.h"
#include "config/config_data.h"
#include "engine/entry_line.h"
#include "engine/entry_rules.h"
#include "fileops/substitute_class.h"
#include "messages/message_numbers.h"
#include "messages/nls_class.h"
#include "path/path_name.h"
#include "profile/profile.h"

void DataFile::processSection(const std::string& section) {
  std::size_t header = profile->findSection(section);
  if (config->isDebug()) {
    messages->print("Processing section: %s\n", section.c_str());
  }
  if (header == Profile::kNoLine) {
    messages->printError(kMessageBadProfile);
    return;
  }
  SubstituteClass substitutes('\\');
  substitutes.addEntry("TAVRO", config->getRootDir());
  substitutes.addEntry("WINDOWS", config->getWindowsDir());

  forEachEntryLine(*profile, header, [&](std::size_t position, const std::string& line) {
    watchLine(position);
    processEntry(line, substitutes);
    reportLosingLongNames();
  });
}

void DataFile::reportLosingLongNames() {
  for (const std::string& name : config->takeLosingLongNames()) {
    messages->printError(kMessageLongNameLost, ": %s", name.c_str());
  }
}

void DataFile::processEntry(const std::string& line, SubstituteClass& substitutes) {
  EntryKind kind = entryKindOf(line);
  switch (kind) {
    case EntryKind::kIni:
      processIniEntry(line, substitutes);
      break;
    case EntryKind::kReg:
      if (config->isDebug()) messages->print("\tRegistry\n");
      processRegistry(line);
      break;
    case EntryKind::kSubst:
      processSubstEntry(line, substitutes);
      break;
    case EntryKind::kFile:
      processFileEntry(line);
      break;
    case EntryKind::kFindFile:
      processFindFileEntry(line);
      break;
    case EntryKind::kRename:
    case EntryKind::kCopy:
      processRenameOrCopyEntry(line, kind);
      break;
    case EntryKind::kErase:
      processEraseEntry(line);
      break;
    case EntryKind::kReboot:
      processRebootEntry(line);
      break;
    case EntryKind::kUnknown:
      messages->printError(kMessageBadProfile);
      break;
  }
}

void DataFile::processIniEntry(const std::string& line, SubstituteClass& substitutes) {
  std::vector<EntryField> fields = splitEntryFields(line, 5);
  const EntryField& dir = fields[0];
  const EntryField& fileName = fields[1];
  const EntryField& section = fields[2];
  const EntryField& key = fields[3];
  EntryField& value = fields[4];
  // The value is expanded before anything is checked, and held whole: a
  // directory name makes it grow well past the length of the line.
  if (value) {
    substitutes.substituteLine(*value);
  }
  std::string baseDirectory;
  if (!isFilled(fileName) || !isFilled(section) ||
      !getBaseDirectory(fieldText(dir), &baseDirectory)) {
    messages->printError(kMessageBadProfile);
    return;
  }
  std::string path = pathJoin(baseDirectory, *fileName);
  if (config->isDebug()) {
    messages->print("\tINI\n");
    messages->print("\t\tfilename : %s\n", path.c_str());
    messages->print("\t\tsection  : %s\n", section->c_str());
    messages->print("\t\tkey      : %s\n", orNull(fieldText(key)));
    messages->print("\t\tvalue    : %s\n", orNull(fieldText(value)));
  }
  Profile* target = nullptr;
  if (equalsNoCase(*fileName, "TAVRO.INI")) {
    // The run configuration holds both product INI files open for the whole
    // run; a second Profile on the same file would write over its edits.
    if (equalsNoCase(*dir, "WINDOWS")) target = config->getWindowsIni();
    if (equalsNoCase(*dir, "TAVRO")) target = config->getRootIni();
  }
  std::unique_ptr<Profile> iniFile;
  if (target == nullptr) {
    try {
      iniFile = makeObject<Profile>(kModuleEngine, __LINE__, path);
    } catch (const Error&) {
      messages->printError(kMessageIniNotLoaded, ": %s", path.c_str());
      noteEntryFailed();
      return;
    }
    target = iniFile.get();
  }
  if (!recordIniUndo(target, *section, fieldText(key))) {
    // What the edit changes could not be recorded for a rollback.
    messages->printError(kMessageIniNotLoaded, ": %s", path.c_str());
    noteEntryFailed();
    return;
  }
  target->writeString(*section, fieldText(key), fieldText(value));
  if (iniFile) iniFile->close();
}

bool DataFile::recordIniUndo(Profile* target, const std::string& section, const char* key) {
  if (!journal) return true;
  std::vector<RunJournal::UndoStep> steps;
  const std::string& path = target->getPath();
  if (!fileExists(path)) {
    RunJournal::UndoStep created;
    created.kind = RunJournal::UndoStep::kCreated;
    created.path = path;
    steps.push_back(created);
  }
  RunJournal::UndoStep step;
  step.path = path;
  step.other = section;
  if (key == nullptr) {
    step.kind = RunJournal::UndoStep::kIniSection;
    std::size_t position = 0;
    const std::vector<std::string> lines = target->sectionLines(section, &position);
    if (lines.empty()) return journal->recordUndo(steps);
    step.size = position;
    for (const std::string& line : lines) step.value += line + "\n";
  } else {
    step.kind = RunJournal::UndoStep::kIniValue;
    step.key = key;
    step.present = target->findString(section, key, &step.value);
    // Where it stands, so that a key deleted comes back to its place.
    if (step.present) step.size = target->keyLine(section, key);
    // A key of a section the file lacks brings the section with it.
    step.type = target->findSection(section) == Profile::kNoLine ? 1 : 0;
  }
  steps.push_back(step);
  return journal->recordUndo(steps);
}

bool DataFile::getBaseDirectory(const char* component, std::string* directory) const {
  return baseDirectoryPath(component, *config, directory);
}

int DataFile::getOptionValue(const char* field, int defaultValue) {
  return optionValueOf(field, defaultValue);
}

void DataFile::applyDeferredRule() {
  if (config->isDeferred()) {
    config->setRebootNeeded(1);
    config->setDeferred(0);
  }
}
