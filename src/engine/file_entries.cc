// The entries that install files shipped beside the installer: FILE, SUBST
// and FINDFILE, with the copy and its report that they share.
#include "engine/data_file.h"

#include <cstdio>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "base/error.h"
#include "config/config_data.h"
#include "engine/entry_line.h"
#include "fileops/file_install.h"
#include "fileops/run_journal.h"
#include "fileops/substitute_class.h"
#include "messages/message_numbers.h"
#include "messages/nls_class.h"
#include "path/path_name.h"
#include "platform/files.h"

namespace {

// Copy results in the order of their messages, kMessageFirstCopyResult
// upwards.
const int kResults[kMessageCopyResultCount] = {kCopySameStamp, kCopyTargetNewer, kCopyOverOlder,
                                               kCopyOverNewer, kCopyCreated};

// The trace block shared by SUBST, FILE and FINDFILE. The backup lines stand
// before the force lines, whatever the order of the fields.
void printFileTrace(NLSClass* messages, const char* head, const std::vector<EntryField>& fields,
                    int force, int backup, int compress) {
  messages->print("%s", head);
  messages->print("\t\tcomponent   : %s\n", orNull(fieldText(fields[0])));
  messages->print("\t\tfilename    : %s\n", orNull(fieldText(fields[1])));
  messages->print("\t\tsubdir      : %s\n", orNull(fieldText(fields[2])));
  messages->print("\t\tentry       : %s\n", orNull(fieldText(fields[3])));
  messages->print("\t\tbackup      : %s\n", orNull(fieldText(fields[5])));
  messages->print("\t\tbackup val  : %d\n", backup);
  messages->print("\t\tforce       : %s\n", orNull(fieldText(fields[4])));
  messages->print("\t\tforce value : %d\n", force);
  messages->print("\t\tcompress    : %s\n", orNull(fieldText(fields[6])));
  messages->print("\t\tcompress val: %d\n", compress);
}

// The size and time of the file at path; both 0 when there is none.
platform::FileInfo fileInfoOf(const std::string& path) {
  platform::FileInfo info;
  if (!platform::getFileInfo(path, &info).ok) info = platform::FileInfo();
  return info;
}

}  // namespace

std::optional<int> DataFile::installFile(const std::string& sourceDir, const std::string& targetDir,
                                         const std::string& sourceName,
                                         const std::string& targetName, int force, int backup,
                                         int compress, SubstituteClass* substitutes) {
  // Only the name and extension of each name count: a directory written in
  // an entry's name field must not send the file elsewhere.
  std::string sourcePath = pathSetFileName(pathJoin(sourceDir, ""), sourceName);
  std::string targetPath = pathSetFileName(pathJoin(targetDir, ""), targetName);

  std::optional<int> result;
  std::vector<std::string> clampedStamps;
  if (compress == 0) {
    try {
      result = copyFileByPath(sourcePath, targetPath, archiveTempDir.c_str(), config, force, backup,
                              substitutes, &clampedStamps);
    } catch (const Error& error) {
      // Memory that runs out is no failure of this one file: the run ends
      // with the critical-error report.
      if (error.getErrorNumber() == kErrorNoMemory) throw;
      messages->printError(kMessageNotCopied, ": %s", error.getErrorMessage().c_str());
      noteEntryFailed();
    }
  }
  // A stamp taken as the nearest DOS stamp changes what the copy compared
  // and gave, and is worth a line, but the entry reached its end.
  for (const std::string& path : clampedStamps) {
    messages->printError(kMessageStampClamped, ": %s", path.c_str());
  }

  if (result && config->isInteractive()) {
    for (int i = 0; i < static_cast<int>(std::size(kResults)); ++i) {
      if (kResults[i] == *result) {
        messages->print("%s (%s)\n", targetPath.c_str(),
                        messages->getMessage(kMessageFirstCopyResult + i));
        break;
      }
    }
  }
  // A copy that failed half-way may still have deferred its backup.
  applyDeferredRule();
  return result;
}

void DataFile::findFileInTree(const std::string& directory, const std::string& fileName, int force,
                              int backup, int compress) {
  visitDirectoriesHolding(directory, fileName, [&](const std::string& directoryPart) {
    installFile(config->getProgramDir(), directoryPart, fileName, fileName, force, backup,
                compress);
  });
}

void DataFile::visitDirectoriesHolding(const std::string& directory, const std::string& fileName,
                                       const std::function<void(const std::string&)>& visit) {
  std::string directoryPart = pathJoin(directory, "");
  // The listing of the subdirectories mostly shows that the file is not
  // there either, which spares a look-up in each directory of a large tree.
  // Installing the file adds no directory, so the listing stays true.
  std::vector<platform::DirectoryEntry> entries;
  const bool listed = platform::listDirectory(directoryPart, &entries).ok;
  const bool ruledOut = listed && platform::listingRulesOut(directoryPart, entries, fileName);
  if (!ruledOut && fileExists(directoryPart + fileName)) visit(directoryPart);
  if (!listed) return;
  for (const platform::DirectoryEntry& entry : entries) {
    // A link may lead back up the tree; following one could recurse forever,
    // and a file reached through it is not one the tree holds.
    if (entry.name.empty() || entry.name[0] == '.' || !entry.isDirectory || entry.isLink) {
      continue;
    }
    visitDirectoriesHolding(directoryPart + entry.name, fileName, visit);
  }
}

// The fields of a SUBST, FILE or FINDFILE entry, FINDFILE's with an absent
// entry field in fourth place, and what they come to.
struct DataFile::FileEntry {
  std::vector<EntryField> fields;
  int force = 0;
  int backup = 0;
  int compress = 0;
  std::string baseDir;
};

bool DataFile::prepareFileEntry(const std::string& line, const char* head, bool hasEntryField,
                                FileEntry* entry) {
  std::vector<EntryField>& fields = entry->fields;
  fields = splitEntryFields(line, hasEntryField ? 7 : 6);
  if (!hasEntryField) fields.insert(fields.begin() + 3, std::nullopt);
  entry->force = getOptionValue(fieldText(fields[4]), config->isForce() ? 1 : 0);
  entry->backup = getOptionValue(fieldText(fields[5]), config->isBackup() ? 1 : 0);
  entry->compress = getOptionValue(fieldText(fields[6]), 0);
  if (config->isDebug()) {
    printFileTrace(messages, head, fields, entry->force, entry->backup, entry->compress);
  }
  if (!isFilled(fields[1]) || !fields[0] ||
      !getBaseDirectory(fields[0]->c_str(), &entry->baseDir)) {
    messages->printError(kMessageBadProfile);
    return false;
  }
  return true;
}

void DataFile::processSubstEntry(const std::string& line, SubstituteClass& substitutes) {
  FileEntry entry;
  if (!prepareFileEntry(line, "\tSubst\n", true, &entry)) return;
  const std::vector<EntryField>& fields = entry.fields;
  // Unlike FILE, the subdirectory is always joined, so the target directory
  // ends in "\" even without one.
  std::string targetDir = pathJoin(entry.baseDir, fields[2].value_or(""));
  const std::string& targetName = isFilled(fields[3]) ? *fields[3] : *fields[1];
  if (!fileExists(targetDir)) {
    messages->printError(kMessageNoTargetDirectory);
    noteEntryFailed();
    return;
  }
  // The file the copy installs: only the name and extension of the target
  // name count, for the fill-in too.
  const std::string path = pathSetFileName(pathJoin(targetDir, ""), targetName);
  // A copy fills in the placeholders on its way and gives the file the
  // source's stamp, which is all a run that continues one cut off after the
  // copy would see of it: the copy is recorded first as the file's fill-in.
  // The step ends only when the copy happens; left open, it counts only once
  // the file is no longer what it was. With compress set nothing is copied.
  const bool records = entry.compress == 0 && journal && !journal->isFilledIn(path);
  if (records && !journal->beginFillIn(path, fileInfoOf(path))) {
    messages->printError(kMessageNotFilledIn, ": %s", path.c_str());
    noteEntryFailed();
    return;
  }
  std::optional<int> result =
      installFile(config->getProgramDir(), targetDir, *fields[1], targetName, entry.force,
                  entry.backup, entry.compress, &substitutes);
  // Without a copy (compress set, a failed copy, a newer file there, or one
  // with the source's stamp, which a FILE entry may have put there as it is)
  // the file in place is filled in, once.
  if (result && *result != kCopySameStamp && *result != kCopyTargetNewer) {
    if (records) journal->endStep();
    return;
  }
  fillInPlace(path, substitutes);
}

void DataFile::fillInPlace(const std::string& path, SubstituteClass& substitutes) {
  // A missing file has nothing to fill in.
  platform::FileInfo before;
  if (!platform::getFileInfo(path, &before).ok) return;
  // The placeholders' values may hold a placeholder's text themselves (a
  // product root named \TAVRO), so a file filled in by a run that was cut
  // off, or by an earlier entry, is never filled in again.
  if (journal && journal->isFilledIn(path)) return;
  // The new text is made before anything is kept or recorded, so that a
  // file too large for memory (Error 1, the critical-error report) leaves
  // nothing behind.
  std::string text;
  const bool read = substitutes.readSubstituted(path, &text) == 1;
  // A fill-in that cannot be recorded, with a copy of the file as it was for
  // a rollback, does not start. The text is saved beside the file and then
  // takes its place, as an INI file is saved: no temporary directory is
  // needed, which a patch run from a CD without TEMP may not have.
  const bool begun =
      read &&
      (!journal || (keepCopyForRollback(path, config) && journal->beginFillIn(path, before)));
  const bool filled = begun && platform::saveWholeFile(path, text).ok;
  // Only a fill-in made is marked ended: an ended one is never made again,
  // so a file that could not be saved, or a copy's step left open before,
  // must stay open for the next run to fill the file in.
  if (journal && filled) journal->endStep();
  if (!filled) {
    messages->printError(kMessageNotFilledIn, ": %s", path.c_str());
    noteEntryFailed();
  }
}

bool DataFile::findTargetDirectory(const FileEntry& entry, std::string* targetDir) {
  const EntryField& subdir = entry.fields[2];
  *targetDir = isFilled(subdir) ? pathJoin(entry.baseDir, *subdir) : entry.baseDir;
  if (fileExists(*targetDir)) return true;
  messages->printError(kMessageNoTargetDirectory);
  noteEntryFailed();
  return false;
}

void DataFile::processFileEntry(const std::string& line) {
  FileEntry entry;
  std::string targetDir;
  if (!prepareFileEntry(line, "\tFile\n", true, &entry)) return;
  if (!findTargetDirectory(entry, &targetDir)) return;
  const std::vector<EntryField>& fields = entry.fields;
  installFile(config->getProgramDir(), targetDir, *fields[1],
              isFilled(fields[3]) ? *fields[3] : *fields[1], entry.force, entry.backup,
              entry.compress);
}

void DataFile::processFindFileEntry(const std::string& line) {
  FileEntry entry;
  std::string targetDir;
  if (!prepareFileEntry(line, "\tFindFile\n", false, &entry)) return;
  if (!findTargetDirectory(entry, &targetDir)) return;
  findFileInTree(targetDir, *entry.fields[1], entry.force, entry.backup, entry.compress);
}
