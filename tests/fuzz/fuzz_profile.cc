// Fuzzes the INI store: the input's first bytes become a file on disk, the
// rest drives a sequence of queries and edits on one Profile over it. After
// every edit the file on disk must hold exactly the lines in memory, and a
// query must see what the edit wrote whenever the texts can be read back at
// all (no line break in them, a key that cannot pass for a header or hide
// behind leading blanks).
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "base/ascii_text.h"
#include "profile/profile.h"
#include "support/fuzz_check.h"
#include "support/temp_dir.h"

namespace {

const TempDir& scratch() {
  static TempDir directory;
  return directory;
}

// The texts of the step being checked, shown when a check fails.
std::string lastStep;

void check(bool condition, const char* what) {
  fuzzCheck(condition, "fuzz_profile", what, lastStep.c_str());
}

std::string shown(const std::string& text) {
  std::string result = "\"";
  for (unsigned char c : text) {
    if (c >= 32 && c < 127 && c != '"' && c != '\\') {
      result.push_back(static_cast<char>(c));
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      result += escaped;
    }
  }
  return result + "\"";
}

std::string withoutNul(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
  return text;
}

bool hasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

// Texts that survive a save and a re-read as one line of their own.
bool isReadableSection(const std::string& section) { return !hasLineBreak(section); }

bool isReadableKey(const std::string& key) {
  if (hasLineBreak(key)) return false;
  if (!key.empty() && isBlank(key[0])) return false;
  // A key line that begins with "[" would end the section for every query.
  return key.empty() || key[0] != '[';
}

bool isReadableValue(const std::string& value) { return !hasLineBreak(value); }

std::vector<std::string> linesOf(const Profile& profile) {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < profile.lineCount(); ++i) lines.push_back(profile.line(i));
  return lines;
}

// The file on disk holds every line of the profile, each ended by CR LF; an
// edit that changed no line of a file that was there left it as it was.
void checkSaved(const Profile& profile, const std::optional<std::string>& fileBefore,
                const std::vector<std::string>& linesBefore) {
  std::string expected;
  for (std::size_t i = 0; i < profile.lineCount(); ++i) expected += profile.line(i) + "\r\n";
  const std::string file = readBytes(profile.getPath()).value_or("");
  const bool unchanged = fileBefore && linesOf(profile) == linesBefore && file == *fileBefore;
  check(file == expected || unchanged, "file differs from the saved lines");
}

// A line break in an edited text splits its line on disk; only the next
// re-read shows that, so checks that compare memory and disk wait for one.
bool holdsLineBreak(const Profile& profile) {
  for (std::size_t i = 0; i < profile.lineCount(); ++i) {
    if (profile.line(i).find('\n') != std::string::npos) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  std::string path = scratch().file("FUZZ.INI");
  std::size_t fileLength = input.ConsumeIntegralInRange<std::size_t>(0, input.remaining_bytes());
  scratch().write("FUZZ.INI", input.ConsumeBytesAsString(fileLength));
  {
    Profile profile(path);
    for (int step = 0; step < 32 && input.remaining_bytes() > 0; ++step) {
      int operation = input.ConsumeIntegralInRange<int>(0, 5);
      // Keys and values reach a profile as C strings, so they hold no NUL.
      std::string section = withoutNul(input.ConsumeRandomLengthString(40));
      std::string key = withoutNul(input.ConsumeRandomLengthString(40));
      std::string value = withoutNul(input.ConsumeRandomLengthString(80));
      lastStep = "step " + std::to_string(operation) + " " + shown(section) + " " + shown(key) +
                 " " + shown(value);
      bool readable = isReadableSection(section) && isReadableKey(key) && isReadableValue(value);
      // What an edit that changes nothing must leave: the lines as the last
      // read gave them, and the file's bytes.
      (void)profile.getString(section, key, "");
      const std::vector<std::string> linesBefore = linesOf(profile);
      const std::optional<std::string> fileBefore = readBytes(path);
      switch (operation) {
        case 0: {
          std::string found = profile.getString(section, key, "\x01");
          (void)profile.getInt(section, key, -7);
          // Nothing a query returns can span two lines of the file.
          check(found.find('\n') == std::string::npos || holdsLineBreak(profile),
                "value holds a line break");
          break;
        }
        case 1:
          profile.writeString(section, key.c_str(), value.c_str());
          if (!holdsLineBreak(profile)) checkSaved(profile, fileBefore, linesBefore);
          if (readable) {
            check(profile.getString(section, key, "\x01") == value, "written value not read back");
            Profile reread(path);
            check(reread.getString(section, key, "\x01") == value, "value lost on disk");
          }
          break;
        case 2: {
          int number = input.ConsumeIntegral<int>();
          profile.writeString(section, key.c_str(), std::to_string(number).c_str());
          if (isReadableSection(section) && isReadableKey(key)) {
            check(profile.getInt(section, key, 0) == number, "written number not read back");
          }
          break;
        }
        case 3: {
          std::size_t before = profile.lineCount();
          profile.writeString(section, key.c_str(), nullptr);
          if (!holdsLineBreak(profile)) checkSaved(profile, fileBefore, linesBefore);
          check(profile.lineCount() + 1 >= before, "deleting a key removed more than its line");
          break;
        }
        case 4:
          profile.writeString(section, nullptr, nullptr);
          if (!holdsLineBreak(profile)) checkSaved(profile, fileBefore, linesBefore);
          break;
        case 5:
          profile.appendString(section, key, value);
          if (readable) {
            std::string formed = key + "=" + value;
            bool present = false;
            std::size_t header = profile.findSection(section);
            check(header != Profile::kNoLine, "appended section missing");
            for (std::size_t i = header; i < profile.lineCount() && !present; ++i) {
              present = equalsNoCase(profile.line(i), formed);
            }
            check(present, "appended line missing");
          }
          break;
      }
    }
  }
  scratch().clear();
  return 0;
}
