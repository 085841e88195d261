// The text operations shared by condition and entry lines: the field splitter
// with its backslash escape and its difference between empty and absent
// fields, trimming, and the tests that tell an entry line's kind.
#ifndef SRC_ENGINE_ENTRY_LINE_H_
#define SRC_ENGINE_ENTRY_LINE_H_

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// Splits a line into fields. Given a text, starts on a copy of it and returns
// its first field; given null, returns the next field of the same line, or
// null (absent) after the last one. A backslash is removed and makes the next
// character literal; a delimiter at the very end gives one more, empty field.
// Fields stay valid until the splitter is started on the next line: the
// splitter keeps one program-wide working copy.
const char* nextField(const char* text, const char* delimiters);

// A field copied out of the splitter: absent (nullopt), or present and
// possibly empty.
using EntryField = std::optional<std::string>;

// Splits an entry or condition line: one field up to "=" (the keyword, not
// kept), then up to `count` fields separated by ",". Each field is copied out
// at once, so anything that splits another line meanwhile (a file operation,
// a nested call) cannot overwrite it.
std::vector<EntryField> splitEntryFields(const std::string& line, std::size_t count);

// The field's text, or null when it is absent.
inline const char* fieldText(const EntryField& field) { return field ? field->c_str() : nullptr; }

// Present and not empty.
inline bool isFilled(const EntryField& field) { return field && !field->empty(); }

// Removes leading and trailing white space in place.
void trimBlanks(std::string& text);

// True when line begins with keyword (without regard to case), then zero or
// more decimal digits, then "=" or the end of the line.
bool isEntryOfKind(const std::string& line, const char* keyword);

// True when the line begins with "//" or ";".
bool isCommentEntry(const std::string& line);

// The kinds of entry a section holds, in the order the walk tests them.
enum class EntryKind {
  kUnknown,
  kIni,
  kReg,
  kSubst,
  kFile,
  kFindFile,
  kRename,
  kCopy,
  kErase,
  kReboot
};

// The kind of a trimmed entry line: the first kind test that matches, in the
// walk's order; kUnknown when none does.
EntryKind entryKindOf(const std::string& line);

// The keyword of a kind in upper case ("FINDFILE"); "" for kUnknown.
const char* entryKeyword(EntryKind kind);

#endif  // SRC_ENGINE_ENTRY_LINE_H_
