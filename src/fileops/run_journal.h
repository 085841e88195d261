// RunJournal is the record of a run under way, kept in the product's ARCHIVE
// directory until the patch is in the ledger. It says which patch, profile
// and kind of Windows the run is for, the decision of every condition group
// in order, and each step that frees a file's name for a moment or rewrites
// a file in place, written to disk before the step starts and marked when it
// ends. A run cut off anywhere leaves it behind: the next run of the same
// patch finishes the step under way and follows the same decisions, and a
// run of anything else knows that a patch is unfinished.
//
// The engine owns the one journal of a run for the run's length; the file
// operations reach it through the run configuration. The file is only ever
// appended to, one record a line, so a run cut off in the middle of a write
// leaves at most its last line short, which is not read.
#ifndef SRC_FILEOPS_RUN_JOURNAL_H_
#define SRC_FILEOPS_RUN_JOURNAL_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"

class RunJournal {
 public:
  // What a journal is of. Two runs are the same run only when all three are
  // alike: a changed profile may name other sections, and another kind of
  // Windows has another registry.
  struct Identity {
    std::string patch;
    std::string profileDigest;
    int kind = 0;
  };

  // How the journal found on disk stands to this run.
  // kUnreadable: one is there that cannot be read.
  enum class Standing { kNone, kSame, kOtherKind, kOtherPatch, kOtherProfile, kUnreadable };

  // A replacement begun and not marked ended: the new file written beside
  // the destination, the destination, and its backup.
  struct Replacement {
    std::string stagedPath;
    std::string destPath;
    std::string backupPath;
  };

  // A change about to be made, and what undoes it. Only the fields its kind
  // names are used; paths are as the run used them.
  struct UndoStep {
    enum Kind : char {
      // The file at path is renamed to other; size and time say which file
      // that is.
      kRenamed = 'M',
      // The file at path is erased by moving it aside to other, a name
      // beside it that the end of the run removes.
      kKeptAside = 'K',
      // The new file other, of size and time, takes the free name path.
      kPlaced = 'P',
      // The file at path is rewritten where it stands; other is a whole
      // copy of it made first, which the end of the run removes.
      kRewritten = 'W',
      // A file is about to be made at path, where none is.
      kCreated = 'N',
      // Key `key` of section other in the INI file path: present or not,
      // with value and the line it stands on (size); type 1 when the section
      // was not there either.
      kIniValue = 'I',
      // Section other of the INI file path, whose lines are value (one a
      // line) and whose header stands at line size, is about to be deleted.
      kIniSection = 'S',
      // Value other of registry key path (root first): present or not, with
      // type and the bytes in value.
      kRegistryValue = 'V',
      // Registry key path is about to be made, and every missing key on the
      // way to it.
      kRegistryKeyCreated = 'C',
      // Registry key path, one of a tree about to be deleted.
      kRegistryKeyDeleted = 'T',
      // The rename of path to other (empty: the deletion of path) is put off
      // to the next restart.
      kDeferred = 'Q',
    };
    Kind kind = kRenamed;
    std::string path;
    std::string other;
    std::string key;
    bool present = false;
    std::string value;
    unsigned long type = 0;
    std::uint64_t size = 0;
    std::uint64_t time = 0;
  };

  explicit RunJournal(const std::string& path);
  ~RunJournal();

  RunJournal(const RunJournal&) = delete;
  RunJournal& operator=(const RunJournal&) = delete;

  // Reads the journal an earlier run left and says how it stands to
  // `identity`; kNone when there is none, or it holds no complete identity.
  Standing read(const Identity& identity);
  // The identity read, for the messages about another run's journal.
  const Identity& getFoundIdentity() const { return found; }
  // The decisions read from a journal of the same run, in group order: the
  // section of a group that held, nothing for one that did not.
  const std::vector<std::optional<std::string>>& getDecisions() const { return decisions; }
  // The replacement the journal read leaves unfinished, if any.
  const std::optional<Replacement>& getUnfinishedReplacement() const { return unfinished; }
  // The undo steps of the journal read, in the order they were recorded.
  const std::vector<UndoStep>& getUndoSteps() const { return undoSteps; }
  // Whether a rollback of the journal read has begun, and whether it has
  // put off to the restart what undoes the steps the patch put off.
  bool isRollingBack() const { return rollingBack; }
  bool isRestartUndone() const { return restartUndone; }

  // Records undo steps before the changes they undo. durable makes them
  // reach the disk first, which every step that loses old data needs; a
  // step that only makes something new may wait for the next. False, with
  // nothing written, when the journal cannot be written: the changes must
  // then not start.
  bool recordUndo(const std::vector<UndoStep>& steps, bool durable = true);

  // Takes over the journal read, whoever's it is, to roll it back: marks the
  // rollback begun, so that every later run finishes it first. False when
  // the mark cannot be written.
  bool beginRollback();
  // Marks that what undoes the steps put off to the restart is put off too.
  bool markRestartUndone();

  // Records the decision of the next group. False when the journal cannot
  // be written; the run can still go on, as a cut-off run is then finished
  // wherever its conditions still hold.
  bool recordDecision(const std::optional<std::string>& branch);

  // Records a replacement before its first rename. False, with nothing
  // written, when the journal cannot be written: the step must then not
  // start.
  bool beginReplacement(const Replacement& step);

  // Records that the file at path is about to be filled in where it stands,
  // with its size and time before. False when that cannot be recorded.
  bool beginFillIn(const std::string& path, const platform::FileInfo& before);

  // Marks the step begun last as ended. The mark is not waited for: a mark
  // that is lost only makes the next run look at the step, which it then
  // finds ended.
  void endStep();

  // Whether this run or the earlier one it continues filled in the file at
  // path already: the fill-in ended, or it was cut off after the file was
  // rewritten (its size or time is no longer what was recorded).
  bool isFilledIn(const std::string& path) const;

  // The run is over, or the earlier one whose journal was read has its patch
  // in the ledger, or is rolled back: the old files it kept aside are
  // removed, then the journal.
  void end();

  // Whether the name of path has the form the run gives an old file it keeps
  // for a rollback ("TV", six base-32 digits, ".~KP"): the only files a
  // journal may have removed or moved back, so that one damaged on disk
  // cannot make a run touch some other file.
  static bool isKeptName(const std::string& path);

  // The text of a journal that holds identity and steps and nothing else,
  // as a run writes it: the undo an installed patch keeps reads back as one.
  static std::string formatUndo(const Identity& identity, const std::vector<UndoStep>& steps);

  // A digest of the bytes of a file (FnvHash, as 16 hexadecimal digits)
  // that tells one profile from another; empty when it cannot be read.
  static std::string digestOfFile(const std::string& path);

  const std::string& getPath() const { return path; }

 private:
  struct FillIn {
    std::string path;
    std::uint64_t size = 0;
    std::uint64_t modifiedTime = 0;
    bool ended = false;
  };

  // Writes one record, opening the journal (with the identity when it is
  // new) on the first, and makes it reach the disk.
  bool append(const std::string& record, bool durable);

  std::string path;
  Identity identity;
  Identity found;
  std::vector<std::optional<std::string>> decisions;
  std::optional<Replacement> unfinished;
  std::vector<FillIn> fillIns;
  std::vector<UndoStep> undoSteps;
  bool rollingBack;
  bool restartUndone;
  // This run may write to the journal on disk: it is new or the same run's,
  // and no write to it has failed.
  bool continues;
  // The journal on disk does not hold this run's identity yet: the first
  // record brings it.
  bool needsIdentity;
  platform::FileHandle file;
  // The kind of the step begun last, while it is not marked ended.
  char openStep;
};

#endif  // SRC_FILEOPS_RUN_JOURNAL_H_
