// The text operations shared by condition and entry lines: the field splitter
// with its backslash escape and its difference between empty and absent
// fields, trimming, and the tests that tell an entry line's kind.
#ifndef SRC_ENGINE_ENTRY_LINE_H_
#define SRC_ENGINE_ENTRY_LINE_H_

#include <string>

// Splits a line into fields. Given a text, starts on a copy of it and returns
// its first field; given null, returns the next field of the same line, or
// null (absent) after the last one. A backslash is removed and makes the next
// character literal; a delimiter at the very end gives one more, empty field.
// Fields stay valid until the splitter is started on the next line: the
// splitter keeps one program-wide working copy.
const char* nextField(const char* text, const char* delimiters);

// Removes leading and trailing white space in place.
void trimBlanks(std::string& text);

// True when line begins with keyword (without regard to case), then zero or
// more decimal digits, then "=" or the end of the line.
bool isEntryOfKind(const std::string& line, const char* keyword);

bool isIniEntry(const std::string& line);
bool isRegEntry(const std::string& line);
bool isSubstEntry(const std::string& line);
bool isFileEntry(const std::string& line);
bool isFindFileEntry(const std::string& line);
bool isRenameEntry(const std::string& line);
bool isCopyEntry(const std::string& line);
bool isEraseEntry(const std::string& line);
bool isRebootEntry(const std::string& line);

// True when the line begins with "//" or ";".
bool isCommentEntry(const std::string& line);

#endif  // SRC_ENGINE_ENTRY_LINE_H_
