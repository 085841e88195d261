// Fuzzes the splitter of entry and condition lines and the kind tests. Three
// properties: fields escaped and joined by a delimiter split back into the
// very same fields; on any line the splitter gives one field more than there
// are unescaped delimiters, and every field stays readable until the next
// line is started; and no line is of two entry kinds at once.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/ascii_text.h"
#include "engine/entry_line.h"
#include "support/fuzz_check.h"

namespace {

void check(bool condition, const char* what) { fuzzCheck(condition, "fuzz_entry_line", what); }

std::string escape(const std::string& field, const std::string& delimiters) {
  std::string result;
  for (char c : field) {
    if (c == '\\' || delimiters.find(c) != std::string::npos) result.push_back('\\');
    result.push_back(c);
  }
  return result;
}

std::string withoutNul(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
  return text;
}

// Delimiters that the splitter can tell from text: no NUL (it ends the set)
// and no backslash (it escapes).
std::string cleanDelimiters(std::string delimiters) {
  delimiters = withoutNul(delimiters);
  delimiters.erase(std::remove(delimiters.begin(), delimiters.end(), '\\'), delimiters.end());
  return delimiters.empty() ? std::string(",") : delimiters;
}

void checkRoundTrip(FuzzedDataProvider& input) {
  std::string delimiters = cleanDelimiters(input.ConsumeRandomLengthString(4));
  std::vector<std::string> fields;
  std::string line;
  std::size_t count = input.ConsumeIntegralInRange<std::size_t>(1, 8);
  for (std::size_t i = 0; i < count; ++i) {
    fields.push_back(withoutNul(input.ConsumeRandomLengthString(24)));
    if (i > 0) line.push_back(delimiters[i % delimiters.size()]);
    line += escape(fields.back(), delimiters);
  }
  std::vector<const char*> given;
  for (const char* field = nextField(line.c_str(), delimiters.c_str()); field != nullptr;
       field = nextField(nullptr, delimiters.c_str())) {
    given.push_back(field);
  }
  check(given.size() == fields.size(), "escaped fields split into a different count");
  // Read only after the whole line was split: earlier fields must survive it.
  for (std::size_t i = 0; i < fields.size(); ++i) {
    check(fields[i] == given[i], "escaped field split back differently");
  }

  // The same fields as an entry line: the keyword ends at "=", the rest at ",".
  std::string keyword = withoutNul(input.ConsumeRandomLengthString(12));
  std::string entry = escape(keyword, "=") + "=";
  for (std::size_t i = 0; i < fields.size(); ++i) {
    entry += (i > 0 ? "," : "") + escape(fields[i], ",");
  }
  std::size_t wanted = input.ConsumeIntegralInRange<std::size_t>(0, 10);
  std::vector<EntryField> split = splitEntryFields(entry, wanted);
  check(split.size() == wanted, "wrong number of entry fields");
  for (std::size_t i = 0; i < wanted; ++i) {
    if (i < fields.size()) {
      check(split[i] && *split[i] == fields[i], "entry field split back differently");
    } else {
      check(!split[i], "a field beyond the last is present");
    }
  }
}

void checkAnyLine(FuzzedDataProvider& input) {
  std::string delimiters = cleanDelimiters(input.ConsumeRandomLengthString(4));
  std::string line = input.ConsumeRandomLengthString(256);
  std::string text = line.substr(0, line.find('\0'));
  std::size_t unescaped = 0;
  std::size_t letters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\') {
      ++i;
      if (i < text.size()) ++letters;
    } else if (delimiters.find(text[i]) != std::string::npos) {
      ++unescaped;
    } else {
      ++letters;
    }
  }
  std::vector<const char*> given;
  for (const char* field = nextField(line.c_str(), delimiters.c_str()); field != nullptr;
       field = nextField(nullptr, delimiters.c_str())) {
    given.push_back(field);
  }
  check(given.size() == unescaped + 1, "field count differs from the delimiters");
  std::size_t total = 0;
  for (const char* field : given) total += std::strlen(field);
  check(total == letters, "fields lost or gained characters");

  int matched = 0;
  for (int kind = static_cast<int>(EntryKind::kIni); kind <= static_cast<int>(EntryKind::kReboot);
       ++kind) {
    matched += isEntryOfKind(line, entryKeyword(static_cast<EntryKind>(kind))) ? 1 : 0;
  }
  check(matched <= 1, "a line of two entry kinds");
  (void)isCommentEntry(line);

  std::string trimmed = line;
  trimBlanks(trimmed);
  check(trimmed.empty() || (!isBlank(trimmed.front()) && !isBlank(trimmed.back())),
        "blanks left after trimming");
  check(line.find(trimmed) != std::string::npos, "trimming changed the text");
  std::string again = trimmed;
  trimBlanks(again);
  check(again == trimmed, "trimming twice differs");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  if (input.ConsumeBool()) {
    checkRoundTrip(input);
  } else {
    checkAnyLine(input);
  }
  return 0;
}
