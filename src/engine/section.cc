#include "engine/data_file.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "config/ascii_text.h"
#include "config/config_data.h"
#include "config/error.h"
#include "engine/entry_line.h"
#include "fileops/substitute_class.h"
#include "messages/nls_class.h"
#include "path/path_name.h"
#include "profile/profile.h"

namespace {}  // namespace

void DataFile::processSection(const std::string& section) {
  std::size_t header = profile->findSection(section);
  if (config->isDebug()) {
    messages->print("Processing section: %s\n", section.c_str());
  }
  if (header == Profile::kNoLine) {
    printErrorLine(18);
    return;
  }
  SubstituteClass substitutes('\\');
  substitutes.addEntry("TAVRO", config->getRootDir());
  substitutes.addEntry("WINDOWS", config->getWindowsDir());

  std::size_t position = header;
  if (Profile::isSectionHeader(profile->line(position))) {
    ++position;
  }
  for (; position < profile->lineCount() && !Profile::isSectionHeader(profile->line(position));
       ++position) {
    std::string line = profile->line(position);
    trimBlanks(line);
    if (line.empty() || isCommentEntry(line)) {
      continue;
    }
    // The order matters only where keywords share a beginning; it is kept as
    // the profile format defines it.
    if (isIniEntry(line)) {
      processIniEntry(line, substitutes);
    } else if (isRegEntry(line)) {
      if (config->isDebug()) {
        messages->print("\tRegistry\n");
      }
      processRegistry(line);
    } else if (isSubstEntry(line)) {
      processSubstEntry(line, substitutes);
    } else if (isFileEntry(line)) {
      processFileEntry(line);
    } else if (isFindFileEntry(line)) {
      processFindFileEntry(line);
    } else if (isRenameEntry(line)) {
      processRenameOrCopyEntry(line, false);
    } else if (isCopyEntry(line)) {
      processRenameOrCopyEntry(line, true);
    } else if (isEraseEntry(line)) {
      processEraseEntry(line);
    } else if (isRebootEntry(line)) {
      processRebootEntry(line);
    } else {
      printErrorLine(18);
    }
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
    printErrorLine(18);
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
  if (equalsNoCase(*fileName, "TAVRO.INI")) {
    // The run configuration holds both product INI files open for the whole
    // run; a second Profile on the same file would write over its edits.
    if (equalsNoCase(*dir, "WINDOWS")) {
      config->getWindowsIni()->writeString(*section, fieldText(key), fieldText(value));
      return;
    }
    if (equalsNoCase(*dir, "TAVRO")) {
      config->getRootIni()->writeString(*section, fieldText(key), fieldText(value));
      return;
    }
  }
  std::unique_ptr<Profile> iniFile;
  try {
    iniFile = makeObject<Profile>(kModuleEngine, __LINE__, path);
  } catch (const Error&) {
    messages->printTo(stderr, "\n%c%s: %s\n", kBel, messages->getMessage(15), path.c_str());
    return;
  }
  iniFile->writeString(*section, fieldText(key), fieldText(value));
  iniFile->close();
}

bool DataFile::getBaseDirectory(const char* component, std::string* directory) const {
  if (component == nullptr) {
    return false;
  }
  if (equalsNoCase(component, "WINDOWS")) {
    *directory = config->getWindowsDir();
    return true;
  }
  if (equalsNoCase(component, "TAVRO")) {
    *directory = config->getRootDir();
    return true;
  }
  return false;
}

int DataFile::getOptionValue(const char* field, int defaultValue) {
  if (field == nullptr) {
    return defaultValue;
  }
  char* end = nullptr;
  long value = std::strtol(field, &end, 10);
  if (end == field) {
    return defaultValue;
  }
  if (value > INT_MAX) {
    return INT_MAX;
  }
  if (value < INT_MIN) {
    return INT_MIN;
  }
  return static_cast<int>(value);
}

void DataFile::applyDeferredRule() {
  if (config->isDeferred()) {
    config->setRebootNeeded(1);
    config->setDeferred(0);
  }
}
