// The registry overlay of the what-if backend: the keys the run has open, and
// every key and value the run made, changed or deleted, laid over the
// machine's registry, which is read again whenever a call needs it. A key
// the run never changed has no node and reads through to the machine. The
// backend owns the one overlay of a run, which lives as long as it does.
#ifndef SRC_PLATFORM_WHAT_IF_REGISTRY_OVERLAY_H_
#define SRC_PLATFORM_WHAT_IF_REGISTRY_OVERLAY_H_

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/what_if_backend.h"

namespace platform {

struct WhatIfBackend::RegistryOverlay {
  // A value the run set or deleted.
  struct ValueChange {
    // As the run last spelt it; empty for the default value.
    std::string name;
    bool isDeleted = false;
    // Set over a value the machine has, so that it keeps that value's place
    // in the listing; any other set value comes after the machine's.
    bool isInPlace = false;
    RegistryValue value;
  };

  // A key the run changed, or below which it made or deleted a key.
  struct Node {
    // The full path, as the run last made or first touched the key.
    std::string path;
    bool exists = true;
    // The run made the key: the machine's key of that path, if any, and
    // everything below it are not part of the run's view.
    bool isMadeByRun = false;
    // In the order each took its place.
    std::vector<ValueChange> values;
    // The folded paths of the subkeys the run made and has not deleted, in
    // the order made.
    std::vector<std::string> madeSubkeys;
  };

  // A key the run has open.
  struct OpenKey {
    bool isUsed = false;
    bool isWritable = false;
    RegistryRoot root = RegistryRoot::kLocalMachine;
    std::string path;
  };

  // A key as the run sees it: whether it exists, whether the machine's key
  // of that path shows through, and its node if it has one.
  struct KeyView {
    bool exists = false;
    bool readsMachine = false;
    Node* node = nullptr;
  };

  using ValueVisitor = std::function<bool(const std::string& name, const RegistryValue& value)>;
  using SubkeyVisitor = std::function<bool(const std::string& name)>;

  // The open key behind handle, a root's included; false for a handle this
  // overlay did not give or has closed.
  bool findOpenKey(RegistryKey handle, OpenKey* key) const;
  RegistryKey addOpenKey(RegistryRoot root, const std::string& path, bool isWritable);
  // False as findOpenKey; a root's handle stays valid.
  bool closeOpenKey(RegistryKey handle);

  // The open key behind handle and its view; fails for an unknown handle
  // and, with kKeyDeleted, for a key deleted while open.
  Status beginCall(Backend& machine, RegistryKey handle, OpenKey* key, KeyView* view);

  // beginCall, then the view of subkey below the key (null or empty: the key
  // itself) and its full path; notFound when there is no such key.
  Status viewBelow(Backend& machine, RegistryKey handle, const char* subkey, OpenKey* key,
                   KeyView* view, std::string* path);

  // The key at the full path as the run sees it. Asks the machine only when
  // no node decides; passes its failure on.
  Status viewKey(Backend& machine, const std::string& path, KeyView* view);

  // The node of path, made as a plain node over the machine's key when there
  // is none.
  Node& nodeAt(const std::string& path);

  // The change of the value name (empty: the default value) of node, or null.
  static ValueChange* findChange(Node& node, const std::string& name);

  // Reads the value name (empty: the default value) of the existing key at
  // path. notFound when there is none; the machine's failure when it cannot
  // be read.
  Status findValue(Backend& machine, const std::string& path, const KeyView& view,
                   const std::string& name, RegistryValue* value);

  // Calls visit for each value, then for each subkey, of the key at path in
  // the order the run lists them: the machine's that show through in the
  // machine's order, then the run's own. A false from visit stops the walk.
  Status visitValues(Backend& machine, const std::string& path, const KeyView& view,
                     const ValueVisitor& visit);
  Status visitSubkeys(Backend& machine, const std::string& path, const KeyView& view,
                      const SubkeyVisitor& visit);
  Status countSubkeys(Backend& machine, const std::string& path, const KeyView& view,
                      unsigned long* count);

  // Records a change of the existing key at path. setValue looks at the
  // machine's value of that name, to keep its place.
  Status setValue(Backend& machine, const std::string& path, const KeyView& view,
                  const std::string& name, const RegistryValue& value);
  Status deleteValue(Backend& machine, const std::string& path, const KeyView& view,
                     const std::string& name);
  // Records the key at path as made below the existing key at parentPath,
  // or as deleted with its values; the caller has made sure that it has no
  // subkeys left.
  void makeKey(const std::string& parentPath, const std::string& path);
  void deleteKey(const std::string& path);

  std::vector<OpenKey> openKeys;
  // By folded path.
  std::map<std::string, Node> nodes;
};

}  // namespace platform

#endif  // SRC_PLATFORM_WHAT_IF_REGISTRY_OVERLAY_H_
