#include "fileops/substitute_class.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <string>

#include "base/ascii_text.h"
#include "base/error.h"
#include "base/line_reader.h"
#include "platform/files.h"
#include "platform/memory.h"

namespace {

// The size the critical-error report gives for a file: on 32-bit Windows
// its number holds less than a file's size may be.
unsigned long reportedSize(std::uint64_t size) {
  const unsigned long most = std::numeric_limits<unsigned long>::max();
  return size > most ? most : static_cast<unsigned long>(size);
}

}  // namespace

SubstituteClass::SubstituteClass(char marker) : entries(), current(entries.end()), marker(marker) {}

int SubstituteClass::addEntry(const std::string& name, const std::string& value) {
  SubstituteEntry entry;
  entry.name = name;
  entry.value = value;
  return addEntry(entry);
}

int SubstituteClass::addEntry(const SubstituteEntry& entry) {
  try {
    entries.push_back(entry);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return 1;
}

int SubstituteClass::moveFirst() {
  if (entries.empty()) return 0;
  current = entries.begin();
  return 1;
}

int SubstituteClass::moveNext() {
  if (current == entries.end()) return 0;
  auto next = current;
  ++next;
  if (next == entries.end()) return 0;
  current = next;
  return 1;
}

int SubstituteClass::getCurrent(SubstituteEntry* entry) const {
  if (current == entries.end()) return 0;
  *entry = *current;
  return 1;
}

void SubstituteClass::substituteLine(std::string& line) {
  std::size_t position = 0;
  while (position < line.size()) {
    if (line[position] != marker) {
      ++position;
      continue;
    }
    if (position + 1 < line.size() && line[position + 1] == marker) {
      // A doubled marker is one literal marker; skipping past the one kept
      // stops it from starting a placeholder.
      line.erase(position, 1);
      ++position;
      continue;
    }
    for (current = entries.begin(); current != entries.end(); ++current) {
      // Nothing is asked of the character after the name: it may run
      // into the next word.
      if (beginsWithNoCase(line, current->name, position + 1)) break;
    }
    if (current == entries.end()) {
      ++position;
      continue;
    }
    // The value is stepped over, so a marker inside it is never taken as the
    // start of another placeholder.
    line.replace(position, 1 + current->name.size(), current->value);
    position += current->value.size();
  }
}

std::string SubstituteClass::substituteText(const std::string& content) {
  // Lines end in LF, a CR before it being part of the line end; every line
  // is written back with CR LF, except a last line that had no line end.
  std::string output;
  LineReader reader(content);
  std::string line;
  while (reader.next(&line)) {
    substituteLine(line);
    output += line;
    if (reader.hasLineEnd()) output += "\r\n";
  }
  return output;
}

int SubstituteClass::readSubstituted(const std::string& path, std::string* text) {
  platform::FileInfo info;
  if (!platform::getFileInfo(path, &info).ok) return 0;
  const unsigned long size = reportedSize(info.size);
  std::string content;
  try {
    // The whole file, so that no line is ever cut in two. Room for all of it
    // is taken before the first read: a file too large for memory then fails
    // unread, and the text does not grow in steps that each hold it twice.
    if (platform::isAllocationRefused(kModuleFileOps, size) || info.size >= content.max_size()) {
      throw std::bad_alloc();
    }
    content.reserve(static_cast<std::size_t>(info.size));
    if (!platform::readFileAsIs(path, &content).ok) return 0;
    *text = substituteText(content);
  } catch (const std::bad_alloc&) {
    throw Error(kErrorNoMemory, size, kModuleFileOps, __LINE__);
  }
  return 1;
}
