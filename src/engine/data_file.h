// DataFile is the engine that carries out the installation profile (the .DAT
// file beside the installer): it consults the patch ledger, evaluates the
// condition groups of section "Patch", carries out the section of every group
// that holds, entry by entry, and records the patch. The run driver creates
// one DataFile after the run configuration is complete, calls processProfile
// once, and destroys it first at teardown. It owns its Profile of the
// installation profile; the configuration and the catalogue are borrowed.
#ifndef SRC_ENGINE_DATA_FILE_H_
#define SRC_ENGINE_DATA_FILE_H_

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/product_lock.h"
#include "fileops/run_journal.h"
#include "platform/registry.h"

class ConfigData;
class NLSClass;
class Profile;
struct RegistryEdit;
enum class EntryKind;
class SubstituteClass;

class DataFile {
 public:
  DataFile(const std::string& dataFilePath, ConfigData* config, NLSClass* messages);
  ~DataFile();

  DataFile(const DataFile&) = delete;
  DataFile& operator=(const DataFile&) = delete;

  // The whole run over the installation profile. Ends the run (endRun) with
  // exit code 1, without teardown, when the profile begins with a UTF-8 byte-order
  // mark or no product root is known (both before anything is made), when
  // the patch is installed already, an archive directory cannot be created,
  // no condition group holds, or another patch's run is unfinished. When an
  // entry failed, the patch is not recorded and the run's journal stays for
  // the next run to finish.
  void processProfile();

  // Calls watch with the profile line of each condition and entry before it
  // is taken up, and with Profile::kNoLine once the conditions and their
  // sections are done; for a dry run, which tells the lines apart.
  void setLineWatch(std::function<void(std::size_t position)> watch) {
    lineWatch = std::move(watch);
  }

  // Whether an entry of the run did not reach the state it asks for.
  bool hasFailedEntries() const { return failedEntries; }

  // Creates ARCHIVE and ARCHIVE\TEMP in the product root when missing; ends
  // the process when one cannot be created.
  void createArchiveDirectories();

  // Looks patchStr up in the ledger: the product root's TAVRO.INI, and on
  // Windows NT, which records patches in the Windows directory's copy, that
  // one too. Sets nextPatch to the first free number of the copy that the
  // platform records in first when the patch is not there.
  bool isPatchInstalled(const char* patchStr, int* nextPatch);

  // Writes ledger key Patch<number> into the Windows directory's TAVRO.INI
  // (target 0) or the product root's (target 1).
  void recordPatch(int target, int number, const std::string& patchStr);

  // Evaluates the condition groups in order and carries out the section of
  // every group that holds; ends the process when none holds. Each decision
  // is recorded in the run journal until the patch is in the ledger, and a
  // run started again after one that was cut off follows the recorded
  // decisions instead of taking them again.
  void processConditions();

  // Opens the run's journal and reads what an earlier run left: finishes the
  // step it left under way when it is this run's, and ends the run when it
  // is another patch's (or this patch's for another profile or kind of
  // Windows) that is not in the ledger yet. A step that still cannot be
  // finished raises Error 26.
  void resumeJournal(const std::string& patchStr);
  // The same for a run of identity.
  void resumeJournal(const RunJournal::Identity& identity);

  // Takes the installed patch off again from its undo data: puts back every
  // file (replaced at the restart while in use), INI key and section,
  // registry value and key, and removes it from the ledger, renumbering the
  // entries after it. Ends the run, changing nothing, when the patch is not
  // installed (message 48), has no undo data (49), or a later patch changed
  // one of the same things (50, naming it).
  void removePatch(const std::string& patch);

  // Whether a ledger value records the patch: it begins with the patch's
  // name, and what follows it, if anything, cannot be part of a longer name
  // ("FIX12 1997-03-01" records FIX12; "FIX12B" and "FIX123" are others).
  static bool namesPatch(const std::string& value, const std::string& patch);

  // Decides one condition line; once the line passes its field checks, its
  // text is replaced by the branch (the section to carry out).
  bool testCondition(std::string& line);

  // Carries out every entry of the named section, in line order.
  void processSection(const std::string& section);

  // Carries out one REG entry (the trimmed line, keyword included); true when
  // the registry is as the entry asks (a value or key to delete that is not
  // there counts, though it is reported). A failure marks the entry failed;
  // an entry whose fields ask for nothing it may do does not.
  bool processRegistry(const std::string& line);

  // Deletes every subkey below the open key, depth first; path names the key
  // in messages. True when all went.
  bool deleteRegistryTree(platform::RegistryKey key, const std::string& path);

  // Copies one file from sourceDir to targetDir (its placeholders filled in
  // when substitutes is given) and reports the outcome; returns the copy
  // result, or nothing when no copy was made or it failed.
  std::optional<int> installFile(const std::string& sourceDir, const std::string& targetDir,
                                 const std::string& sourceName, const std::string& targetName,
                                 int force, int backup, int compress,
                                 SubstituteClass* substitutes = nullptr);

  // Installs fileName from the installer's directory into directory and each
  // directory below it that already holds a file of that name, the directory
  // before its subdirectories.
  void findFileInTree(const std::string& directory, const std::string& fileName, int force,
                      int backup, int compress);

  // Calls visit with the path (ending in "\") of directory and of each
  // directory below it that holds fileName: depth first, each directory
  // before its subdirectories, in the order the system lists them, never
  // into links or names that begin with ".". The walk of findFileInTree,
  // shared with the dry run.
  static void visitDirectoriesHolding(const std::string& directory, const std::string& fileName,
                                      const std::function<void(const std::string&)>& visit);

  // Whether anything exists at path; a failure other than "not found" counts
  // as existing.
  static bool fileExists(const std::string& path);

  const std::string& getArchiveDir() const { return archiveDir; }
  const std::string& getArchiveTempDir() const { return archiveTempDir; }
  const std::string& getDataFilePath() const { return dataFilePath; }

 private:
  struct FileEntry;

  // Whether every condition line of a group holds; the branch of its first
  // line goes to *branch.
  bool isGroupHolding(const std::vector<std::size_t>& positions, std::string* branch);

  void watchLine(std::size_t position) {
    if (lineWatch) lineWatch(position);
  }

  // Marks the entry under way as failed.
  void noteEntryFailed() { failedEntries = true; }

  // Splits a SUBST, FILE or FINDFILE line, works out its options and prints
  // its trace block under head; false, after message 18, when the file name
  // or the base directory is unusable.
  bool prepareFileEntry(const std::string& line, const char* head, bool hasEntryField,
                        FileEntry* entry);
  // The directory a FILE or FINDFILE entry installs into: the base directory,
  // or the subdirectory the entry names below it. Prints the error line and
  // gives false when nothing exists there.
  bool findTargetDirectory(const FileEntry& entry, std::string* targetDir);

  // Fills in the placeholders of the file at path where it stands, once: a
  // file this run, or the run it continues, filled in already is left as it
  // is. A file that is there and cannot be filled in fails the entry, with
  // message 43.
  void fillInPlace(const std::string& path, SubstituteClass& substitutes);

  // Reports each file that the restart will put in place under its 8.3
  // alias alone (message 46).
  void reportLosingLongNames();

  // Carries out one entry, by its keyword; line is trimmed and no comment.
  void processEntry(const std::string& line, SubstituteClass& substitutes);

  // Records in the run journal what undoes an edit of key (null: of the
  // whole section) in the INI file target: the old value or its absence, or
  // the section's lines, and that the file is new. False when that cannot
  // be recorded, and the edit must then not be made.
  bool recordIniUndo(Profile* target, const std::string& section, const char* key);

  // The entry handlers; each gets the trimmed line.
  void processIniEntry(const std::string& line, SubstituteClass& substitutes);
  void processSubstEntry(const std::string& line, SubstituteClass& substitutes);
  void processFileEntry(const std::string& line);
  void processFindFileEntry(const std::string& line);
  void processRenameOrCopyEntry(const std::string& line, EntryKind kind);
  void processEraseEntry(const std::string& line);
  void processRebootEntry(const std::string& line);

  // The base directory named by a component field, WINDOWS or TAVRO; false
  // for any other text.
  bool getBaseDirectory(const char* component, std::string* directory) const;
  // The same for the component field of a RENAME, COPY or ERASE entry; false,
  // after message 18, when it is absent or names neither.
  bool findLocalBaseDirectory(const std::optional<std::string>& component, std::string* directory);

  // An option field's value: the number it begins with, or defaultValue when
  // it is absent, empty or holds no number.
  static int getOptionValue(const char* field, int defaultValue);

  // Turns a step put off to the next restart into the restart request.
  void applyDeferredRule();

  // Splits a REG entry, fills in its value's placeholders and prints its
  // trace block; false when its fields ask for nothing it may do.
  bool parseRegistryEntry(const std::string& line, RegistryEdit* edit);
  // Deletes the key a REG entry names with everything below it.
  bool deleteKeyTree(const RegistryEdit& edit);
  // Deletes the subkey `name` of the open key parent, and its own subkeys
  // first; parentPath names parent in messages.
  bool deleteSubkey(platform::RegistryKey parent, const std::string& parentPath,
                    const std::string& name);

  // Rolls back the patch of the journal read, which a run left unfinished:
  // undoes its steps in the opposite order, puts off to the restart what
  // undoes the steps it put off, removes the journal and says so. Ends the
  // run, after message 42 naming patch and what could not be undone, when
  // a step cannot be undone; the journal then keeps the rollback begun.
  void rollBack(const std::string& patch);
  // Undoes one step; false when what it changed cannot be put back.
  bool undoStep(const RunJournal::UndoStep& step);
  void undoDeferredSteps();
  // The run configuration's copy of a product TAVRO.INI at path, if it is
  // one.
  Profile* productIniAt(const std::string& path) const;

  // Ends the run when no product root is known (message 44), else makes the
  // archive directories and takes the product's lock, ending the run when
  // another run holds it (message 38).
  void takeProduct();

  // Whether a journal is a removal's.
  static bool isRemovalJournal(const RunJournal::Identity& identity);
  // The removal itself, under the journal read for it; reports says
  // whether it prints what it does (a removal another run finishes does
  // not), resumes that the journal is an earlier try's, which may have
  // finished all but its end.
  void finishRemoval(const std::string& patch, bool reports, bool resumes);
  // Puts back one thing the undo data names.
  void restoreStep(const RunJournal::UndoStep& step, bool reports);
  // Removes every entry of ledger that records patch, and any entry a
  // removal cut off left twice, keeping the numbers without gaps.
  void removeFromLedger(Profile* ledger, const std::string& patch);

  // Ends the run with exit code 1 and no teardown: raises Error
  // kErrorRunEnded, which only the driver catches.
  [[noreturn]] void endRun();

  // Held from processProfile on; declared first, so that it goes last.
  ProductLock productLock;
  ConfigData* config;
  std::unique_ptr<Profile> profile;
  NLSClass* messages;
  std::string archiveDir;
  std::string archiveTempDir;
  std::string dataFilePath;
  std::unique_ptr<RunJournal> journal;
  // Whose run this is, as the journal records it.
  RunJournal::Identity runIdentity;
  bool failedEntries;
  std::function<void(std::size_t position)> lineWatch;
};

#endif  // SRC_ENGINE_DATA_FILE_H_
