#include "engine/data_file.h"

#include <string>
#include <vector>

#include "base/ascii_text.h"
#include "config/config_data.h"
#include "engine/entry_line.h"
#include "engine/entry_rules.h"
#include "engine/registry_key_holder.h"
#include "fileops/run_journal.h"
#include "fileops/substitute_class.h"
#include "messages/message_numbers.h"
#include "messages/nls_class.h"
#include "path/path_name.h"

// A REG entry whose fields passed their checks: an empty path or name counts
// as absent.
struct RegistryEdit {
  platform::RegistryKey root;
  // The root as the entry names it (HKLM, HKCU, HKCR, HKU).
  std::string rootName;
  RegistryAction action = RegistryAction::kRefused;
  EntryField path;
  EntryField name;
  EntryField value;
};

namespace {

// Registry key names are at most 255 characters; the enumeration buffer
// holds that and the terminator, so every valid subkey can be deleted.
constexpr std::size_t kSubkeyNameCapacity = 256;

// The detail of most failures names the key and the value.
void reportKeyFailure(NLSClass* messages, int number, const RegistryEdit& edit) {
  messages->printError(number, ":\n\t%s\\%s", orNull(fieldText(edit.path)),
                       orNull(fieldText(edit.name)));
}

// How a deletion ended: done, failed, or not needed since what it deletes
// is not there, which the entry still reports.
enum class Deletion { kDone, kFailed, kAbsent };

// Opens the entry's key for a deletion; reports a key that cannot be opened.
Deletion openEditedKey(NLSClass* messages, const RegistryEdit& edit,
                       platform::RegistryKey* opened) {
  platform::Status status = platform::openRegistryKey(edit.root, fieldText(edit.path),
                                                      platform::RegistryAccess::kAllAccess, opened);
  if (!status.ok) {
    reportKeyFailure(messages, kMessageKeyNotOpened, edit);
    return status.notFound ? Deletion::kAbsent : Deletion::kFailed;
  }
  return Deletion::kDone;
}

bool setValue(NLSClass* messages, const RegistryEdit& edit) {
  platform::RegistryKey created;
  if (!platform::createRegistryKey(edit.root, fieldText(edit.path), &created).ok) {
    reportKeyFailure(messages, kMessageKeyNotCreated, edit);
    return false;
  }
  RegistryKeyHolder key(created);
  if (!platform::setRegistryString(key.get(), fieldText(edit.name), *edit.value).ok) {
    reportKeyFailure(messages, kMessageValueNotSet, edit);
    return false;
  }
  return true;
}

Deletion deleteValue(NLSClass* messages, const RegistryEdit& edit) {
  platform::RegistryKey opened;
  Deletion openedKey = openEditedKey(messages, edit, &opened);
  if (openedKey != Deletion::kDone) return openedKey;
  RegistryKeyHolder key(opened);
  platform::Status status = platform::deleteRegistryValue(key.get(), fieldText(edit.name));
  if (!status.ok) {
    reportKeyFailure(messages, kMessageValueNotDeleted, edit);
    return status.notFound ? Deletion::kAbsent : Deletion::kFailed;
  }
  return Deletion::kDone;
}

using UndoStep = RunJournal::UndoStep;

UndoStep registryStep(UndoStep::Kind kind, const RegistryEdit& edit, const std::string& keyPath) {
  UndoStep step;
  step.kind = kind;
  step.key = edit.rootName;
  step.path = keyPath;
  return step;
}

// Adds to steps the key at keyPath below the open key, its values and, after
// them, every key below it, as a deletion of the tree would remove them.
bool snapshotKeyTree(platform::RegistryKey key, const RegistryEdit& edit,
                     const std::string& keyPath, std::vector<UndoStep>* steps) {
  steps->push_back(registryStep(UndoStep::kRegistryKeyDeleted, edit, keyPath));
  for (unsigned long index = 0;; ++index) {
    UndoStep value = registryStep(UndoStep::kRegistryValue, edit, keyPath);
    platform::RegistryValue data;
    platform::Status listed = platform::enumerateRegistryValue(key, index, &value.other, &data);
    if (listed.notFound) break;
    if (!listed.ok) return false;
    value.present = true;
    value.type = data.type;
    value.value = data.data;
    steps->push_back(value);
  }
  for (unsigned long index = 0;; ++index) {
    std::string name;
    platform::Status listed =
        platform::enumerateRegistrySubkey(key, index, kSubkeyNameCapacity, &name);
    if (listed.notFound) return true;
    platform::RegistryKey opened;
    if (!listed.ok ||
        !platform::openRegistryKey(key, name.c_str(), platform::RegistryAccess::kRead, &opened)
             .ok) {
      return false;
    }
    RegistryKeyHolder subkey(opened);
    if (!snapshotKeyTree(subkey.get(), edit, keyPath.empty() ? name : keyPath + "\\" + name,
                         steps)) {
      return false;
    }
  }
}

// What undoes the edit: the old value or its absence, the first key it
// makes, or the whole tree it deletes. False when that cannot be read.
bool undoStepsOf(const RegistryEdit& edit, std::vector<UndoStep>* steps) {
  const std::string keyPath = edit.path ? *edit.path : std::string();
  platform::RegistryKey opened;
  platform::Status status = platform::openRegistryKey(edit.root, fieldText(edit.path),
                                                      platform::RegistryAccess::kRead, &opened);
  if (status.notFound) {
    // Nothing to delete; a set makes the key and every missing one above
    // it, and the first of those is what a rollback deletes.
    if (edit.action != RegistryAction::kSetValue) return true;
    std::string made;
    std::size_t start = 0;
    for (;;) {
      const std::size_t end = keyPath.find('\\', start);
      made = keyPath.substr(0, end);
      platform::RegistryKey level;
      platform::Status found = platform::openRegistryKey(edit.root, made.c_str(),
                                                         platform::RegistryAccess::kRead, &level);
      if (found.ok) platform::closeRegistryKey(level);
      if (found.notFound || end == std::string::npos) break;
      if (!found.ok) return false;
      start = end + 1;
    }
    steps->push_back(registryStep(UndoStep::kRegistryKeyCreated, edit, made));
    return true;
  }
  if (!status.ok) return false;
  RegistryKeyHolder key(opened);
  if (edit.action == RegistryAction::kSetValue || edit.action == RegistryAction::kDeleteValue) {
    UndoStep value = registryStep(UndoStep::kRegistryValue, edit, keyPath);
    value.other = edit.name ? *edit.name : std::string();
    platform::RegistryValue data;
    platform::Status queried = platform::queryRegistryValue(key.get(), fieldText(edit.name), &data);
    if (!queried.ok && !queried.notFound) return false;
    value.present = queried.ok;
    value.type = data.type;
    value.value = data.data;
    steps->push_back(value);
    return true;
  }
  // Recorded last key first, so that a rollback, which undoes in the
  // opposite order, makes the keys again in the order they stood.
  std::vector<UndoStep> tree;
  if (!snapshotKeyTree(key.get(), edit, keyPath, &tree)) return false;
  steps->insert(steps->end(), tree.rbegin(), tree.rend());
  return true;
}

}  // namespace

bool DataFile::processRegistry(const std::string& line) {
  if (config->isDebug()) messages->print("Entered processRegistry\n");
  RegistryEdit edit;
  if (!parseRegistryEntry(line, &edit)) {
    messages->printError(kMessageBadProfile);
    return false;
  }
  // Recorded for a rollback before anything changes; an edit whose undo
  // cannot be recorded is not made.
  std::vector<UndoStep> undo;
  if (journal && (!undoStepsOf(edit, &undo) || !journal->recordUndo(undo))) {
    reportKeyFailure(messages,
                     edit.action == RegistryAction::kSetValue      ? kMessageKeyNotCreated
                     : edit.action == RegistryAction::kDeleteValue ? kMessageValueNotDeleted
                                                                   : kMessageKeyNotDeleted,
                     edit);
    noteEntryFailed();
    return false;
  }
  bool done = false;
  switch (edit.action) {
    case RegistryAction::kSetValue:
      if (config->isDebug()) messages->print("Creating/Changing a registry key\n");
      done = setValue(messages, edit);
      break;
    case RegistryAction::kDeleteValue:
      if (config->isDebug()) messages->print("Deleting a registry value\n");
      // A value that is not there is as the entry asks, though reported.
      done = deleteValue(messages, edit) != Deletion::kFailed;
      break;
    case RegistryAction::kDeleteTree:
    case RegistryAction::kRefused:
      done = deleteKeyTree(edit);
      break;
  }
  if (!done) noteEntryFailed();
  return done;
}

bool DataFile::parseRegistryEntry(const std::string& line, RegistryEdit* edit) {
  std::vector<EntryField> fields = splitEntryFields(line, 4);
  const EntryField& section = fields[0];
  edit->path = fields[1];
  edit->name = fields[2];
  edit->value = fields[3];

  SubstituteClass substitutes('\\');
  substitutes.addEntry("TAVRO", config->getRootDir());
  substitutes.addEntry("WINDOWS", config->getWindowsDir());
  if (edit->value) substitutes.substituteLine(*edit->value);
  if (config->isDebug()) {
    messages->print("\tsection: %s\n", orNull(fieldText(section)));
    messages->print("\tpath:    %s\n", orNull(fieldText(edit->path)));
    messages->print("\tkey:     %s\n", orNull(fieldText(edit->name)));
    messages->print("\tvalue:   %s\n", orNull(fieldText(edit->value)));
  }
  if (!isFilled(section)) return false;
  if (!isFilled(edit->path)) edit->path.reset();
  if (!isFilled(edit->name)) edit->name.reset();
  platform::RegistryRoot rootName;
  if (!findEntryRoot(*section, &rootName)) return false;
  edit->root = platform::getRootKey(rootName);
  edit->rootName = *section;
  edit->action = registryActionOf(edit->path, edit->name, edit->value);
  return edit->action != RegistryAction::kRefused;
}

bool DataFile::deleteKeyTree(const RegistryEdit& edit) {
  platform::RegistryKey opened;
  Deletion openedKey = openEditedKey(messages, edit, &opened);
  if (openedKey != Deletion::kDone) return openedKey == Deletion::kAbsent;
  RegistryKeyHolder key(opened);
  if (config->isDebug()) messages->print("Deleting a registry subtree\n");
  if (!deleteRegistryTree(key.get(), *edit.path)) return false;
  if (!platform::deleteRegistryKey(key.get(), "").ok) {
    messages->printError(kMessageKeyNotDeleted, ":\n\t%s", edit.path->c_str());
    return false;
  }
  return true;
}

bool DataFile::deleteRegistryTree(platform::RegistryKey key, const std::string& path) {
  unsigned long count = 0;
  if (!platform::countRegistrySubkeys(key, &count).ok) {
    messages->printError(kMessageSubkeysNotCounted, ":\n\t%s", path.c_str());
    return false;
  }
  for (;;) {
    // Each deleted subkey leaves the list, so index 0 is always the next one
    // still present; a rising index would skip every other subkey.
    std::string name;
    platform::Status listed = platform::enumerateRegistrySubkey(key, 0, kSubkeyNameCapacity, &name);
    if (listed.notFound) return true;
    if (!listed.ok) {
      messages->printError(kMessageSubkeysNotListed, ":\n\t%s", path.c_str());
      return false;
    }
    if (!deleteSubkey(key, path, name)) return false;
  }
}

bool DataFile::deleteSubkey(platform::RegistryKey parent, const std::string& parentPath,
                            const std::string& name) {
  platform::RegistryKey opened;
  if (!platform::openRegistryKey(parent, name.c_str(), platform::RegistryAccess::kAllAccess,
                                 &opened)
           .ok) {
    messages->printError(kMessageKeyNotOpened, ":\n\t%s\\%s", parentPath.c_str(), name.c_str());
    return false;
  }
  RegistryKeyHolder subkey(opened);
  std::string subkeyPath = pathJoin(parentPath, name);
  unsigned long subkeyCount = 0;
  if (!platform::countRegistrySubkeys(subkey.get(), &subkeyCount).ok) {
    messages->printError(kMessageSubkeysNotCounted, ":\n\t%s", subkeyPath.c_str());
    return false;
  }
  // What is left below makes the deletion of the subkey fail and report.
  if (subkeyCount > 0) deleteRegistryTree(subkey.get(), subkeyPath);
  if (!platform::deleteRegistryKey(subkey.get(), "").ok) {
    messages->printError(kMessageKeyNotDeleted, ":\n\t%s", subkeyPath.c_str());
    return false;
  }
  return true;
}
