#include "platform/what_if_backend.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/name_case.h"
#include "platform/what_if_failure.h"
#include "platform/what_if_registry_overlay.h"

namespace platform {

namespace {

const char* const kRootNames[] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_CLASSES_ROOT",
                                  "HKEY_USERS"};
constexpr std::intptr_t kRootCount = 4;

// Handles of the run's own keys lie in a range the machine's never use: an
// HKEY is a small handle number or a root from 0x80000000 up, and the POSIX
// stand-in counts from 1. A machine handle that reaches this backend is
// refused rather than mistaken for one of these.
constexpr std::intptr_t kRootKeyBase = 0x50000000;
constexpr std::intptr_t kFirstOpenKey = 0x50000010;

// A key name holds at most 255 characters on Windows; the buffer for the
// machine's names takes as many as a value name may hold, since the POSIX
// stand-in sets no limit of its own.
constexpr std::size_t kNameCapacity = 16384;

std::string foldedName(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) c = upperNameCase(c);
  return folded;
}

// Paths of the overlay start with a root's name as kRootNames spells it.
RegistryRoot rootOf(const std::string& path) {
  std::size_t end = path.find('\\');
  for (std::intptr_t i = 0; i < kRootCount; ++i) {
    if (path.compare(0, end, kRootNames[i]) == 0) return static_cast<RegistryRoot>(i);
  }
  return RegistryRoot::kLocalMachine;
}

bool isRootPath(const std::string& path) { return path.find('\\') == std::string::npos; }

std::string parentOf(const std::string& path) { return path.substr(0, path.rfind('\\')); }

std::string lastLevelOf(const std::string& path) { return path.substr(path.rfind('\\') + 1); }

// Splits a subkey name as the stand-in does: at "\", with one trailing "\"
// tolerated as Windows does; an empty level or a line end makes the name
// invalid.
bool splitLevels(const char* subkey, std::vector<std::string>* levels) {
  levels->clear();
  std::string text = subkey == nullptr ? std::string() : subkey;
  if (text.empty()) return true;
  if (text.back() == '\\') text.pop_back();
  std::size_t start = 0;
  for (;;) {
    std::size_t end = text.find('\\', start);
    std::string level = text.substr(start, end == std::string::npos ? end : end - start);
    if (level.empty() || level.find_first_of("\r\n") != std::string::npos) return false;
    levels->push_back(level);
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

// The levels of subkey. An invalid name fails as the system fails it, which
// differs between Windows and the stand-in, so the machine is asked to open
// it for reading and its answer is passed on.
Status splitSubkey(Backend& machine, RegistryRoot root, const char* subkey,
                   std::vector<std::string>* levels) {
  if (splitLevels(subkey, levels)) return Status::success();
  RegistryKey opened;
  Status status =
      machine.openRegistryKey(machine.getRootKey(root), subkey, RegistryAccess::kRead, &opened);
  if (!status.ok) return status;
  machine.closeRegistryKey(opened);
  return whatIfFailure(WhatIfFailure::kFileNotFound);
}

std::string joinLevels(std::string path, const std::vector<std::string>& levels) {
  for (const std::string& level : levels) path += "\\" + level;
  return path;
}

// The machine's key at a full path, open for reading while this lives. A
// root needs no opening.
class MachineKey {
 public:
  MachineKey(Backend& machine, const std::string& path);
  ~MachineKey();

  MachineKey(const MachineKey&) = delete;
  MachineKey& operator=(const MachineKey&) = delete;

  const Status& getStatus() const { return status; }
  RegistryKey get() const { return key; }

 private:
  Backend& machine;
  RegistryKey key;
  Status status;
  bool isOpened = false;
};

MachineKey::MachineKey(Backend& machine, const std::string& path) : machine(machine) {
  key = machine.getRootKey(rootOf(path));
  if (isRootPath(path)) return;
  RegistryKey root = key;
  status = machine.openRegistryKey(root, path.c_str() + path.find('\\') + 1, RegistryAccess::kRead,
                                   &key);
  isOpened = status.ok;
  if (!isOpened) key = root;
}

MachineKey::~MachineKey() {
  if (isOpened) machine.closeRegistryKey(key);
}

}  // namespace

bool WhatIfBackend::RegistryOverlay::findOpenKey(RegistryKey handle, OpenKey* key) const {
  if (handle.value >= kRootKeyBase && handle.value < kRootKeyBase + kRootCount) {
    key->isUsed = true;
    key->isWritable = true;
    key->root = static_cast<RegistryRoot>(handle.value - kRootKeyBase);
    key->path = kRootNames[handle.value - kRootKeyBase];
    return true;
  }
  std::intptr_t index = handle.value - kFirstOpenKey;
  if (index < 0 || index >= static_cast<std::intptr_t>(openKeys.size())) return false;
  const OpenKey& entry = openKeys[static_cast<std::size_t>(index)];
  if (!entry.isUsed) return false;
  *key = entry;
  return true;
}

RegistryKey WhatIfBackend::RegistryOverlay::addOpenKey(RegistryRoot root, const std::string& path,
                                                       bool isWritable) {
  std::size_t index = 0;
  while (index < openKeys.size() && openKeys[index].isUsed) ++index;
  if (index == openKeys.size()) openKeys.emplace_back();
  OpenKey& entry = openKeys[index];
  entry.isUsed = true;
  entry.isWritable = isWritable;
  entry.root = root;
  entry.path = path;
  RegistryKey key;
  key.value = kFirstOpenKey + static_cast<std::intptr_t>(index);
  return key;
}

bool WhatIfBackend::RegistryOverlay::closeOpenKey(RegistryKey handle) {
  OpenKey key;
  if (!findOpenKey(handle, &key)) return false;
  if (handle.value < kFirstOpenKey) return true;
  OpenKey& entry = openKeys[static_cast<std::size_t>(handle.value - kFirstOpenKey)];
  entry.isUsed = false;
  entry.path.clear();
  return true;
}

Status WhatIfBackend::RegistryOverlay::beginCall(Backend& machine, RegistryKey handle, OpenKey* key,
                                                 KeyView* view) {
  if (!findOpenKey(handle, key)) return whatIfFailure(WhatIfFailure::kBadHandle);
  Status status = viewKey(machine, key->path, view);
  if (!status.ok) return status;
  // A key deleted while open answers nothing more, as Windows reports
  // ERROR_KEY_DELETED. Like the stand-in, the handle goes by the path, so a
  // key of that name made again answers once more.
  if (!view->exists) return whatIfFailure(WhatIfFailure::kKeyDeleted);
  // The spelling the run first gave the key, as the system keeps it.
  if (view->node != nullptr) key->path = view->node->path;
  return Status::success();
}

Status WhatIfBackend::RegistryOverlay::viewBelow(Backend& machine, RegistryKey handle,
                                                 const char* subkey, OpenKey* key, KeyView* view,
                                                 std::string* path) {
  Status status = beginCall(machine, handle, key, view);
  if (!status.ok) return status;
  std::vector<std::string> levels;
  status = splitSubkey(machine, key->root, subkey, &levels);
  if (!status.ok) return status;
  *path = key->path;
  if (levels.empty()) return Status::success();
  *path = joinLevels(*path, levels);
  status = viewKey(machine, *path, view);
  if (!status.ok) return status;
  return view->exists ? Status::success() : whatIfFailure(WhatIfFailure::kFileNotFound);
}

Status WhatIfBackend::RegistryOverlay::viewKey(Backend& machine, const std::string& path,
                                               KeyView* view) {
  *view = KeyView();
  const std::string folded = foldedName(path);
  // Walks from the root down: a deleted key has nothing below it, and below
  // a key the run made only the run's own keys exist.
  bool readsMachine = true;
  std::size_t end = folded.find('\\');
  for (;;) {
    const bool isKey = end == std::string::npos;
    auto found = nodes.find(folded.substr(0, end));
    if (found != nodes.end()) {
      Node& node = found->second;
      if (!node.exists) return Status::success();
      if (node.isMadeByRun) readsMachine = false;
      if (isKey) {
        view->exists = true;
        view->readsMachine = readsMachine;
        view->node = &node;
        return Status::success();
      }
    } else if (isKey) {
      if (!readsMachine) return Status::success();
      if (!isRootPath(path)) {
        MachineKey key(machine, path);
        if (key.getStatus().notFound) return Status::success();
        if (!key.getStatus().ok) return key.getStatus();
      }
      view->exists = true;
      view->readsMachine = true;
      return Status::success();
    }
    end = folded.find('\\', end + 1);
  }
}

WhatIfBackend::RegistryOverlay::Node& WhatIfBackend::RegistryOverlay::nodeAt(
    const std::string& path) {
  auto placed = nodes.emplace(foldedName(path), Node());
  if (placed.second) placed.first->second.path = path;
  return placed.first->second;
}

WhatIfBackend::RegistryOverlay::ValueChange* WhatIfBackend::RegistryOverlay::findChange(
    Node& node, const std::string& name) {
  for (ValueChange& change : node.values) {
    if (equalsIgnoringNameCase(change.name, name)) return &change;
  }
  return nullptr;
}

Status WhatIfBackend::RegistryOverlay::findValue(Backend& machine, const std::string& path,
                                                 const KeyView& view, const std::string& name,
                                                 RegistryValue* value) {
  const ValueChange* change = view.node != nullptr ? findChange(*view.node, name) : nullptr;
  if (change != nullptr) {
    if (change->isDeleted) return whatIfFailure(WhatIfFailure::kFileNotFound);
    *value = change->value;
    return Status::success();
  }
  if (!view.readsMachine) return whatIfFailure(WhatIfFailure::kFileNotFound);
  MachineKey key(machine, path);
  if (!key.getStatus().ok) return key.getStatus();
  return machine.queryRegistryValue(key.get(), name.c_str(), value);
}

Status WhatIfBackend::RegistryOverlay::visitValues(Backend& machine, const std::string& path,
                                                   const KeyView& view, const ValueVisitor& visit) {
  if (view.readsMachine) {
    MachineKey key(machine, path);
    if (!key.getStatus().ok) return key.getStatus();
    for (unsigned long index = 0;; ++index) {
      std::string name;
      RegistryValue value;
      Status listed = machine.enumerateRegistryValue(key.get(), index, &name, &value);
      if (listed.notFound) break;
      if (!listed.ok) return listed;
      const ValueChange* change = view.node != nullptr ? findChange(*view.node, name) : nullptr;
      if (change == nullptr) {
        if (!visit(name, value)) return Status::success();
      } else if (change->isInPlace && !change->isDeleted) {
        if (!visit(change->name, change->value)) return Status::success();
      }
    }
  }
  if (view.node == nullptr) return Status::success();
  for (const ValueChange& change : view.node->values) {
    if (change.isDeleted || change.isInPlace) continue;
    if (!visit(change.name, change.value)) return Status::success();
  }
  return Status::success();
}

Status WhatIfBackend::RegistryOverlay::visitSubkeys(Backend& machine, const std::string& path,
                                                    const KeyView& view,
                                                    const SubkeyVisitor& visit) {
  if (view.readsMachine) {
    MachineKey key(machine, path);
    if (!key.getStatus().ok) return key.getStatus();
    const std::string prefix = foldedName(path) + "\\";
    for (unsigned long index = 0;; ++index) {
      std::string name;
      Status listed = machine.enumerateRegistrySubkey(key.get(), index, kNameCapacity, &name);
      if (listed.notFound) break;
      if (!listed.ok) return listed;
      // A subkey the run deleted is gone; one it made again after that is
      // among its own, after the machine's, as the system adds it anew.
      auto found = nodes.find(prefix + foldedName(name));
      if (found != nodes.end() && (!found->second.exists || found->second.isMadeByRun)) continue;
      if (!visit(name)) return Status::success();
    }
  }
  if (view.node == nullptr) return Status::success();
  for (const std::string& folded : view.node->madeSubkeys) {
    if (!visit(lastLevelOf(nodes[folded].path))) return Status::success();
  }
  return Status::success();
}

Status WhatIfBackend::RegistryOverlay::countSubkeys(Backend& machine, const std::string& path,
                                                    const KeyView& view, unsigned long* count) {
  // Only a key with a node has subkeys the run made or deleted.
  if (view.node == nullptr) {
    MachineKey key(machine, path);
    if (!key.getStatus().ok) return key.getStatus();
    return machine.countRegistrySubkeys(key.get(), count);
  }
  unsigned long counted = 0;
  Status status = visitSubkeys(machine, path, view, [&counted](const std::string&) {
    ++counted;
    return true;
  });
  if (status.ok) *count = counted;
  return status;
}

Status WhatIfBackend::RegistryOverlay::setValue(Backend& machine, const std::string& path,
                                                const KeyView& view, const std::string& name,
                                                const RegistryValue& value) {
  ValueChange* change = view.node != nullptr ? findChange(*view.node, name) : nullptr;
  if (change != nullptr && !change->isDeleted) {
    change->name = name;
    change->value = value;
    return Status::success();
  }
  // A value set over the machine's keeps its place; one deleted before is
  // added anew at the end, as the system does.
  bool isInPlace = false;
  if (change == nullptr && view.readsMachine) {
    RegistryValue present;
    Status status = findValue(machine, path, view, name, &present);
    if (!status.ok && !status.notFound) return status;
    isInPlace = status.ok;
  }
  Node& node = nodeAt(path);
  if (change != nullptr) {
    node.values.erase(node.values.begin() + (change - node.values.data()));
  }
  ValueChange added;
  added.name = name;
  added.isInPlace = isInPlace;
  added.value = value;
  node.values.push_back(added);
  return Status::success();
}

Status WhatIfBackend::RegistryOverlay::deleteValue(Backend& machine, const std::string& path,
                                                   const KeyView& view, const std::string& name) {
  ValueChange* change = view.node != nullptr ? findChange(*view.node, name) : nullptr;
  if (change == nullptr) {
    RegistryValue present;
    Status status = findValue(machine, path, view, name, &present);
    if (!status.ok) return status;
    ValueChange deleted;
    deleted.name = name;
    nodeAt(path).values.push_back(deleted);
    change = &nodeAt(path).values.back();
  } else if (change->isDeleted) {
    return whatIfFailure(WhatIfFailure::kFileNotFound);
  }
  change->isDeleted = true;
  change->value = RegistryValue();
  return Status::success();
}

void WhatIfBackend::RegistryOverlay::makeKey(const std::string& parentPath,
                                             const std::string& path) {
  nodeAt(parentPath).madeSubkeys.push_back(foldedName(path));
  Node& node = nodeAt(path);
  node.path = path;
  node.exists = true;
  node.isMadeByRun = true;
  node.values.clear();
  node.madeSubkeys.clear();
}

void WhatIfBackend::RegistryOverlay::deleteKey(const std::string& path) {
  std::vector<std::string>& siblings = nodeAt(parentOf(path)).madeSubkeys;
  siblings.erase(std::remove(siblings.begin(), siblings.end(), foldedName(path)), siblings.end());
  Node& node = nodeAt(path);
  node.exists = false;
  node.isMadeByRun = false;
  node.values.clear();
  node.madeSubkeys.clear();
}

RegistryKey WhatIfBackend::getRootKey(RegistryRoot root) {
  RegistryKey key;
  key.value = kRootKeyBase + static_cast<std::intptr_t>(root);
  return key;
}

Status WhatIfBackend::openRegistryKey(RegistryKey parent, const char* subkey, RegistryAccess access,
                                      RegistryKey* key) {
  RegistryOverlay::OpenKey base;
  RegistryOverlay::KeyView view;
  std::string path;
  Status status = registry->viewBelow(machine, parent, subkey, &base, &view, &path);
  if (!status.ok) return status;
  if (view.node != nullptr) path = view.node->path;
  *key = registry->addOpenKey(base.root, path, access == RegistryAccess::kAllAccess);
  return Status::success();
}

Status WhatIfBackend::createRegistryKey(RegistryKey parent, const char* subkey, RegistryKey* key) {
  RegistryOverlay::OpenKey base;
  RegistryOverlay::KeyView view;
  Status status = registry->beginCall(machine, parent, &base, &view);
  if (!status.ok) return status;
  std::vector<std::string> levels;
  status = splitSubkey(machine, base.root, subkey, &levels);
  if (!status.ok) return status;
  // Below the first missing level nothing exists, and the machine is asked
  // no more.
  std::string path = base.path;
  bool isMissing = false;
  for (const std::string& level : levels) {
    std::string next = path + "\\" + level;
    if (!isMissing) {
      status = registry->viewKey(machine, next, &view);
      if (!status.ok) return status;
      if (view.exists) {
        path = view.node != nullptr ? view.node->path : next;
        continue;
      }
      isMissing = true;
    }
    registry->makeKey(path, next);
    noteChangedKey(next, nullptr);
    path = next;
  }
  *key = registry->addOpenKey(base.root, path, true);
  return Status::success();
}

Status WhatIfBackend::queryRegistryDefaultValue(RegistryKey key, const char* subkey,
                                                std::size_t capacity, std::string* value) {
  RegistryOverlay::OpenKey base;
  RegistryOverlay::KeyView view;
  std::string path;
  Status status = registry->viewBelow(machine, key, subkey, &base, &view, &path);
  if (!status.ok) return status;
  const RegistryOverlay::ValueChange* change =
      view.node != nullptr ? RegistryOverlay::findChange(*view.node, std::string()) : nullptr;
  if (change == nullptr && view.readsMachine) {
    MachineKey opened(machine, path);
    if (!opened.getStatus().ok) return opened.getStatus();
    return machine.queryRegistryDefaultValue(opened.get(), nullptr, capacity, value);
  }
  // An unset default value reads as an empty string; the text ends at its
  // first zero, as RegQueryValueA leaves it in the buffer.
  std::string text;
  if (change != nullptr && !change->isDeleted) {
    const std::string& data = change->value.data;
    text = data.substr(0, data.find('\0'));
  }
  if (text.size() + 1 > capacity) return whatIfFailure(WhatIfFailure::kMoreData);
  *value = text;
  return Status::success();
}

Status WhatIfBackend::setRegistryString(RegistryKey key, const char* name,
                                        const std::string& value) {
  // The system keeps a string with its terminating zero.
  RegistryValue stored;
  stored.type = kRegistryString;
  stored.data = value;
  stored.data.push_back('\0');
  return WhatIfBackend::setRegistryValue(key, name, stored);
}

Status WhatIfBackend::deleteRegistryValue(RegistryKey key, const char* name) {
  RegistryOverlay::OpenKey base;
  RegistryOverlay::KeyView view;
  Status status = registry->beginCall(machine, key, &base, &view);
  if (!status.ok) return status;
  if (!base.isWritable) return whatIfFailure(WhatIfFailure::kAccessDenied);
  const std::string valueName = name != nullptr ? name : "";
  status = registry->deleteValue(machine, base.path, view, valueName);
  if (!status.ok) return status;
  noteChangedKey(base.path, valueName.c_str());
  return Status::success();
}

Status WhatIfBackend::queryRegistryValue(RegistryKey key, const char* name, RegistryValue* value) {
  RegistryOverlay::OpenKey base;
  RegistryOverlay::KeyView view;
  Status status = registry->beginCall(machine, key, &base, &view);
  if (!status.ok) return status;
  return registry->findValue(machine, base.path, view, name != nullptr ? name : "", value);
}

Status WhatIfBackend::enumerateRegistryValue(RegistryKey key, unsigned long index,
                                             std::string* name, RegistryValue* value) {
  RegistryOverlay::OpenKey base;
  RegistryOverlay::KeyView view;
  Status status = registry->beginCall(machine, key, &base, &view);
  if (!status.ok) return status;
  if (view.readsMachine && (view.node == nullptr || view.node->values.empty())) {
    MachineKey opened(machine, base.path);
    if (!opened.getStatus().ok) return opened.getStatus();
    return machine.enumerateRegistryValue(opened.get(), index, name, value);
  }
  unsigned long position = 0;
  bool isFound = false;
  status = registry->visitValues(machine, base.path, view,
                                 [&](const std::string& listedName, const RegistryValue& listed) {
                                   if (position++ < index) return true;
                                   *name = listedName;
                                   *value = listed;
                                   isFound = true;
                                   return false;
                                 });
  if (!status.ok) return status;
  return isFound ? Status::success() : whatIfFailure(WhatIfFailure::kNoMoreItems);
}

Status WhatIfBackend::setRegistryValue(RegistryKey key, const char* name,
                                       const RegistryValue& value) {
  RegistryOverlay::OpenKey base;
  RegistryOverlay::KeyView view;
  Status status = registry->beginCall(machine, key, &base, &view);
  if (!status.ok) return status;
  if (!base.isWritable) return whatIfFailure(WhatIfFailure::kAccessDenied);
  const std::string valueName = name != nullptr ? name : "";
  status = registry->setValue(machine, base.path, view, valueName, value);
  if (!status.ok) return status;
  noteChangedKey(base.path, valueName.c_str());
  return Status::success();
}

Status WhatIfBackend::deleteRegistryKey(RegistryKey key, const char* subkey) {
  RegistryOverlay::OpenKey base;
  RegistryOverlay::KeyView view;
  std::string path;
  Status status = registry->viewBelow(machine, key, subkey, &base, &view, &path);
  if (!status.ok) return status;
  if (path == base.path) {
    if (!base.isWritable) return whatIfFailure(WhatIfFailure::kAccessDenied);
  } else if (view.node != nullptr) {
    path = view.node->path;
  }
  // The roots cannot go, and neither can a key that still has subkeys: the
  // Windows NT family refuses it, and the engine deletes a tree from the
  // bottom up. The count comes first, so that a registry the machine cannot
  // read fails a root's deletion as it fails every call.
  unsigned long count = 0;
  status = registry->countSubkeys(machine, path, view, &count);
  if (!status.ok) return status;
  if (isRootPath(path) || count > 0) return whatIfFailure(WhatIfFailure::kAccessDenied);
  registry->deleteKey(path);
  noteChangedKey(path, nullptr);
  return Status::success();
}

Status WhatIfBackend::countRegistrySubkeys(RegistryKey key, unsigned long* count) {
  RegistryOverlay::OpenKey base;
  RegistryOverlay::KeyView view;
  Status status = registry->beginCall(machine, key, &base, &view);
  if (!status.ok) return status;
  return registry->countSubkeys(machine, base.path, view, count);
}

Status WhatIfBackend::enumerateRegistrySubkey(RegistryKey key, unsigned long index,
                                              std::size_t capacity, std::string* name) {
  RegistryOverlay::OpenKey base;
  RegistryOverlay::KeyView view;
  Status status = registry->beginCall(machine, key, &base, &view);
  if (!status.ok) return status;
  if (view.node == nullptr) {
    MachineKey opened(machine, base.path);
    if (!opened.getStatus().ok) return opened.getStatus();
    return machine.enumerateRegistrySubkey(opened.get(), index, capacity, name);
  }
  unsigned long position = 0;
  std::string found;
  bool isFound = false;
  status = registry->visitSubkeys(machine, base.path, view, [&](const std::string& listed) {
    if (position++ < index) return true;
    found = listed;
    isFound = true;
    return false;
  });
  if (!status.ok) return status;
  if (!isFound) return whatIfFailure(WhatIfFailure::kNoMoreItems);
  if (found.size() + 1 > capacity) return whatIfFailure(WhatIfFailure::kMoreData);
  *name = found;
  return Status::success();
}

Status WhatIfBackend::closeRegistryKey(RegistryKey key) {
  if (!registry->closeOpenKey(key)) return whatIfFailure(WhatIfFailure::kBadHandle);
  return Status::success();
}

}  // namespace platform
