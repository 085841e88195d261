#include "fileops/substitute_class.h"

#include <cstddef>
#include <new>
#include <string>

#include "base/ascii_text.h"
#include "base/line_reader.h"
#include "fileops/file_install.h"
#include "platform/files.h"
#include "platform/system.h"

namespace {

// The directory for the temporary file: TEMP when it names something that
// exists, else the current directory (the empty text).
std::string temporaryDirectory() {
  std::string temp;
  if (platform::getEnvironmentValue("TEMP", &temp) && !temp.empty() &&
      platform::testPath(temp).ok) {
    return temp;
  }
  return std::string();
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

int SubstituteClass::substituteFile(const std::string& path) {
  std::string tempPath;
  if (!makeTemporaryPath(temporaryDirectory(), &tempPath)) return 0;

  platform::FileHandle source;
  if (!platform::openFileForReading(path, &source).ok) return 0;
  // Created only if new: in a shared temporary directory a file of that name
  // may belong to someone else, or be a link placed there.
  platform::FileHandle temp;
  if (!platform::createNewFile(tempPath, &temp).ok) {
    platform::closeFile(source);
    return 0;
  }

  std::string content;
  // The whole file, so that no line is ever cut in two.
  bool ok = platform::readToEnd(source, &content).ok;
  platform::closeFile(source);
  std::string output = ok ? substituteText(content) : std::string();

  if (ok && !output.empty()) {
    std::size_t bytesWritten = 0;
    ok = platform::writeFile(temp, output.data(), output.size(), &bytesWritten).ok &&
         bytesWritten == output.size();
  }
  // A failed close may have lost data: the original must then stay.
  ok = platform::closeFile(temp).ok && ok;
  if (!ok) {
    platform::deleteFile(tempPath);
    return 0;
  }

  // The rewritten text takes the file's place in one step: deleting the file
  // first and copying the temporary file back would leave no file at all
  // when the copy failed or the run was cut off between the two.
  const bool replaced = platform::saveWholeFile(path, output).ok;
  const bool cleared = platform::deleteFile(tempPath).ok;
  return replaced && cleared ? 1 : 0;
}
