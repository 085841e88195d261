#include "fileops/run_journal.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/decimal_number.h"
#include "base/fnv_hash.h"
#include "base/line_reader.h"
#include "path/path_name.h"

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

// Fields of undo records may hold any text: these bytes are written as "%"
// and two hexadecimal digits, so that no field holds a separator or a line
// end.
std::string escapeField(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    if (c == '%' || c == '\t' || c == '\r' || c == '\n' || c == '\0') {
      const unsigned char byte = static_cast<unsigned char>(c);
      escaped += '%';
      escaped += kHex[byte >> 4];
      escaped += kHex[byte & 15];
    } else {
      escaped += c;
    }
  }
  return escaped;
}

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool unescapeField(const std::string& text, std::string* plain) {
  plain->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      *plain += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int high = hexDigitValue(text[i + 1]);
    const int low = hexDigitValue(text[i + 2]);
    if (high < 0 || low < 0) return false;
    *plain += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

// The lines that open a journal: what it is, and whose run it records.
std::string headerOf(const RunJournal::Identity& identity) {
  return std::string(kMagic) + kLineEnd + "Patch=" + identity.patch + kLineEnd +
         "Profile=" + identity.profileDigest + kLineEnd + "Kind=" + std::to_string(identity.kind) +
         kLineEnd;
}

const std::size_t kUndoFields = 10;

std::string undoRecord(const RunJournal::UndoStep& step) {
  return std::string("U\t") + static_cast<char>(step.kind) + "\t" + escapeField(step.path) + "\t" +
         escapeField(step.other) + "\t" + escapeField(step.key) + "\t" +
         (step.present ? "1" : "0") + "\t" + escapeField(step.value) + "\t" +
         std::to_string(step.type) + "\t" + std::to_string(step.size) + "\t" +
         std::to_string(step.time);
}

bool parseUndoRecord(const std::vector<std::string>& fields, RunJournal::UndoStep* step) {
  if (fields.size() != kUndoFields || fields[1].size() != 1) return false;
  static const char kKinds[] = "MKPWNISVCTQ";
  if (std::string(kKinds).find(fields[1][0]) == std::string::npos) return false;
  step->kind = static_cast<RunJournal::UndoStep::Kind>(fields[1][0]);
  std::uint64_t type = 0;
  if (!unescapeField(fields[2], &step->path) || !unescapeField(fields[3], &step->other) ||
      !unescapeField(fields[4], &step->key) || !unescapeField(fields[6], &step->value) ||
      !readFieldNumber(fields[7], &type) || !readFieldNumber(fields[8], &step->size) ||
      !readFieldNumber(fields[9], &step->time)) {
    return false;
  }
  step->present = fields[5] == "1";
  step->type = static_cast<unsigned long>(type);
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
      undoSteps(),
      rollingBack(false),
      restartUndone(false),
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
  undoSteps.clear();
  rollingBack = false;
  restartUndone = false;
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
    return Standing::kUnreadable;
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
      if (!readFieldNumber(fields[2], &fillIn.size) ||
          !readFieldNumber(fields[3], &fillIn.modifiedTime)) {
        continue;
      }
      fillIns.push_back(fillIn);
      openStep = 'F';
    } else if (type == "D") {
      if (openStep == 'R') unfinished.reset();
      if (openStep == 'F' && !fillIns.empty()) fillIns.back().ended = true;
      openStep = 0;
    } else if (type == "U") {
      UndoStep step;
      if (parseUndoRecord(fields, &step)) undoSteps.push_back(step);
    } else if (type == "B") {
      rollingBack = true;
    } else if (type == "Z") {
      restartUndone = true;
    }
  }

  Standing standing = Standing::kSame;
  if (found.kind != identity.kind) {
    standing = Standing::kOtherKind;
  } else if (found.patch != identity.patch) {
    standing = Standing::kOtherPatch;
  } else if (found.profileDigest != identity.profileDigest) {
    standing = Standing::kOtherProfile;
  }
  // Only this run's own journal is written on; another is rolled back
  // first, which takes it over.
  if (standing != Standing::kSame) continues = false;
  needsIdentity = false;
  return standing;
}

bool RunJournal::append(const std::string& record, bool durable) {
  if (!continues) return false;
  std::string text;
  if (!file.isOpen()) {
    if (!platform::openFileForAppending(path, &file).ok) return false;
    if (needsIdentity) {
      text = headerOf(identity);
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

bool RunJournal::recordUndo(const std::vector<UndoStep>& steps, bool durable) {
  std::string records;
  for (const UndoStep& step : steps) {
    if (!records.empty()) records += kLineEnd;
    records += undoRecord(step);
  }
  if (records.empty()) return true;
  if (!append(records, durable)) return false;
  undoSteps.insert(undoSteps.end(), steps.begin(), steps.end());
  return true;
}

bool RunJournal::beginRollback() {
  continues = true;
  if (rollingBack) return true;
  if (!append("B", true)) return false;
  rollingBack = true;
  return true;
}

bool RunJournal::markRestartUndone() {
  if (!append("Z", true)) return false;
  restartUndone = true;
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
    if (pathNameKey(fillIn.path) != pathNameKey(filePath)) continue;
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
  // The old files kept for a rollback go before the journal that names
  // them, so that none is left behind unnamed. One a rollback put back is
  // no longer there.
  for (const UndoStep& step : undoSteps) {
    // Only a name of the form the run gives its copies: a journal damaged
    // on disk must not make a run delete some other file.
    if ((step.kind == UndoStep::kKeptAside || step.kind == UndoStep::kRewritten) &&
        isKeptName(step.other)) {
      // An erased file may have been read-only, as its copy aside still is.
      platform::makeWritable(step.other);
      platform::deleteFile(step.other);
    }
  }
  platform::deleteFile(path);
  undoSteps.clear();
  rollingBack = false;
  openStep = 0;
}

std::string RunJournal::formatUndo(const Identity& identity, const std::vector<UndoStep>& steps) {
  std::string text = headerOf(identity);
  for (const UndoStep& step : steps) text += undoRecord(step) + kLineEnd;
  return text;
}

bool RunJournal::isKeptName(const std::string& path) {
  const std::string name = pathFileName(path);
  if (name.size() != 12 || name.compare(0, 2, "TV") != 0 || name.compare(8, 4, ".~KP") != 0) {
    return false;
  }
  for (std::size_t i = 2; i < 8; ++i) {
    const char c = name[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'v'))) return false;
  }
  return true;
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
