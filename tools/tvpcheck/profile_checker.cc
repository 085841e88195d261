#include "profile_checker.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "base/ascii_text.h"
#include "base/decimal_number.h"
#include "engine/condition_line.h"
#include "engine/entry_line.h"
#include "engine/entry_rules.h"
#include "path/path_name.h"
#include "platform/files.h"
#include "profile/profile.h"

namespace {

// SUBST rewrites text; a NUL byte this early means a binary file.
constexpr std::size_t kTextProbeSize = 4096;

std::string upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// The name of the section whose header stands on line: the text between "["
// and the first "]" (or the end of the line).
std::string sectionNameOf(const std::string& line) {
  std::size_t close = line.find(']');
  return line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
}

// Whether text, from position on, is a run of digits followed by blanks and
// then "=": the shape of an entry or condition key with a blank before "=".
bool hasBlankBeforeEquals(const std::string& text, std::size_t position) {
  while (position < text.size() && text[position] >= '0' && text[position] <= '9') ++position;
  std::size_t blanks = position;
  while (position < text.size() && isBlank(text[position])) ++position;
  return position > blanks && position < text.size() && text[position] == '=';
}

// The keyword of an entry line: its leading letters.
std::string leadingWord(const std::string& line) {
  std::size_t end = 0;
  while (end < line.size() &&
         ((line[end] >= 'A' && line[end] <= 'Z') || (line[end] >= 'a' && line[end] <= 'z'))) {
    ++end;
  }
  return line.substr(0, end);
}

const EntryKind kKnownKinds[] = {EntryKind::kIni,  EntryKind::kReg,      EntryKind::kSubst,
                                 EntryKind::kFile, EntryKind::kFindFile, EntryKind::kRename,
                                 EntryKind::kCopy, EntryKind::kErase,    EntryKind::kReboot};

}  // namespace

ProfileChecker::ProfileChecker(Profile* profile, const std::string& patchDir)
    : profile(profile),
      patchDir(patchDir),
      diagnostics(),
      namedSections(),
      defaultBackup(1),
      patchFiles() {}

void ProfileChecker::check() {
  diagnostics.clear();
  namedSections.clear();
  defaultBackup = profile->getInt("Patch", "Backup", 1);
  checkPatchSection(checkByteOrderMark());
  checkSections();
  std::stable_sort(diagnostics.begin(), diagnostics.end(),
                   [](const Diagnostic& a, const Diagnostic& b) { return a.line < b.line; });
}

int ProfileChecker::getErrorCount() const {
  return static_cast<int>(std::count_if(diagnostics.begin(), diagnostics.end(), [](const auto& d) {
    return d.severity == Severity::kError;
  }));
}

int ProfileChecker::getWarningCount() const {
  return static_cast<int>(diagnostics.size()) - getErrorCount();
}

std::string ProfileChecker::format(const std::string& profileName) const {
  std::string text;
  for (const Diagnostic& diagnostic : diagnostics) {
    text += profileName + ":" + std::to_string(diagnostic.line) +
            (diagnostic.severity == Severity::kError ? ": error: " : ": warning: ") +
            diagnostic.text + "\n";
  }
  return text;
}

void ProfileChecker::report(std::size_t position, Severity severity, const std::string& text) {
  diagnostics.push_back({position + 1, severity, text});
}

bool ProfileChecker::checkByteOrderMark() {
  // Editors that save "UTF-8 with BOM" write EF BB BF before the first line.
  // The installer reads those bytes as text, so the header they stand
  // before is no header, and the section's lines belong to none.
  if (profile->lineCount() == 0 || profile->line(0).compare(0, 4, "\xEF\xBB\xBF[") != 0) {
    return false;
  }
  std::string name = sectionNameOf(profile->line(0).substr(3));
  report(0, Severity::kError,
         "a UTF-8 byte order mark before [" + name +
             "] hides the section from the installer: save the profile without it");
  return equalsNoCase(name, "Patch");
}

void ProfileChecker::checkPatchSection(bool patchHidden) {
  std::size_t header = profile->findSection("Patch");
  if (header == Profile::kNoLine) {
    // A hidden [Patch] has its cause reported on its own line already.
    if (!patchHidden) {
      report(0, Severity::kError, "no section [Patch]: the installer finds no condition and stops");
    }
    return;
  }
  if (profile->getString("Patch", "Patch", "").empty()) {
    report(header, Severity::kWarning,
           "no key Patch in [Patch]: the patch is carried out on every run and never recorded "
           "in the ledger");
  }

  // Groups in file order, as the engine sorts them; only the first line of
  // a group names its section.
  std::map<int, std::vector<std::size_t>> groups;
  for (std::size_t position = header + 1;
       position < profile->lineCount() && !Profile::isSectionHeader(profile->line(position));
       ++position) {
    const std::string& line = profile->line(position);
    int group = 0;
    if (conditionGroupOf(line, &group)) {
      groups[group].push_back(position);
      checkConditionLine(position, group);
    } else {
      checkMisplacedCondition(position);
    }
  }

  int expected = 0;
  for (const auto& [group, lines] : groups) {
    if (group != expected) break;
    ++expected;
  }
  std::string skipped;
  std::size_t firstSkipped = Profile::kNoLine;
  for (const auto& [group, lines] : groups) {
    if (group < expected) {
      ConditionLine condition = parseConditionLine(profile->line(lines.front()));
      if (condition.branch) namedSections.insert(upper(*condition.branch));
      continue;
    }
    skipped += (skipped.empty() ? "" : ", ") + std::to_string(group);
    firstSkipped = std::min(firstSkipped, lines.front());
  }
  if (firstSkipped != Profile::kNoLine) {
    report(firstSkipped, Severity::kWarning,
           "condition group" + std::string(skipped.find(',') == std::string::npos ? " " : "s ") +
               skipped + " never evaluated: the numbering stops at the missing Condition" +
               std::to_string(expected));
  }
}

void ProfileChecker::checkConditionLine(std::size_t position, int group) {
  const std::string& line = profile->line(position);
  checkEscapes(position, line.substr(0, checkTrailingComment(position, line)));
  ConditionLine condition = parseConditionLine(line);
  const std::string name = "Condition" + std::to_string(group);
  if (!checkConditionFields(position, name, condition)) return;
  checkConditionValues(position, name, condition);
  int first = 0;
  if (conditionGroupOf(line, &first)) checkConditionBranch(position, group, condition);
}

bool ProfileChecker::checkConditionFields(std::size_t position, const std::string& name,
                                          const ConditionLine& condition) {
  const std::string fourth = condition.fourth.value_or("");
  // A root that is not one of the four shifts every later field, so the
  // other checks of the line would only mislead.
  bool exactRoot = equalsNoCase(fourth, "HKLM") || equalsNoCase(fourth, "HKCU") ||
                   equalsNoCase(fourth, "HKCR") || equalsNoCase(fourth, "HKU");
  if (beginsWithNoCase(fourth, "HK") && !exactRoot) {
    report(position, Severity::kError,
           name + ": " + quoted(fourth) + " is not a registry root (HKLM, HKCU, HKCR or HKU)" +
               (condition.isRegistry ? ": the installer reads it as the root it begins with"
                                     : ": the installer takes it for a section of TAVRO.INI"));
    return false;
  }
  const std::size_t needed = condition.isRegistry ? 7 : 6;
  if (condition.fieldCount < needed) {
    report(position, Severity::kError,
           name + " has " + std::to_string(condition.fieldCount) + " field" +
               (condition.fieldCount == 1 ? "" : "s") + ", the " +
               (condition.isRegistry
                    ? "registry form needs 7: "
                      "SECTION,OS,MODE,ROOT,PATH,SUBKEY,START[,END]"
                    : "INI form needs 6: SECTION,OS,MODE,INISECTION,KEY,START[,END]"));
    return false;
  }
  struct Required {
    const EntryField& field;
    const char* what;
  } required[] = {{condition.branch, "SECTION"},
                  {condition.os, "OS"},
                  {condition.fourth, condition.isRegistry ? "ROOT" : "INISECTION"},
                  {condition.key, "KEY"},
                  {condition.start, "START"}};
  for (const Required& item : required) {
    if (&item.field == &condition.key && condition.isRegistry) continue;
    if (!isFilled(item.field)) {
      report(position, Severity::kError,
             name + ": the field " + item.what + " is empty: the condition never holds");
      return false;
    }
  }
  return true;
}

void ProfileChecker::checkConditionValues(std::size_t position, const std::string& name,
                                          const ConditionLine& condition) {
  int os = 0;
  if (!readDecimalNumber(condition.os->c_str(), &os) || (os != 1 && os != 2 && os != 4)) {
    report(position, Severity::kError,
           name + ": OS " + quoted(*condition.os) +
               " is none of 1 (Windows 95 family), 2 (Windows NT) and 4 (Win32s)");
  }
  int mode = 0;
  bool modeIsNumber = isFilled(condition.mode) && readDecimalNumber(condition.mode->c_str(), &mode);
  if (!modeIsNumber || mode < kConditionModeAny || mode > kConditionModeBetween) {
    report(position, Severity::kError,
           name + ": mode " + quoted(condition.mode.value_or("")) +
               " is not 0 to 4: the installer compares as mode 2 (at or after START)");
  }
  if (modeIsNumber && mode == kConditionModeBetween && isFilled(condition.end)) {
    std::string start = *condition.start;
    std::string end = *condition.end;
    trimBlanks(start);
    trimBlanks(end);
    if (!end.empty() && compareNoCase(end, start) < 0) {
      report(position, Severity::kError,
             name + ": the range ends (" + end + ") before it starts (" + start +
                 "): the condition never holds");
    }
  }
}

void ProfileChecker::checkConditionBranch(std::size_t position, int group,
                                          const ConditionLine& condition) {
  // Only the first line of a group names the section; the check of the
  // section's existence is made once, on that line.
  std::size_t header = profile->findSection("Patch");
  for (std::size_t p = header + 1; p < position; ++p) {
    int other = 0;
    if (conditionGroupOf(profile->line(p), &other) && other == group) return;
  }
  if (profile->findSection(*condition.branch) == Profile::kNoLine) {
    report(position, Severity::kError,
           "Condition" + std::to_string(group) + " names the section [" + *condition.branch +
               "], which does not exist");
  }
}

void ProfileChecker::checkMisplacedCondition(std::size_t position) {
  const std::string& line = profile->line(position);
  std::string trimmed = line;
  trimBlanks(trimmed);
  if (!beginsWithNoCase(trimmed, "Condition")) return;
  std::size_t digits = std::strlen("Condition");
  if (digits >= trimmed.size() || trimmed[digits] < '0' || trimmed[digits] > '9') return;
  const char* tail = ": this line belongs to no condition group";
  if (hasBlankBeforeEquals(trimmed, digits)) {
    report(position, Severity::kWarning, "a blank before \"=\"" + std::string(tail));
  } else if (!trimmed.empty() && isBlank(line[0])) {
    report(position, Severity::kWarning, "a blank before \"Condition\"" + std::string(tail));
  } else if (trimmed[digits] == '0' && digits + 1 < trimmed.size() && trimmed[digits + 1] >= '0' &&
             trimmed[digits + 1] <= '9') {
    report(position, Severity::kWarning, "a group number with a leading zero" + std::string(tail));
  }
}

void ProfileChecker::checkSections() {
  for (std::size_t header = 0; header < profile->lineCount(); ++header) {
    const std::string& headerLine = profile->line(header);
    if (headerLine.empty() || headerLine[0] != '[') continue;
    std::string name = sectionNameOf(headerLine);
    std::size_t first = profile->findSection(name);
    if (first != header) {
      report(header, Severity::kWarning,
             "a second section [" + name + "]: the installer only ever uses the first, on line " +
                 std::to_string(first + 1));
      continue;
    }
    if (equalsNoCase(name, "Patch")) continue;
    if (namedSections.count(upper(name)) == 0) {
      report(header, Severity::kWarning,
             "the section [" + name +
                 "] is never carried out: no condition group that is evaluated names it");
    }
    BackupNames backups;
    forEachEntryLine(*profile, header, [&](std::size_t position, const std::string& line) {
      checkEntry(position, line, &backups);
    });
  }
}

void ProfileChecker::checkEntry(std::size_t position, const std::string& line,
                                BackupNames* backups) {
  EntryKind kind = entryKindOf(line);
  if (kind == EntryKind::kUnknown) {
    checkUnknownEntry(position, line);
    return;
  }
  checkEscapes(position, line.substr(0, checkTrailingComment(position, line)));
  switch (kind) {
    case EntryKind::kIni:
      checkIniEntry(position, line);
      break;
    case EntryKind::kReg:
      checkRegEntry(position, line);
      break;
    case EntryKind::kSubst:
    case EntryKind::kFile:
    case EntryKind::kFindFile:
      checkFileEntry(position, line, kind, backups);
      break;
    case EntryKind::kRename:
    case EntryKind::kCopy:
    case EntryKind::kErase:
      checkLocalEntry(position, line, kind, backups);
      break;
    case EntryKind::kReboot:
      checkRebootEntry(position, line);
      break;
    case EntryKind::kUnknown:
      break;
  }
}

void ProfileChecker::checkUnknownEntry(std::size_t position, const std::string& line) {
  for (EntryKind kind : kKnownKinds) {
    const char* keyword = entryKeyword(kind);
    if (beginsWithNoCase(line, keyword) && hasBlankBeforeEquals(line, std::strlen(keyword))) {
      // The key as it was meant: the same text without the blanks.
      std::string key = line.substr(0, line.find('='));
      while (!key.empty() && isBlank(key.back())) key.pop_back();
      report(position, Severity::kError,
             "a blank before \"=\" makes this a line of no known kind: write " + key + "=...");
      return;
    }
  }
  std::string word = leadingWord(line);
  if (word.empty() || line.find('=') == std::string::npos) {
    report(position, Severity::kError, "a line of no known kind: an entry is KEYWORD[N]=FIELDS");
    return;
  }
  report(position, Severity::kError,
         "unknown entry keyword " + quoted(word) +
             ": known are INI, REG, SUBST, FILE, FINDFILE, RENAME, COPY, ERASE and REBOOT");
}

std::size_t ProfileChecker::checkTrailingComment(std::size_t position, const std::string& line) {
  // The installer knows comments only as lines of their own. A ";" or "//"
  // after a blank is where an author who writes INI files elsewhere starts
  // one; the splitter keeps it, up to the next ",", in the field.
  std::size_t equals = line.find('=');
  if (equals == std::string::npos) return line.size();
  std::size_t field = 1;
  for (std::size_t i = equals + 1; i < line.size(); ++i) {
    if (line[i] == '\\') {
      ++i;
    } else if (line[i] == ',') {
      ++field;
    } else if ((line[i] == ';' || line.compare(i, 2, "//") == 0) && isBlank(line[i - 1])) {
      std::string comment = line.substr(i);
      trimBlanks(comment);
      report(position, Severity::kWarning,
             "the comment " + quoted(comment) + " is read as part of field " +
                 std::to_string(field) + ": write it on a line of its own");
      return i;
    }
  }
  return line.size();
}

void ProfileChecker::checkEscapes(std::size_t position, const std::string& line) {
  // The splitter removes every backslash and keeps the character after it;
  // only "\\" and "\," are what an author means.
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '\\') continue;
    if (i + 1 == line.size()) {
      report(position, Severity::kWarning,
             "a backslash at the end of the line is dropped: write \\\\ for a backslash");
      return;
    }
    char next = line[i + 1];
    if (next != '\\' && next != ',') {
      report(position, Severity::kWarning,
             std::string("a backslash before \"") + next +
                 "\" is dropped (escape rule): write \\\\ for a backslash");
      return;
    }
    ++i;
  }
}

bool ProfileChecker::checkBase(std::size_t position, const char* keyword, const EntryField& field) {
  if (!checkRequired(position, keyword, field, "base directory (field 1)")) return false;
  if (baseDirectoryOf(field->c_str()) == BaseDirectory::kNone) {
    report(position, Severity::kError,
           std::string(keyword) + ": the base directory " + quoted(*field) +
               " is neither WINDOWS nor TAVRO");
    return false;
  }
  return true;
}

bool ProfileChecker::checkRequired(std::size_t position, const char* keyword,
                                   const EntryField& field, const char* what) {
  if (isFilled(field)) return true;
  report(position, Severity::kError, std::string(keyword) + " entry without its " + what);
  return false;
}

void ProfileChecker::checkOption(std::size_t position, const char* keyword, const EntryField& field,
                                 const char* what) {
  if (!isFilled(field) || isOptionNumber(*field)) return;
  report(position, Severity::kWarning,
         std::string(keyword) + ": the option " + what + " " + quoted(*field) +
             " is not a number: the default is used");
}

void ProfileChecker::checkIniEntry(std::size_t position, const std::string& line) {
  std::vector<EntryField> fields = splitEntryFields(line, 5);
  checkBase(position, "INI", fields[0]);
  bool hasFile = checkRequired(position, "INI", fields[1], "file name (field 2)");
  bool hasSection = checkRequired(position, "INI", fields[2], "section (field 3)");
  if (!hasFile || !hasSection) return;
  if (!fields[3]) {
    report(position, Severity::kWarning,
           "INI entry with three fields deletes the whole section [" + *fields[2] + "] of " +
               *fields[1]);
  } else if (!fields[4]) {
    report(position, Severity::kWarning,
           "INI entry with four fields deletes the key " + *fields[3] + " of [" + *fields[2] +
               "] in " + *fields[1]);
  }
}

void ProfileChecker::checkRegEntry(std::size_t position, const std::string& line) {
  std::vector<EntryField> fields = splitEntryFields(line, 4);
  if (!checkRequired(position, "REG", fields[0], "registry root (field 1)")) return;
  platform::RegistryRoot root;
  if (!findEntryRoot(*fields[0], &root)) {
    report(position, Severity::kError,
           "REG: " + quoted(*fields[0]) + " is not a registry root (HKLM, HKCU, HKCR or HKU)");
    return;
  }
  if (registryActionOf(fields[1], fields[2], fields[3]) == RegistryAction::kRefused) {
    report(position, Severity::kError,
           "REG entry with neither a key path nor a value name: the installer refuses it");
  }
}

void ProfileChecker::checkFileEntry(std::size_t position, const std::string& line, EntryKind kind,
                                    BackupNames* backups) {
  const char* keyword = entryKeyword(kind);
  bool isFindFile = kind == EntryKind::kFindFile;
  std::vector<EntryField> fields = splitEntryFields(line, isFindFile ? 6 : 7);
  // FINDFILE has no target-name field; its options stand one place earlier.
  if (isFindFile) fields.insert(fields.begin() + 3, std::nullopt);
  bool hasBase = checkBase(position, keyword, fields[0]);
  bool hasFile = checkRequired(position, keyword, fields[1], "file name (field 2)");
  checkOption(position, keyword, fields[4], "force");
  checkOption(position, keyword, fields[5], "backup");
  checkOption(position, keyword, fields[6], "compress");
  if (!hasFile) return;
  checkPatchFile(position, kind, pathFileName(*fields[1]));
  if (!hasBase) return;
  std::string name = pathFileName(isFilled(fields[3]) ? *fields[3] : *fields[1]);
  std::string target = isFilled(fields[2]) ? pathJoin(*fields[2], name) : name;
  int backup = optionValueOf(fieldText(fields[5]), defaultBackup == 1 ? 1 : 0);
  checkTarget(position, upper(*fields[0]), target, backup, backups);
}

void ProfileChecker::checkLocalEntry(std::size_t position, const std::string& line, EntryKind kind,
                                     BackupNames* backups) {
  const char* keyword = entryKeyword(kind);
  bool isErase = kind == EntryKind::kErase;
  std::vector<EntryField> fields = splitEntryFields(line, isErase ? 3 : 5);
  bool hasBase = checkBase(position, keyword, fields[0]);
  if (isErase) {
    bool hasFile = checkRequired(position, keyword, fields[1], "file name (field 2)");
    checkOption(position, keyword, fields[2], "backup");
    if (!hasFile || !hasBase) return;
    int backup = optionValueOf(fieldText(fields[2]), defaultBackup == 1 ? 1 : 0);
    checkTarget(position, upper(*fields[0]), *fields[1], backup, backups);
    return;
  }
  bool hasSource = checkRequired(position, keyword, fields[1], "source (field 2)");
  bool hasDestination = checkRequired(position, keyword, fields[2], "destination (field 3)");
  checkOption(position, keyword, fields[3], "force");
  checkOption(position, keyword, fields[4], "backup");
  if (!hasSource || !hasDestination) return;
  if (pathNameKey(*fields[1]) == pathNameKey(*fields[2])) {
    report(position, Severity::kError,
           std::string(keyword) + ": the destination " + *fields[2] +
               " names the same file as the source " + *fields[1]);
    return;
  }
  if (!hasBase) return;
  int backup = optionValueOf(fieldText(fields[4]), defaultBackup == 1 ? 1 : 0);
  checkTarget(position, upper(*fields[0]), *fields[2], backup, backups);
}

void ProfileChecker::checkRebootEntry(std::size_t position, const std::string& line) {
  std::vector<EntryField> fields = splitEntryFields(line, 2);
  if (!checkRequired(position, "REBOOT", fields[0], "number (field 1)")) return;
  if (*fields[0] != "0" && *fields[0] != "1") {
    report(position, Severity::kWarning,
           "REBOOT " + *fields[0] +
               " neither asks for a restart (1) nor withdraws the request (0): no restart is "
               "asked for");
  }
}

void ProfileChecker::checkTarget(std::size_t position, const std::string& base,
                                 const std::string& target, int backup, BackupNames* backups) {
  std::string ext;
  pathSplit(target, nullptr, nullptr, nullptr, &ext);
  if (equalsNoCase(ext, ".OLD")) {
    report(position, Severity::kWarning,
           "the target " + target +
               " has the extension .OLD: it gets no backup, and a backup of another file may "
               "replace it");
    return;
  }
  if (backup == 0) return;
  std::string backupName = pathSetExt(target, ".OLD");
  std::string backupKey = pathNameKey(base + "\\" + backupName);
  std::string targetKey = pathNameKey(base + "\\" + target);
  auto found = backups->find(backupKey);
  if (found == backups->end()) {
    backups->emplace(backupKey, BackupUse{position, targetKey, target});
    return;
  }
  if (found->second.targetKey == targetKey) return;
  report(position, Severity::kWarning,
         "the backup " + backupName + " of " + target + " is also the backup of " +
             found->second.target + " (line " + std::to_string(found->second.line + 1) +
             "): the second backup erases the first");
}

void ProfileChecker::checkPatchFile(std::size_t position, EntryKind kind, const std::string& name) {
  std::string path = pathJoin(patchDir, name);
  platform::FileHandle file;
  if (!platform::openFileForReading(path, &file).ok) {
    std::string text =
        std::string(entryKeyword(kind)) + ": " + name + " is not in the patch directory";
    // FINDFILE copies only into directories that hold the file already, so
    // on a machine where none does the entry has nothing to copy and no
    // failure.
    if (kind == EntryKind::kFindFile) {
      report(position, Severity::kWarning,
             text + ": the entry fails where a directory of the tree holds it");
    } else {
      report(position, Severity::kError, text);
    }
    return;
  }
  patchFiles.push_back(name);
  std::string head(kTextProbeSize, '\0');
  std::size_t got = 0;
  bool read = platform::readFile(file, &head[0], head.size(), &got).ok;
  platform::closeFile(file);
  if (kind == EntryKind::kSubst && read && std::memchr(head.data(), '\0', got) != nullptr) {
    report(position, Severity::kWarning,
           "SUBST on " + name + ", which is not text (a NUL byte in its first 4 KiB)");
  }
}
