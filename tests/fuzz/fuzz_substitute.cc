// Fuzzes placeholder substitution: a marker, a list of names and values, and
// a line. A line without the marker comes back unchanged; a text whose every
// marker is doubled comes back as the text itself; and the result can grow
// only by what the values bring in.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fileops/substitute_class.h"
#include "support/fuzz_check.h"

namespace {

void check(bool condition, const char* what) { fuzzCheck(condition, "fuzz_substitute", what); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  char marker = input.ConsumeBool() ? '\\' : input.ConsumeIntegral<char>();
  SubstituteClass substitutes(marker);
  std::size_t longestValue = 0;
  int count = input.ConsumeIntegralInRange<int>(0, 6);
  for (int i = 0; i < count; ++i) {
    std::string name = input.ConsumeRandomLengthString(16);
    std::string value = input.ConsumeRandomLengthString(64);
    if (value.size() > longestValue) longestValue = value.size();
    check(substitutes.addEntry(name, value) == 1, "an entry was refused");
  }
  std::string text = input.ConsumeRemainingBytesAsString();

  std::string line = text;
  substitutes.substituteLine(line);
  if (text.find(marker) == std::string::npos) {
    check(line == text, "a line without the marker changed");
  }
  // Every placeholder takes at least the marker and gives at most the
  // longest value.
  std::size_t markers = 0;
  for (char c : text) markers += c == marker ? 1 : 0;
  check(line.size() <= text.size() + markers * longestValue, "the line grew beyond its values");

  std::string doubled;
  for (char c : text) {
    if (c == marker) doubled.push_back(marker);
    doubled.push_back(c);
  }
  substitutes.substituteLine(doubled);
  check(doubled == text, "doubled markers did not give the text back");

  // Iteration walks every entry once and stops.
  int walked = 0;
  SubstituteEntry entry;
  for (int more = substitutes.moveFirst(); more == 1; more = substitutes.moveNext()) {
    check(substitutes.getCurrent(&entry) == 1, "no current entry");
    ++walked;
  }
  check(walked == count, "iteration missed entries");
  return 0;
}
