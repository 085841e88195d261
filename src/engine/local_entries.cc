// The entries that work on files already on the machine (RENAME, COPY,
// ERASE), both names taken relative to one base directory, and the REBOOT
// entry that sets the restart request.
#include "engine/data_file.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "base/error.h"
#include "config/config_data.h"
#include "engine/entry_line.h"
#include "fileops/file_install.h"
#include "messages/message_numbers.h"
#include "messages/nls_class.h"
#include "path/path_name.h"
#include "platform/files.h"

namespace {

// The trace block of RENAME and COPY; their heads differ in the case of
// "local". The backup lines stand before the force lines.
void printMoveTrace(NLSClass* messages, const char* head, const std::vector<EntryField>& fields,
                    const std::string& sourcePath, const std::string& destinationPath, int force,
                    int backup) {
  messages->print("%s", head);
  messages->print("\t\tcomponent   : %s\n", orNull(fieldText(fields[0])));
  messages->print("\t\tsource      : %s\n", sourcePath.c_str());
  messages->print("\t\tdestination : %s\n", destinationPath.c_str());
  messages->print("\t\tbackup      : %s\n", orNull(fieldText(fields[4])));
  messages->print("\t\tbackup val  : %d\n", backup);
  messages->print("\t\tforce       : %s\n", orNull(fieldText(fields[3])));
  messages->print("\t\tforce value : %d\n", force);
}

// Only a directory can be listed.
bool isDirectory(const std::string& path) {
  std::vector<platform::DirectoryEntry> entries;
  return platform::listDirectory(path, &entries).ok;
}

}  // namespace

bool DataFile::findLocalBaseDirectory(const EntryField& component, std::string* directory) {
  if (getBaseDirectory(fieldText(component), directory)) return true;
  messages->printError(kMessageBadProfile);
  return false;
}

void DataFile::processRenameOrCopyEntry(const std::string& line, EntryKind kind) {
  const bool isCopy = kind == EntryKind::kCopy;
  std::vector<EntryField> fields = splitEntryFields(line, 5);
  if (!isFilled(fields[1]) || !isFilled(fields[2])) return;
  int force = getOptionValue(fieldText(fields[3]), config->isForce() ? 1 : 0);
  int backup = getOptionValue(fieldText(fields[4]), config->isBackup() ? 1 : 0);

  std::string baseDir;
  if (!findLocalBaseDirectory(fields[0], &baseDir)) return;
  std::string sourcePath = pathJoin(baseDir, *fields[1]);
  std::string destinationPath = pathJoin(baseDir, *fields[2]);
  if (config->isDebug()) {
    printMoveTrace(messages, isCopy ? "\tCopy (Local)\n" : "\tRename (local)\n", fields, sourcePath,
                   destinationPath, force, backup);
  }

  std::vector<std::string> clampedStamps;
  try {
    if (isCopy) {
      // The result code is not reported: a local copy has no result line.
      copyFileByPath(sourcePath, destinationPath, archiveTempDir.c_str(), config, force, backup,
                     nullptr, &clampedStamps);
    } else {
      moveFileByPath(sourcePath, destinationPath, config, force, backup);
    }
  } catch (const Error& error) {
    messages->printError(isCopy ? kMessageNotCopied : kMessageNotRenamed, ": %s",
                         error.getErrorMessage().c_str());
    // A rename whose source is gone and whose destination is there has
    // reached its end, as after a run that was cut off once it had renamed;
    // a directory there is none of its doing.
    const bool renamed = !isCopy && !fileExists(sourcePath) && fileExists(destinationPath) &&
                         !isDirectory(destinationPath);
    if (!renamed) noteEntryFailed();
  }
  for (const std::string& path : clampedStamps) {
    messages->printError(kMessageStampClamped, ": %s", path.c_str());
  }
  // Steps deferred before a failure still need the restart.
  applyDeferredRule();
}

void DataFile::processEraseEntry(const std::string& line) {
  std::vector<EntryField> fields = splitEntryFields(line, 3);
  if (!isFilled(fields[1])) return;
  int backup = getOptionValue(fieldText(fields[2]), config->isBackup() ? 1 : 0);

  std::string baseDir;
  if (!findLocalBaseDirectory(fields[0], &baseDir)) return;
  std::string path = pathJoin(baseDir, *fields[1]);
  if (config->isDebug()) {
    messages->print("\tErase (Local)\n");
    messages->print("\t\tcomponent   : %s\n", orNull(fieldText(fields[0])));
    messages->print("\t\tfilename    : %s\n", path.c_str());
    messages->print("\t\tbackup      : %s\n", orNull(fieldText(fields[2])));
    messages->print("\t\tbackup val  : %d\n", backup);
  }

  try {
    eraseFile(path, config, backup);
  } catch (const Error& error) {
    messages->printError(kMessageNotErased, ": %s", error.getErrorMessage().c_str());
    noteEntryFailed();
  }
  applyDeferredRule();
}

void DataFile::processRebootEntry(const std::string& line) {
  std::vector<EntryField> fields = splitEntryFields(line, 2);
  // Any number is stored as it is: 0 withdraws an earlier request. Without a
  // number the request made so far stands.
  config->setRebootNeeded(getOptionValue(fieldText(fields[0]), config->getRebootNeeded()));
  if (isFilled(fields[1])) config->setRebootProgram(*fields[1]);
}
