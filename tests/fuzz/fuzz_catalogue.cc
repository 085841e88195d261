// Fuzzes the message catalogue: arbitrary bytes as a .MSG file, then every
// message number around the ones loaded. A text handed out must be a whole
// line of the file, never a read past the end.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "messages/message_numbers.h"
#include "messages/nls_class.h"
#include "support/fuzz_check.h"
#include "support/temp_dir.h"

namespace {

const TempDir& scratch() {
  static TempDir directory;
  return directory;
}

void check(bool condition, const char* what) { fuzzCheck(condition, "fuzz_catalogue", what); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string content(reinterpret_cast<const char*>(data), size);
  scratch().write("FUZZ.MSG", content);
  NLSClass messages(scratch().file("FUZZ.MSG"));
  check(messages.load() == 1, "a readable catalogue was refused");
  int count = messages.getMessageCount();
  // Each message is one line, so there cannot be more messages than lines.
  std::size_t lines = 1;
  for (char c : content) lines += c == '\n' ? 1 : 0;
  check(static_cast<std::size_t>(count) <= lines, "more messages than lines");
  for (int number = -2; number <= count + 2; ++number) {
    const char* text = messages.getMessage(number);
    check(text != nullptr, "null message");
    std::size_t length = std::strlen(text);
    check(std::strchr(text, '\n') == nullptr, "message holds a line feed");
    // Past its end, a catalogue older than the program's newest messages
    // gives their built-in English text.
    const bool builtIn = number > count && number >= kMessageProductBusy;
    if (length > 0 && !builtIn) {
      check(content.find(std::string(text, length)) != std::string::npos,
            "message is not text of the file");
    }
  }
  // A number past the catalogue and past every built-in text.
  if (count >= 2) {
    check(std::strcmp(messages.getMessage(count + 1000), messages.getMessage(2)) == 0,
          "an unknown number does not give message 2");
  }
  return 0;
}
