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

// Every kind of entry with its keyword, in the order the walk tests them. The
// order matters only where keywords share a beginning; it is kept as the
// profile format defines it.
struct KindKeyword {
  EntryKind kind;
  const char* keyword;
};
constexpr KindKeyword kKindKeywords[] = {
    {EntryKind::kIni, "INI"},   {EntryKind::kReg, "REG"},           {EntryKind::kSubst, "SUBST"},
    {EntryKind::kFile, "FILE"}, {EntryKind::kFindFile, "FINDFILE"}, {EntryKind::kRename, "RENAME"},
    {EntryKind::kCopy, "COPY"}, {EntryKind::kErase, "ERASE"},       {EntryKind::kReboot, "REBOOT"},
};

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

bool isCommentEntry(const std::string& line) {
  return line.compare(0, 2, "//") == 0 || line.compare(0, 1, ";") == 0;
}

EntryKind entryKindOf(const std::string& line) {
  for (const KindKeyword& entry : kKindKeywords) {
    if (isEntryOfKind(line, entry.keyword)) return entry.kind;
  }
  return EntryKind::kUnknown;
}

const char* entryKeyword(EntryKind kind) {
  for (const KindKeyword& entry : kKindKeywords) {
    if (entry.kind == kind) return entry.keyword;
  }
  return "";
}
