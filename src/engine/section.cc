#include "engine/data_file.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "config/config_data.h"
#include "config/error.h"
#include "engine/entry_line.h"
#include "fileops/substitute_class.h"
#include "messages/nls_class.h"
#include "path/path_name.h"
#include "profile/profile.h"

namespace {

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsNoCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (lowerAscii(*a) != lowerAscii(*b)) {
      return false;
    }
  }
  return *a == '\0' && *b == '\0';
}

// A field kept beyond the next call of the splitter.
struct Field {
  bool present = false;
  std::string text;

  void take(const char* field) {
    present = field != nullptr;
    text = present ? field : "";
  }
  bool isEmpty() const { return !present || text.empty(); }
  const char* get() const { return present ? text.c_str() : nullptr; }
};

}  // namespace

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
      processRenameEntry(line);
    } else if (isCopyEntry(line)) {
      processCopyEntry(line);
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
  Field dir, fileName, section, key, value;
  nextField(line.c_str(), "=");
  dir.take(nextField(nullptr, ","));
  fileName.take(nextField(nullptr, ","));
  section.take(nextField(nullptr, ","));
  key.take(nextField(nullptr, ","));
  value.take(nextField(nullptr, ","));
  // The value is expanded before anything is checked, and held whole: a
  // directory name makes it grow well past the length of the line.
  if (value.present) {
    substitutes.substituteLine(value.text);
  }
  std::string baseDirectory;
  if (fileName.isEmpty() || section.isEmpty() || !getBaseDirectory(dir.get(), &baseDirectory)) {
    printErrorLine(18);
    return;
  }
  std::string path = pathJoin(baseDirectory, fileName.text);
  if (config->isDebug()) {
    messages->print("\tINI\n");
    messages->print("\t\tfilename : %s\n", path.c_str());
    messages->print("\t\tsection  : %s\n", section.text.c_str());
    messages->print("\t\tkey      : %s\n", orNull(key.get()));
    messages->print("\t\tvalue    : %s\n", orNull(value.get()));
  }
  if (equalsNoCase(fileName.text.c_str(), "TAVRO.INI")) {
    // The run configuration holds both product INI files open for the whole
    // run; a second Profile on the same file would write over its edits.
    if (equalsNoCase(dir.get(), "WINDOWS")) {
      config->getWindowsIni()->writeString(section.text, key.get(), value.get());
      return;
    }
    if (equalsNoCase(dir.get(), "TAVRO")) {
      config->getRootIni()->writeString(section.text, key.get(), value.get());
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
  iniFile->writeString(section.text, key.get(), value.get());
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
