// The entries that install files shipped beside the installer: FILE, SUBST
// and FINDFILE, with the copy and its report that they share.
#include "engine/data_file.h"

#include <cstdio>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "config/config_data.h"
#include "config/error.h"
#include "engine/entry_line.h"
#include "fileops/file_install.h"
#include "fileops/substitute_class.h"
#include "messages/nls_class.h"
#include "path/path_name.h"
#include "platform/files.h"

namespace {

// Copy results in the order of their messages, 32 upwards.
const int kResults[] = {kCopySameStamp, kCopyTargetNewer, kCopyOverOlder, kCopyOverNewer,
                        kCopyCreated};
constexpr int kFirstResultMessage = 32;

// The trace block shared by SUBST, FILE and FINDFILE. The backup lines stand
// before the force lines, whatever the order of the fields.
void printFileTrace(NLSClass* messages, const char* head, const std::vector<EntryField>& fields,
                    const EntryField& entry, const EntryField& force, const EntryField& backup,
                    const EntryField& compress, int forceValue, int backupValue,
                    int compressValue) {
  messages->print("%s", head);
  messages->print("\t\tcomponent   : %s\n", orNull(fieldText(fields[0])));
  messages->print("\t\tfilename    : %s\n", orNull(fieldText(fields[1])));
  messages->print("\t\tsubdir      : %s\n", orNull(fieldText(fields[2])));
  messages->print("\t\tentry       : %s\n", orNull(fieldText(entry)));
  messages->print("\t\tbackup      : %s\n", orNull(fieldText(backup)));
  messages->print("\t\tbackup val  : %d\n", backupValue);
  messages->print("\t\tforce       : %s\n", orNull(fieldText(force)));
  messages->print("\t\tforce value : %d\n", forceValue);
  messages->print("\t\tcompress    : %s\n", orNull(fieldText(compress)));
  messages->print("\t\tcompress val: %d\n", compressValue);
}

}  // namespace

void DataFile::installFile(const std::string& sourceDir, const std::string& targetDir,
                           const std::string& sourceName, const std::string& targetName, int force,
                           int backup, int compress) {
  // Only the name and extension of each name count: a directory written in
  // an entry's name field must not send the file elsewhere.
  std::string sourcePath = pathSetFileName(pathJoin(sourceDir, ""), sourceName);
  std::string targetPath = pathSetFileName(pathJoin(targetDir, ""), targetName);

  std::optional<int> result;
  if (compress == 0) {
    try {
      result =
          copyFileByPath(sourcePath, targetPath, archiveTempDir.c_str(), config, force, backup);
    } catch (const Error& error) {
      messages->printTo(stderr, "\n%c%s: %s\n", kBel, messages->getMessage(30),
                        error.getErrorMessage().c_str());
    }
  }

  if (result && config->isInteractive()) {
    for (int i = 0; i < static_cast<int>(std::size(kResults)); ++i) {
      if (kResults[i] == *result) {
        messages->print("%s (%s)\n", targetPath.c_str(),
                        messages->getMessage(kFirstResultMessage + i));
        break;
      }
    }
  }
  // A copy that failed half-way may still have deferred its backup.
  applyDeferredRule();
}

void DataFile::findFileInTree(const std::string& directory, const std::string& fileName, int force,
                              int backup, int compress) {
  std::string directoryPart = pathJoin(directory, "");
  if (fileExists(directoryPart + fileName)) {
    installFile(config->getProgramDir(), directoryPart, fileName, fileName, force, backup,
                compress);
  }

  std::vector<platform::DirectoryEntry> entries;
  if (!platform::listDirectory(directoryPart, &entries).ok) return;
  for (const platform::DirectoryEntry& entry : entries) {
    // A link may lead back up the tree; following one could recurse forever,
    // and a file reached through it is not one the tree holds.
    if (entry.name.empty() || entry.name[0] == '.' || !entry.isDirectory || entry.isLink) {
      continue;
    }
    findFileInTree(directoryPart + entry.name, fileName, force, backup, compress);
  }
}

void DataFile::processSubstEntry(const std::string& line, SubstituteClass& substitutes) {
  std::vector<EntryField> fields = splitEntryFields(line, 7);
  int force = getOptionValue(fieldText(fields[4]), config->isForce() ? 1 : 0);
  int backup = getOptionValue(fieldText(fields[5]), config->isBackup() ? 1 : 0);
  int compress = getOptionValue(fieldText(fields[6]), 0);
  if (config->isDebug()) {
    printFileTrace(messages, "\tSubst\n", fields, fields[3], fields[4], fields[5], fields[6], force,
                   backup, compress);
  }

  std::string baseDir;
  if (!isFilled(fields[1]) || !fields[0] || !getBaseDirectory(fields[0]->c_str(), &baseDir)) {
    printErrorLine(18);
    return;
  }

  // Unlike FILE, the subdirectory is always joined, so the target directory
  // ends in "\" even without one.
  std::string targetDir = pathJoin(baseDir, fields[2].value_or(""));
  const std::string& targetName = isFilled(fields[3]) ? *fields[3] : *fields[1];
  if (!fileExists(targetDir)) {
    printErrorLine(17);
  } else {
    installFile(config->getProgramDir(), targetDir, *fields[1], targetName, force, backup,
                compress);
  }
  // Also without a copy: with compress set, the file already in place is the
  // one to rewrite. A missing file makes substituteFile fail, which is fine.
  substitutes.substituteFile(pathJoin(targetDir, targetName));
}

void DataFile::processFileEntry(const std::string& line) {
  std::vector<EntryField> fields = splitEntryFields(line, 7);
  int force = getOptionValue(fieldText(fields[4]), config->isForce() ? 1 : 0);
  int backup = getOptionValue(fieldText(fields[5]), config->isBackup() ? 1 : 0);
  int compress = getOptionValue(fieldText(fields[6]), 0);
  if (config->isDebug()) {
    printFileTrace(messages, "\tFile\n", fields, fields[3], fields[4], fields[5], fields[6], force,
                   backup, compress);
  }

  std::string baseDir;
  if (!isFilled(fields[1]) || !fields[0] || !getBaseDirectory(fields[0]->c_str(), &baseDir)) {
    printErrorLine(18);
    return;
  }
  std::string targetDir = isFilled(fields[2]) ? pathJoin(baseDir, *fields[2]) : baseDir;
  if (!fileExists(targetDir)) {
    printErrorLine(17);
    return;
  }
  installFile(config->getProgramDir(), targetDir, *fields[1],
              isFilled(fields[3]) ? *fields[3] : *fields[1], force, backup, compress);
}

void DataFile::processFindFileEntry(const std::string& line) {
  std::vector<EntryField> fields = splitEntryFields(line, 6);
  int force = getOptionValue(fieldText(fields[3]), config->isForce() ? 1 : 0);
  int backup = getOptionValue(fieldText(fields[4]), config->isBackup() ? 1 : 0);
  int compress = getOptionValue(fieldText(fields[5]), 0);
  if (config->isDebug()) {
    printFileTrace(messages, "\tFindFile\n", fields, std::nullopt, fields[3], fields[4], fields[5],
                   force, backup, compress);
  }

  std::string baseDir;
  if (!isFilled(fields[1]) || !fields[0] || !getBaseDirectory(fields[0]->c_str(), &baseDir)) {
    printErrorLine(18);
    return;
  }
  std::string targetDir = isFilled(fields[2]) ? pathJoin(baseDir, *fields[2]) : baseDir;
  if (!fileExists(targetDir)) {
    printErrorLine(17);
    return;
  }
  findFileInTree(targetDir, *fields[1], force, backup, compress);
}
