#include "profile/profile.h"

#include <algorithm>
#include <new>

#include "base/ascii_text.h"
#include "base/decimal_number.h"
#include "base/error.h"
#include "base/line_reader.h"
#include "platform/files.h"
#include "platform/memory.h"

namespace {

// Position of the value when line is a key line for key (optional white
// space, the whole key, optional white space, "="); npos otherwise. Queries
// and edits share this test so that an edit always changes the line a query
// sees.
std::size_t findValue(const std::string& line, const std::string& key) {
  std::size_t position = 0;
  while (position < line.size() && isBlank(line[position])) ++position;
  if (!beginsWithNoCase(line, key, position)) return std::string::npos;
  position += key.size();
  while (position < line.size() && isBlank(line[position])) ++position;
  if (position < line.size() && line[position] == '=') return position + 1;
  return std::string::npos;
}

// Looks for the first key line for key in the section whose header stands at
// position header and copies its value to *value. Queries stop only at a "["
// in column 1, unlike edits and section walks.
bool findKeyValue(const std::vector<std::string>& lines, std::size_t header, const std::string& key,
                  std::string* value) {
  if (header == Profile::kNoLine) return false;
  for (std::size_t i = header + 1; i < lines.size() && !(!lines[i].empty() && lines[i][0] == '[');
       ++i) {
    std::size_t start = findValue(lines[i], key);
    if (start != std::string::npos) {
      *value = lines[i].substr(start);
      return true;
    }
  }
  return false;
}

}  // namespace

Profile::Profile(const std::string& path)
    : unsaved(false),
      closed(false),
      unreadable(false),
      path(path),
      lines(),
      stampTime(0),
      stampSize(0) {
  refresh();
}

Profile::~Profile() {
  if (!unsaved || closed) return;
  try {
    save();
  } catch (const Error&) {
    // The edit whose save failed raised this same failure then; a destructor
    // must not raise it a second time.
  }
}

void Profile::refresh() {
  // A file that is there but cannot be read leaves the profile empty and the
  // stamp at (0, 0), so that the next query tries again; until a read
  // succeeds, saving is refused, since the few lines an edit adds to an empty
  // list would otherwise replace the whole file.
  platform::FileInfo info;
  platform::Status looked = platform::getFileInfo(path, &info);
  if (!looked.ok && !looked.notFound) {
    forget();
    unreadable = true;
    return;
  }
  if (looked.ok && info.modifiedTime == stampTime && info.size == stampSize && !unreadable) return;

  // A missing file is read as well: a save cut short may have left its
  // content under the aside name, which the read puts back.
  std::string content;
  bool wasUnreadable = unreadable;
  unreadable = true;
  platform::Status read;
  try {
    read = platform::readWholeFile(path, &content);
  } catch (const std::bad_alloc&) {
    forget();
    throw Error(kErrorNoMemory, static_cast<unsigned long>(content.size()), kModuleProfile,
                __LINE__);
  }
  if (read.notFound) {
    unreadable = false;
    // Still missing: lines edited while the file was missing stay until a
    // save makes it; a file that went away leaves an empty profile.
    if (stampTime != 0 || stampSize != 0 || wasUnreadable) {
      forget();
    }
    return;
  }
  // Half a file is no better than none: an edit would save it over the whole.
  if (!read.ok || (!looked.ok && !platform::getFileInfo(path, &info).ok)) {
    forget();
    return;
  }
  stampTime = info.modifiedTime;
  stampSize = info.size;
  takeLines(content);
  unreadable = false;
}

void Profile::forget() {
  lines.clear();
  stampTime = stampSize = 0;
}

void Profile::takeLines(const std::string& content) {
  lines.clear();
  try {
    if (platform::isAllocationRefused(kModuleProfile, static_cast<unsigned long>(content.size()))) {
      throw std::bad_alloc();
    }
    // Text mode drops the CR of a CR LF pair; a lone CR stays in the line.
    LineReader reader(content);
    std::string line;
    while (reader.next(&line)) lines.push_back(line);
  } catch (const std::bad_alloc&) {
    forget();
    throw Error(kErrorNoMemory, static_cast<unsigned long>(content.size()), kModuleProfile,
                __LINE__);
  }
}

void Profile::save() {
  if (unreadable) throw Error(kErrorCreate, path, kModuleProfile, __LINE__);
  std::string content;
  for (const std::string& text : lines) {
    content += text;
    content += "\r\n";
  }
  // The platform puts the new content in place only once all of it reached
  // the disk, so a full disk, a failing device or a power cut never leaves a
  // cut or empty INI file behind; it refuses a file that may not be written.
  if (!platform::saveWholeFile(path, content).ok) {
    throw Error(kErrorCreate, path, kModuleProfile, __LINE__);
  }
  unsaved = false;
  // The stamp stays as it was, so the next refresh reads the file just
  // written.
}

void Profile::close() {
  if (closed) return;
  closed = true;
  if (unsaved) save();
}

std::size_t Profile::findSection(const std::string& section) const {
  std::string header = "[" + section + "]";
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (beginsWithNoCase(lines[i], header)) return i;
  }
  return kNoLine;
}

bool Profile::isSectionHeader(const std::string& line) {
  for (char c : line) {
    if (!isBlank(c)) return c == '[';
  }
  return false;
}

std::string Profile::getString(const std::string& section, const std::string& key,
                               const std::string& defaultValue) {
  refresh();
  std::string value;
  return findKeyValue(lines, findSection(section), key, &value) ? value : defaultValue;
}

bool Profile::findString(const std::string& section, const std::string& key, std::string* value) {
  refresh();
  return findKeyValue(lines, findSection(section), key, value);
}

std::vector<std::string> Profile::sectionLines(const std::string& section, std::size_t* position) {
  refresh();
  const std::size_t header = findSection(section);
  *position = header;
  if (header == kNoLine) return std::vector<std::string>();
  std::size_t end = header + 1;
  while (end < lines.size() && !isSectionHeader(lines[end])) ++end;
  return std::vector<std::string>(lines.begin() + header, lines.begin() + end);
}

void Profile::restoreSection(const std::string& section,
                             const std::vector<std::string>& sectionLines, std::size_t position) {
  refresh();
  std::size_t header = findSection(section);
  if (header != kNoLine) {
    std::size_t end = header + 1;
    while (end < lines.size() && !isSectionHeader(lines[end])) ++end;
    lines.erase(lines.begin() + header, lines.begin() + end);
  } else {
    header = std::min(position, lines.size());
  }
  lines.insert(lines.begin() + header, sectionLines.begin(), sectionLines.end());
  unsaved = true;
  save();
}

int Profile::getInt(const std::string& section, const std::string& key, int defaultValue) {
  refresh();
  std::string text;
  if (!findKeyValue(lines, findSection(section), key, &text)) return defaultValue;

  int value = defaultValue;
  readDecimalNumber(text.c_str(), &value);
  return value;
}

void Profile::writeString(const std::string& section, const char* key, const char* value) {
  refresh();
  std::size_t header = findSection(section);
  // An edit that changes nothing in a file that is there is not saved: a
  // save gives the file a new time, and a later COPY of it would then take
  // it for a changed file. A missing file is still made.
  const bool unchangedIfSame = !unsaved && (stampTime != 0 || stampSize != 0);
  const std::vector<std::string> before = unchangedIfSame ? lines : std::vector<std::string>();

  if (header != kNoLine) {
    // Edits end a section at any header line, indented ones included.
    std::size_t end = header + 1;
    while (end < lines.size() && !isSectionHeader(lines[end])) ++end;
    if (key == nullptr) {
      lines.erase(lines.begin() + header, lines.begin() + end);
    } else {
      std::size_t found = kNoLine;
      for (std::size_t i = header + 1; i < end && found == kNoLine; ++i) {
        if (findValue(lines[i], key) != std::string::npos) found = i;
      }
      if (value == nullptr) {
        if (found != kNoLine) lines.erase(lines.begin() + found);
      } else if (found != kNoLine) {
        lines[found] = std::string(key) + "=" + value;
      } else {
        std::size_t insertAt = end;
        while (insertAt > header + 1 && lines[insertAt - 1].empty()) --insertAt;
        lines.insert(lines.begin() + insertAt, std::string(key) + "=" + value);
      }
    }
  } else if (key != nullptr && value != nullptr) {
    appendSection(section);
    lines.push_back(std::string(key) + "=" + value);
  }
  if (unchangedIfSame && lines == before) return;
  unsaved = true;
  save();
}

void Profile::appendString(const std::string& section, const std::string& key,
                           const std::string& value) {
  refresh();
  std::string formed = key + "=" + value;
  std::size_t header = findSection(section);
  if (header != kNoLine) {
    // The duplicate test runs to the end of the file, not of the section.
    for (std::size_t i = header; i < lines.size(); ++i) {
      if (equalsNoCase(lines[i], formed)) return;
    }
  }
  unsaved = true;
  if (header != kNoLine) {
    std::size_t end = header + 1;
    while (end < lines.size() && !isSectionHeader(lines[end])) ++end;
    while (end > header + 1 && lines[end - 1].empty()) --end;
    lines.insert(lines.begin() + end, formed);
  } else {
    appendSection(section);
    lines.push_back(formed);
  }
  save();
}

std::size_t Profile::keyLine(const std::string& section, const std::string& key) {
  refresh();
  std::size_t header = findSection(section);
  if (header == kNoLine) return kNoLine;
  for (std::size_t i = header + 1; i < lines.size() && !isSectionHeader(lines[i]); ++i) {
    if (findValue(lines[i], key) != std::string::npos) return i;
  }
  return kNoLine;
}

void Profile::restoreString(const std::string& section, const std::string& key,
                            const std::string& value, std::size_t line) {
  refresh();
  std::size_t header = findSection(section);
  std::size_t end = header == kNoLine ? kNoLine : header + 1;
  while (end != kNoLine && end < lines.size() && !isSectionHeader(lines[end])) ++end;
  if (header == kNoLine || line <= header || line > end || keyLine(section, key) != kNoLine) {
    writeString(section, key.c_str(), value.c_str());
    return;
  }
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(line), key + "=" + value);
  unsaved = true;
  save();
}

void Profile::removeEmptySection(const std::string& section) {
  refresh();
  std::size_t header = findSection(section);
  if (header == kNoLine) return;
  std::size_t end = header + 1;
  while (end < lines.size() && !isSectionHeader(lines[end])) {
    if (lines[end].find_first_not_of(" \t") != std::string::npos) return;
    ++end;
  }
  if (end == lines.size() && header > 0 && lines[header - 1].empty()) --header;
  lines.erase(lines.begin() + header, lines.begin() + end);
  unsaved = true;
  save();
}

void Profile::appendSection(const std::string& section) {
  if (!lines.empty() && !lines.back().empty()) lines.push_back(std::string());
  lines.push_back("[" + section + "]");
}
