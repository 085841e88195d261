// The file overlay of the what-if backend: every file and directory the run
// made, changed, renamed or deleted, under the folded form of its path, and
// the files the run holds open. A path without an entry of its own is as the
// machine has it, unless a directory on its way is missing in the overlay or
// was renamed from somewhere else on the machine. The backend owns the one
// overlay of a dry run, which lives as long as the backend.
#ifndef SRC_PLATFORM_WHAT_IF_FILE_OVERLAY_H_
#define SRC_PLATFORM_WHAT_IF_FILE_OVERLAY_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/status.h"
#include "platform/what_if_backend.h"
#include "platform/what_if_failure.h"

namespace platform {

struct WhatIfBackend::FileOverlay {
  enum class Kind { kAbsent, kFile, kDirectory };

  // What a file holds: the bytes the run wrote, kept in memory, or the real
  // file at machinePath, read only when needed, so that renaming a large
  // file of the machine costs nothing. Open files share it with the entry,
  // so a handle follows its file through a rename, as on the system.
  struct Body {
    bool inMemory = true;
    std::string content;
    std::string machinePath;
    // For a file in memory: its stamp, and the failure getFileStamp gives
    // with it (a real file's stamp out of the DOS range stays out of it).
    DosStamp stamp;
    Status stampStatus;
    // Set by setFileStamp; later writes keep the stamp, as Windows keeps a
    // time set through a handle.
    bool hasSetStamp = false;
    // The stamp is the time the run wrote the file, which no dry run knows.
    bool stampIsNow = false;
    std::uint64_t modifiedTime = 0;
  };

  // The overlay's word on one path.
  struct Node {
    Kind kind = Kind::kAbsent;
    // The name as the run spelt it; empty where the machine's spelling stays.
    std::string name;
    // A name the run made (created, or renamed to): listings show it after
    // the machine's names, in the order made, and it has no short alias.
    bool isNew = false;
    std::uint64_t order = 0;
    std::shared_ptr<Body> body;
    bool readOnly = false;
    // For a directory: the machine's directory whose entries it holds; empty
    // for one the run made, which holds only what the overlay has below it.
    std::string machineDirectory;
    // For a directory the run made: its last-write time.
    std::uint64_t modifiedTime = 0;
  };

  // Where a path leads, found by walking the overlay from the root.
  struct Place {
    // A failure (kPathNotFound) when a directory on the way is missing.
    Status status;
    std::string key;
    // The last name as given; empty for a root.
    std::string name;
    // The path's own entry, or null where the machine answers for it.
    Node* node = nullptr;
    // Where the machine holds the path: the path itself, or its place below
    // a directory renamed from the machine.
    std::string machinePath;
    bool isRedirected = false;
    // The parent is a directory the run made, so nothing of the machine is
    // below it.
    bool isBelowNewDirectory = false;
    // The parent's entry, null where the machine answers for it; then
    // parentMachinePath names it there.
    Node* parentNode = nullptr;
    std::string parentMachinePath;
    // The parent as the run named it: empty for a root, or for a name in the
    // current directory.
    std::string parentPath;
  };

  // A file the run holds open. A pass-through handle reads a real file the
  // overlay leaves as it is through the machine's own handle.
  struct OpenFile {
    bool isOpen = false;
    FileHandle machineFile;
    std::shared_ptr<Body> body;
    std::size_t position = 0;
    bool canWrite = false;
    bool appends = false;
    bool isLock = false;
    std::string path;
    std::string key;
  };

  // The folded key of path, the same for every spelling of it.
  static std::string keyOf(const std::string& path);

  Place find(const std::string& path);
  // Whether anything is at place: ok, setting *kind when kind is given, or
  // the failure testPath gives.
  Status lookAt(Backend& machine, const Place& place, Kind* kind);
  // ok when the directory place goes in exists; kPathNotFound otherwise.
  Status checkParent(Backend& machine, const Place& place);
  bool isMachineDirectory(Backend& machine, const std::string& path);
  // Reads the content, stamp and time of the real file at path into body.
  Status loadFromMachine(Backend& machine, const std::string& path, Body* body);
  // The entry for place, made (or made anew) with kind; isNew as given.
  Node& putNode(const Place& place, Kind kind, bool isNew);
  // Whether a new name may be made at place: nothing is there (else the
  // failure taken) and its directory is.
  Status checkFree(Backend& machine, const Place& place, WhatIfFailure taken);
  // Whether the file at place may be replaced or deleted now: not when it is
  // read-only (kAccessDenied) or another program has it open (kInUse).
  Status checkChangeable(Backend& machine, const Place& place);
  // Renames from to to, over an existing file when replaces, failing as
  // the system would; *fromKey and *toKey name what changed, both left empty
  // when nothing did.
  Status move(Backend& machine, const std::string& from, const std::string& to, bool replaces,
              std::string* fromKey, std::string* toKey);
  // Moves the entries below fromKey to below toKey.
  void moveChildren(const std::string& fromKey, const std::string& toKey);
  // The listing of the directory at key, from the machine's listing of it.
  void mergeListing(const std::string& key, const std::vector<DirectoryEntry>& machineEntries,
                    std::vector<DirectoryEntry>* entries);
  // A body in memory made now.
  std::shared_ptr<Body> makeBody(const std::string& content);
  std::uint64_t nextTime();

  FileHandle openHandle(OpenFile openFile);
  OpenFile* getHandle(FileHandle file);

  std::map<std::string, Node> nodes;
  std::vector<OpenFile> openFiles;
  // Whether each machine directory asked about is one, by the key of its
  // path: the machine does not change under a dry run.
  std::map<std::string, bool> machineDirectories;
  std::uint64_t clock = 0;
};

}  // namespace platform

#endif  // SRC_PLATFORM_WHAT_IF_FILE_OVERLAY_H_
