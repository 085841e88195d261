// ProfileChecker reads an installation profile the way the installer reads
// it (the same Profile, field splitter, entry kinds, option and condition
// rules) and collects what is wrong with it as diagnostics, each tied to a
// line of the file: errors for what the installer refuses or silently
// skips, warnings for what it carries out differently from what the author
// most likely meant. It looks at the profile and the patch directory only,
// never at the machine. The caller owns the Profile, which must outlive the
// checker; a checker is used for one check.
#ifndef TOOLS_TVPCHECK_PROFILE_CHECKER_H_
#define TOOLS_TVPCHECK_PROFILE_CHECKER_H_

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/entry_line.h"

class Profile;
struct ConditionLine;

class ProfileChecker {
 public:
  enum class Severity { kError, kWarning };

  struct Diagnostic {
    // Counted from 1, as an editor shows it.
    std::size_t line = 0;
    Severity severity = Severity::kError;
    std::string text;
  };

  // patchDir is where the patch's own files are looked for.
  ProfileChecker(Profile* profile, const std::string& patchDir);

  // Checks the whole profile; the diagnostics come out in file order.
  void check();

  const std::vector<Diagnostic>& getDiagnostics() const { return diagnostics; }
  // The names of the files in the patch directory that entries install,
  // in the order of the profile; a name may come more than once.
  const std::vector<std::string>& getPatchFiles() const { return patchFiles; }
  int getErrorCount() const;
  int getWarningCount() const;

  // One "NAME:LINE: error: TEXT" or "NAME:LINE: warning: TEXT" line per
  // diagnostic, each ending in a line feed.
  std::string format(const std::string& profileName) const;

 private:
  // What the checks of one section remember from entry to entry: the backup
  // names used so far, with the line and target that used each.
  struct BackupUse {
    std::size_t line;
    std::string targetKey;
    std::string target;
  };
  using BackupNames = std::map<std::string, BackupUse>;

  // A UTF-8 byte order mark before the header on the first line, which
  // hides that section from the installer; true when it hides [Patch].
  bool checkByteOrderMark();
  void checkPatchSection(bool patchHidden);
  void checkConditionLine(std::size_t position, int group);
  // The root and the fields a condition needs; false after an error that
  // makes the line's other checks pointless.
  bool checkConditionFields(std::size_t position, const std::string& name,
                            const ConditionLine& condition);
  // The OS, the mode and the range of a condition with all its fields.
  void checkConditionValues(std::size_t position, const std::string& name,
                            const ConditionLine& condition);
  // The section named by the first line of a condition group.
  void checkConditionBranch(std::size_t position, int group, const ConditionLine& condition);
  void checkMisplacedCondition(std::size_t position);
  void checkSections();
  void checkEntry(std::size_t position, const std::string& line, BackupNames* backups);
  void checkIniEntry(std::size_t position, const std::string& line);
  void checkRegEntry(std::size_t position, const std::string& line);
  void checkFileEntry(std::size_t position, const std::string& line, EntryKind kind,
                      BackupNames* backups);
  void checkLocalEntry(std::size_t position, const std::string& line, EntryKind kind,
                       BackupNames* backups);
  void checkRebootEntry(std::size_t position, const std::string& line);
  void checkUnknownEntry(std::size_t position, const std::string& line);
  // A ";" or "//" after a blank in a field, which the installer reads as
  // part of the field; the position of that mark, or the line's end.
  std::size_t checkTrailingComment(std::size_t position, const std::string& line);
  void checkEscapes(std::size_t position, const std::string& line);

  // Reports a missing or unusable base-directory field; true when it names
  // WINDOWS or TAVRO.
  bool checkBase(std::size_t position, const char* keyword, const EntryField& field);
  // Reports an absent or empty required field; true when it is filled.
  bool checkRequired(std::size_t position, const char* keyword, const EntryField& field,
                     const char* what);
  void checkOption(std::size_t position, const char* keyword, const EntryField& field,
                   const char* what);
  // The .OLD rules of one target: its own extension, and a backup name that
  // an earlier entry of the section shares.
  void checkTarget(std::size_t position, const std::string& base, const std::string& target,
                   int backup, BackupNames* backups);
  void checkPatchFile(std::size_t position, EntryKind kind, const std::string& name);

  void report(std::size_t position, Severity severity, const std::string& text);

  Profile* profile;
  std::string patchDir;
  std::vector<Diagnostic> diagnostics;
  // Upper-case names of the sections that the first line of some condition
  // group names.
  std::set<std::string> namedSections;
  int defaultBackup;
  std::vector<std::string> patchFiles;
};

#endif  // TOOLS_TVPCHECK_PROFILE_CHECKER_H_
