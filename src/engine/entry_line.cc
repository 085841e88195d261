#include "engine/entry_line.h"

#include <cstddef>
#include <cstring>

#include "base/ascii_text.h"

namespace {

// The splitter works in place on one copy of the line: delimiters become
// terminators and escapes close up, so a field handed out stays valid until
// the next line is started. std::string::erase never reallocates, so earlier
// fields keep their addresses while later ones are scanned.
std::string workingCopy;
std::size_t fieldStart = 0;
std::size_t fieldEnd = 0;
bool lastFieldGiven = true;

}  // namespace

const char* nextField(const char* text, const char* delimiters) {
  if (text != nullptr) {
    workingCopy.assign(text);
    fieldStart = 0;
    lastFieldGiven = false;
  } else {
    if (lastFieldGiven) {
      return nullptr;
    }
    fieldStart = fieldEnd + 1;
  }
  std::size_t position = fieldStart;
  bool endedAtDelimiter = false;
  while (position < workingCopy.size()) {
    char c = workingCopy[position];
    if (c == '\\') {
      // The escaped character takes the backslash's place and is never a
      // delimiter; a backslash at the very end simply goes.
      workingCopy.erase(position, 1);
      if (position < workingCopy.size()) {
        ++position;
      }
    } else if (std::strchr(delimiters, c) != nullptr) {
      workingCopy[position] = '\0';
      endedAtDelimiter = true;
      break;
    } else {
      ++position;
    }
  }
  fieldEnd = position;
  if (!endedAtDelimiter) {
    lastFieldGiven = true;
  }
  return workingCopy.c_str() + fieldStart;
}

std::vector<EntryField> splitEntryFields(const std::string& line, std::size_t count) {
  std::vector<EntryField> fields(count);
  nextField(line.c_str(), "=");
  for (EntryField& field : fields) {
    const char* text = nextField(nullptr, ",");
    if (text == nullptr) break;
    field = text;
  }
  return fields;
}

void trimBlanks(std::string& text) {
  std::size_t end = text.size();
  while (end > 0 && isBlank(text[end - 1])) {
    --end;
  }
  std::size_t begin = 0;
  while (begin < end && isBlank(text[begin])) {
    ++begin;
  }
  text = text.substr(begin, end - begin);
}

bool isEntryOfKind(const std::string& line, const char* keyword) {
  if (!beginsWithNoCase(line, keyword)) {
    return false;
  }
  std::size_t position = std::strlen(keyword);
  while (position < line.size() && line[position] >= '0' && line[position] <= '9') {
    ++position;
  }
  return position == line.size() || line[position] == '=';
}

bool isIniEntry(const std::string& line) { return isEntryOfKind(line, "INI"); }
bool isRegEntry(const std::string& line) { return isEntryOfKind(line, "REG"); }
bool isSubstEntry(const std::string& line) { return isEntryOfKind(line, "SUBST"); }
bool isFileEntry(const std::string& line) { return isEntryOfKind(line, "FILE"); }
bool isFindFileEntry(const std::string& line) { return isEntryOfKind(line, "FINDFILE"); }
bool isRenameEntry(const std::string& line) { return isEntryOfKind(line, "RENAME"); }
bool isCopyEntry(const std::string& line) { return isEntryOfKind(line, "COPY"); }
bool isEraseEntry(const std::string& line) { return isEntryOfKind(line, "ERASE"); }
bool isRebootEntry(const std::string& line) { return isEntryOfKind(line, "REBOOT"); }

bool isCommentEntry(const std::string& line) {
  return line.compare(0, 2, "//") == 0 || line.compare(0, 1, ";") == 0;
}

EntryKind entryKindOf(const std::string& line) {
  // The order matters only where keywords share a beginning; it is kept as
  // the profile format defines it.
  if (isIniEntry(line)) return EntryKind::kIni;
  if (isRegEntry(line)) return EntryKind::kReg;
  if (isSubstEntry(line)) return EntryKind::kSubst;
  if (isFileEntry(line)) return EntryKind::kFile;
  if (isFindFileEntry(line)) return EntryKind::kFindFile;
  if (isRenameEntry(line)) return EntryKind::kRename;
  if (isCopyEntry(line)) return EntryKind::kCopy;
  if (isEraseEntry(line)) return EntryKind::kErase;
  if (isRebootEntry(line)) return EntryKind::kReboot;
  return EntryKind::kUnknown;
}

const char* entryKeyword(EntryKind kind) {
  switch (kind) {
    case EntryKind::kIni:
      return "INI";
    case EntryKind::kReg:
      return "REG";
    case EntryKind::kSubst:
      return "SUBST";
    case EntryKind::kFile:
      return "FILE";
    case EntryKind::kFindFile:
      return "FINDFILE";
    case EntryKind::kRename:
      return "RENAME";
    case EntryKind::kCopy:
      return "COPY";
    case EntryKind::kErase:
      return "ERASE";
    case EntryKind::kReboot:
      return "REBOOT";
    case EntryKind::kUnknown:
      break;
  }
  return "";
}
