#include "fileops/run_journal.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/ascii_text.h"
#include "base/fnv_hash.h"
#include "base/line_reader.h"

namespace {

// The first line, so that a file of another kind is never taken for one.
const char kMagic[] = "TVPAT32 RUN JOURNAL 1";
const char kLineEnd[] = "\r\n";

// Fields of a record are separated by tabs, which no Windows path or section
// name holds.
const char kSeparator = '\t';

bool isRecordable(const std::string& text) {
  return text.find_first_of("\t\r\n") == std::string::npos;
}

std::vector<std::string> splitRecord(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = line.find(kSeparator, start);
    fields.push_back(line.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) return fields;
    start = end + 1;
  }
}

bool readNumber(const std::string& text, std::uint64_t* number) {
  if (text.empty() || text.size() > 20) return false;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  *number = value;
  return true;
}

// The value of a header line "Name=value"; false when the line is another.
bool headerValue(const std::string& line, const char* name, std::string* value) {
  const std::string prefix = std::string(name) + "=";
  if (line.compare(0, prefix.size(), prefix) != 0) return false;
  *value = line.substr(prefix.size());
  return true;
}

}  // namespace

RunJournal::RunJournal(const std::string& path)
    : path(path),
      identity(),
      found(),
      decisions(),
      unfinished(),
      fillIns(),
      continues(false),
      needsIdentity(false),
      file(),
      openStep(0) {}

RunJournal::~RunJournal() {
  if (file.isOpen()) platform::closeFile(file);
}

RunJournal::Standing RunJournal::read(const Identity& runIdentity) {
  identity = runIdentity;
  found = Identity();
  decisions.clear();
  unfinished.reset();
  fillIns.clear();
  continues = true;
  needsIdentity = true;
  openStep = 0;

  std::string text;
  platform::Status status = platform::readWholeFile(path, &text);
  if (!status.ok && status.notFound) return Standing::kNone;
  // A journal that is there but cannot be read is another run's for all
  // this run can tell: it must not be written over.
  if (!status.ok) {
    continues = false;
    return Standing::kOtherPatch;
  }

  std::vector<std::string> lines;
  LineReader reader(text);
  std::string line;
  while (reader.next(&line) && reader.hasLineEnd()) lines.push_back(line);
  std::string kindText;
  if (lines.size() < 4 || lines[0] != kMagic || !headerValue(lines[1], "Patch", &found.patch) ||
      !headerValue(lines[2], "Profile", &found.profileDigest) ||
      !headerValue(lines[3], "Kind", &kindText)) {
    // Cut off before its identity was whole, and so before any step: there
    // is nothing to finish. Left in place, it would hide this run's records.
    continues = platform::deleteFile(path).ok;
    return Standing::kNone;
  }
  found.kind = std::atoi(kindText.c_str());

  Standing standing = Standing::kSame;
  if (found.kind != identity.kind) {
    standing = Standing::kOtherKind;
  } else if (found.patch != identity.patch) {
    standing = Standing::kOtherPatch;
  } else if (found.profileDigest != identity.profileDigest) {
    standing = Standing::kOtherProfile;
  }
  if (standing != Standing::kSame) {
    continues = false;
    return standing;
  }
  needsIdentity = false;

  for (std::size_t i = 4; i < lines.size(); ++i) {
    std::vector<std::string> fields = splitRecord(lines[i]);
    const std::string& type = fields[0];
    if (type == "G" && fields.size() == 3 && (fields[1] == "0" || fields[1] == "1")) {
      decisions.push_back(fields[1] == "1" ? std::optional<std::string>(fields[2]) : std::nullopt);
    } else if (type == "R" && fields.size() == 4) {
      unfinished = Replacement{fields[1], fields[2], fields[3]};
      openStep = 'R';
    } else if (type == "F" && fields.size() == 4) {
      FillIn fillIn;
      fillIn.path = fields[1];
      if (!readNumber(fields[2], &fillIn.size) || !readNumber(fields[3], &fillIn.modifiedTime)) {
        continue;
      }
      fillIns.push_back(fillIn);
      openStep = 'F';
    } else if (type == "D") {
      if (openStep == 'R') unfinished.reset();
      if (openStep == 'F' && !fillIns.empty()) fillIns.back().ended = true;
      openStep = 0;
    }
  }
  return standing;
}

bool RunJournal::append(const std::string& record, bool durable) {
  if (!continues) return false;
  std::string text;
  if (!file.isOpen()) {
    if (!platform::openFileForAppending(path, &file).ok) return false;
    if (needsIdentity) {
      text = std::string(kMagic) + kLineEnd + "Patch=" + identity.patch + kLineEnd +
             "Profile=" + identity.profileDigest + kLineEnd +
             "Kind=" + std::to_string(identity.kind) + kLineEnd;
    } else {
      // The last line of the earlier run may have been cut short: a line
      // end of its own keeps it from running into this run's first record.
      text = kLineEnd;
    }
  }
  text += record + kLineEnd;
  std::size_t written = 0;
  platform::Status status = platform::writeFile(file, text.data(), text.size(), &written);
  if (status.ok && durable) status = platform::flushFile(file);
  if (status.ok) needsIdentity = false;
  if (!status.ok) {
    // What reached the file may end in half a record, or half the identity,
    // which would make a later run take the whole journal for one cut off
    // before its first step: nothing more is written to it in this run, so
    // every later step that needs a record does not start.
    platform::closeFile(file);
    file = platform::FileHandle();
    continues = false;
    return false;
  }
  return true;
}

bool RunJournal::recordDecision(const std::optional<std::string>& branch) {
  if (branch && !isRecordable(*branch)) return false;
  return append(std::string("G\t") + (branch ? "1\t" + *branch : "0\t"), true);
}

bool RunJournal::beginReplacement(const Replacement& step) {
  if (!isRecordable(step.stagedPath) || !isRecordable(step.destPath) ||
      !isRecordable(step.backupPath)) {
    return false;
  }
  if (!append("R\t" + step.stagedPath + "\t" + step.destPath + "\t" + step.backupPath, true)) {
    return false;
  }
  openStep = 'R';
  return true;
}

bool RunJournal::beginFillIn(const std::string& filePath, const platform::FileInfo& before) {
  if (!isRecordable(filePath)) return false;
  if (!append("F\t" + filePath + "\t" + std::to_string(before.size) + "\t" +
                  std::to_string(before.modifiedTime),
              true)) {
    return false;
  }
  FillIn fillIn;
  fillIn.path = filePath;
  fillIn.size = before.size;
  fillIn.modifiedTime = before.modifiedTime;
  fillIns.push_back(fillIn);
  openStep = 'F';
  return true;
}

void RunJournal::endStep() {
  if (openStep == 0) return;
  append("D", false);
  if (openStep == 'F' && !fillIns.empty()) fillIns.back().ended = true;
  openStep = 0;
}

bool RunJournal::isFilledIn(const std::string& filePath) const {
  for (const FillIn& fillIn : fillIns) {
    if (!equalsNoCase(fillIn.path, filePath)) continue;
    if (fillIn.ended) return true;
    // Cut off: the fill-in replaces the file whole, so a file that is no
    // longer what it was has been filled in.
    platform::FileInfo now;
    if (platform::getFileInfo(filePath, &now).ok &&
        (now.size != fillIn.size || now.modifiedTime != fillIn.modifiedTime)) {
      return true;
    }
  }
  return false;
}

void RunJournal::end() {
  if (file.isOpen()) {
    platform::closeFile(file);
    file = platform::FileHandle();
  }
  platform::deleteFile(path);
  openStep = 0;
}

std::string RunJournal::digestOfFile(const std::string& filePath) {
  std::string content;
  if (!platform::readWholeFile(filePath, &content).ok) return std::string();
  FnvHash hash;
  for (unsigned char c : content) hash.add(c);
  char digits[17];
  std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash.get()));
  return digits;
}
