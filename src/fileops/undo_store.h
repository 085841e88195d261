// UndoStore keeps, for every installed patch, what takes it off again: the
// original of each file the patch changed (a copy of it, or that there was
// none), and the old value of each INI key and registry value it set or
// deleted, with the registry keys it made or deleted. It lives in the
// product's ARCHIVE\UNDO: for each patch a record, "NNNNNNNN.UND", named
// after the patch, and a directory "NNNNNNNN" of copies beside it. The
// record reads back as a run journal (RunJournal) that holds the patch's
// identity and undo steps.
//
// The engine keeps a finished run's undo there before it records the patch
// in the ledger; the undo of a run that is rolled back instead is
// discarded. An UndoStore holds only the directory's path.
#ifndef SRC_FILEOPS_UNDO_STORE_H_
#define SRC_FILEOPS_UNDO_STORE_H_

#include <string>
#include <vector>

#include "fileops/run_journal.h"

class UndoStore {
 public:
  using UndoStep = RunJournal::UndoStep;

  // archiveDir is the product's ARCHIVE directory.
  explicit UndoStore(const std::string& archiveDir);

  // The record of patch, and the directory of its copies.
  std::string getRecordPath(const std::string& patch) const;
  std::string getCopyDir(const std::string& patch) const;

  // What undoes a whole run, from its journal's undo steps in the order they
  // were recorded: for each file the steps touch, the first step that names
  // it says what was there before the run (a step that moves it away or
  // copies it: the file, by its size and time; one that puts a file where
  // none was: nothing); for each INI key, section and registry value, the
  // first step that names it holds its old state; every registry key the
  // run made or deleted. Files come as kKeptAside (where the original is,
  // with its size and time) and kCreated (there was none), ordered by name;
  // the rest as recorded. Steps the run puts off to the restart, and the
  // run's own names (its copies, ARCHIVE\TEMP), are no part of it.
  static std::vector<UndoStep> getNetUndo(const std::vector<UndoStep>& steps,
                                          const std::string& archiveTempDir);

  // What a step of undo data names, the same for the same file, INI key,
  // section, registry value or key whichever patch's data it is in: two
  // patches whose undo data share a name changed the same thing.
  static std::string getTouchedName(const UndoStep& step);

  // Keeps the undo of a finished run of identity's patch: copies the
  // original of every file the net undo names into the patch's directory,
  // then writes the record, whole or not at all, naming the copies. Done
  // again, it makes the same copies and record. False when anything of it
  // cannot be made.
  bool keep(const RunJournal::Identity& identity, const std::vector<UndoStep>& steps,
            const std::string& archiveTempDir);

  // Removes the record and the copies of patch, if there are any.
  void discard(const std::string& patch);

 private:
  // The name the record and the copy directory of patch share.
  std::string nameOf(const std::string& patch) const;

  std::string directory;
};

#endif  // SRC_FILEOPS_UNDO_STORE_H_
