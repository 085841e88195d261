#include "platform/what_if_backend.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <ctime>
#endif

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "platform/name_case.h"
#include "platform/short_name.h"
#include "platform/what_if_failure.h"
#include "platform/what_if_file_overlay.h"

namespace platform {

namespace {

// Handles the overlay gives out: far above the small numbers both systems
// use for their own, so that one given to the wrong backend is refused.
constexpr std::intptr_t kFirstHandle = 0x40000000;

// The last-write times of files the run wrote: later than any the machine
// reports in the finest grain of either system, and rising with every
// change, which is all that callers compare them for.
constexpr std::uint64_t kFirstOverlayTime = 0xF000000000000000ull;

// As many temporary names as the real saves try.
constexpr unsigned kTemporaryAttempts = 4096;

bool isSeparator(char c) { return c == '\\' || c == '/'; }

std::string folded(const std::string& name) {
  std::string result = name;
  for (char& c : result) c = upperNameCase(c);
  return result;
}

// A path taken apart: its root as spelt ("C:\", "\\server\share\", "\" or
// nothing for a relative path), the folded form of the root, which ends in
// "/", and its names with "." and ".." resolved as Windows resolves them,
// without looking at the disk. Relative roots fold to "./" (and "C:./" for
// one relative to a drive's current directory), which no absolute path
// begins with.
struct PathParts {
  std::string root;
  std::string rootKey;
  std::vector<std::string> names;
  // Where the last name begins in the path, unless a ".." came before it.
  std::size_t lastStart = 0;
  bool hasParentSteps = false;
};

PathParts splitPath(const std::string& path) {
  PathParts parts;
  std::size_t next = 0;
  bool relative = false;
  if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1])) {
    // A share: its server and name belong to the root.
    next = 2;
    parts.rootKey = "//";
    for (int part = 0; part < 2 && next < path.size(); ++part) {
      std::size_t end = path.find_first_of("\\/", next);
      if (end == std::string::npos) end = path.size();
      parts.rootKey += folded(path.substr(next, end - next)) + "/";
      next = std::min(end + 1, path.size());
    }
    parts.root = path.substr(0, next);
    if (!isSeparator(parts.root.back())) parts.root += '\\';
  } else if (path.size() >= 2 && path[1] == ':' && !isSeparator(path[0])) {
    bool absolute = path.size() >= 3 && isSeparator(path[2]);
    next = absolute ? 3 : 2;
    parts.root = path.substr(0, next);
    parts.rootKey = folded(path.substr(0, 2)) + (absolute ? "/" : "./");
    relative = !absolute;
  } else if (!path.empty() && isSeparator(path[0])) {
    next = 1;
    parts.root = path.substr(0, 1);
    parts.rootKey = "/";
  } else {
    parts.rootKey = "./";
    relative = true;
  }
  while (next < path.size()) {
    std::size_t end = path.find_first_of("\\/", next);
    if (end == std::string::npos) end = path.size();
    std::string name = path.substr(next, end - next);
    next = end + 1;
    if (name.empty() || name == ".") continue;
    if (name == "..") {
      parts.hasParentSteps = true;
      // Above a root ".." stays at the root; above a relative path it leads
      // out of the current directory.
      if (!parts.names.empty() && parts.names.back() != "..") {
        parts.names.pop_back();
        continue;
      }
      if (!relative) continue;
    }
    parts.names.push_back(name);
    parts.lastStart = next - name.size() - 1;
  }
  return parts;
}

// prefix, a directory as the system takes it, followed by name.
std::string appendName(const std::string& prefix, const std::string& name) {
  if (prefix.empty() || isSeparator(prefix.back()) || prefix.back() == ':') return prefix + name;
  return prefix + "\\" + name;
}

// What the keys of the entries in the directory at key begin with.
std::string childPrefix(const std::string& key) {
  return !key.empty() && key.back() == '/' ? key : key + "/";
}

bool beginsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// The stamp a file written now gets. 1980-01-01 00:00:00, the first stamp
// there is, stands in where the clock cannot be read or lies outside the DOS
// range.
DosStamp stampOfNow() {
  DosStamp stamp;
  stamp.date = (1 << 5) | 1;
  int year, month, day, hour, minute, second;
#ifdef _WIN32
  SYSTEMTIME now;
  GetLocalTime(&now);
  year = now.wYear;
  month = now.wMonth;
  day = now.wDay;
  hour = now.wHour;
  minute = now.wMinute;
  second = now.wSecond;
#else
  std::time_t seconds = std::time(nullptr);
  struct tm now;
  if (localtime_r(&seconds, &now) == nullptr) return stamp;
  year = now.tm_year + 1900;
  month = now.tm_mon + 1;
  day = now.tm_mday;
  hour = now.tm_hour;
  minute = now.tm_min;
  // A leap second is the last of its minute to a DOS stamp.
  second = std::min(now.tm_sec, 59);
#endif
  if (year < 1980 || year > 2107) return stamp;
  stamp.date = static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day);
  stamp.time = static_cast<std::uint16_t>((hour << 11) | (minute << 5) | (second / 2));
  return stamp;
}

// Whether stamp names a real date and time, which setFileStamp needs.
bool isValidStamp(DosStamp stamp) {
  int month = (stamp.date >> 5) & 0x0f;
  int day = stamp.date & 0x1f;
  return month >= 1 && month <= 12 && day >= 1 && (stamp.time >> 11) <= 23 &&
         ((stamp.time >> 5) & 0x3f) <= 59 && (stamp.time & 0x1f) <= 29;
}

// The failure of setFileStamp with a stamp that names no real time.
Status invalidStamp() {
#ifdef _WIN32
  return Status::failure(ERROR_INVALID_PARAMETER, false);
#else
  return Status::failure(EINVAL, false);
#endif
}

Status failure(WhatIfFailure kind) { return whatIfFailure(kind); }

// What the machine's testWritable says of a file: read-only, or held open by
// another program.
bool isAccessDenied(const Status& status) {
  return !status.ok &&
         status.systemError == whatIfFailure(WhatIfFailure::kAccessDenied).systemError;
}

bool isInUse(const Status& status) {
  return !status.ok && !status.notFound && !isAccessDenied(status);
}

}  // namespace

// The overlay: paths, entries and handles.

std::string WhatIfBackend::FileOverlay::keyOf(const std::string& path) {
  PathParts parts = splitPath(path);
  std::string key = parts.rootKey;
  for (std::size_t i = 0; i < parts.names.size(); ++i) {
    if (i > 0) key += '/';
    key += folded(parts.names[i]);
  }
  return key;
}

WhatIfBackend::FileOverlay::Place WhatIfBackend::FileOverlay::find(const std::string& path) {
  Place place;
  PathParts parts = splitPath(path);
  std::string key = parts.rootKey;
  // The path so far on the machine, and as the run named it.
  std::string onMachine = parts.root;
  std::string named = parts.root;
  bool belowNew = false;
  Node* parent = nullptr;
  for (std::size_t i = 0; i < parts.names.size(); ++i) {
    const std::string& name = parts.names[i];
    const bool isLast = i + 1 == parts.names.size();
    if (isLast) {
      place.parentNode = parent;
      place.parentMachinePath = onMachine;
      // The parent goes to the machine as the run spelt it where it can.
      place.parentPath = parts.hasParentSteps ? named : path.substr(0, parts.lastStart);
    }
    if (i > 0) key += '/';
    key += folded(name);
    onMachine = appendName(onMachine, name);
    named = appendName(named, name);
    auto found = nodes.find(key);
    Node* node = found == nodes.end() ? nullptr : &found->second;
    if (isLast) {
      place.node = node;
      place.name = name;
      break;
    }
    // A file, a name the run removed, or nothing below a directory the run
    // made: the way goes through a directory that is not there.
    if (node != nullptr ? node->kind != Kind::kDirectory : belowNew) {
      place.status = failure(WhatIfFailure::kPathNotFound);
      break;
    }
    parent = node;
    if (node != nullptr) {
      belowNew = node->machineDirectory.empty();
      if (!belowNew) {
        onMachine = node->machineDirectory;
        place.isRedirected = true;
      }
    }
  }
  place.key = key;
  place.isBelowNewDirectory = belowNew;
  // The path itself goes to the machine where it can, as the run wrote it.
  place.machinePath = place.isRedirected ? onMachine : path;
  return place;
}

Status WhatIfBackend::FileOverlay::lookAt(Backend& machine, const Place& place, Kind* kind) {
  if (!place.status.ok) return place.status;
  if (place.node != nullptr) {
    if (place.node->kind == Kind::kAbsent) return failure(WhatIfFailure::kFileNotFound);
    if (kind != nullptr) *kind = place.node->kind;
    return Status::success();
  }
  if (place.isBelowNewDirectory) return failure(WhatIfFailure::kFileNotFound);
  Status there = machine.testPath(place.machinePath);
  if (there.ok && kind != nullptr) {
    *kind = isMachineDirectory(machine, place.machinePath) ? Kind::kDirectory : Kind::kFile;
  }
  return there;
}

Status WhatIfBackend::FileOverlay::checkParent(Backend& machine, const Place& place) {
  if (!place.status.ok) return place.status;
  // The walk has seen that an entry on the way is a directory; an empty
  // parent is the current directory.
  if (place.parentNode != nullptr || place.parentMachinePath.empty()) return Status::success();
  if (isMachineDirectory(machine, place.parentMachinePath)) return Status::success();
  return failure(WhatIfFailure::kPathNotFound);
}

bool WhatIfBackend::FileOverlay::isMachineDirectory(Backend& machine, const std::string& path) {
  const std::string key = keyOf(path);
  auto known = machineDirectories.find(key);
  if (known != machineDirectories.end()) return known->second;
  // Neither system opens a directory as a file, and only a directory can be
  // listed; the open is tried first, since a listing may be long.
  bool isDirectory = false;
  FileHandle file;
  if (machine.openFileForReading(path, &file).ok) {
    machine.closeFile(file);
  } else {
    std::vector<DirectoryEntry> entries;
    isDirectory = machine.listDirectory(path, &entries).ok;
  }
  machineDirectories.emplace(key, isDirectory);
  return isDirectory;
}

Status WhatIfBackend::FileOverlay::loadFromMachine(Backend& machine, const std::string& path,
                                                   Body* body) {
  FileHandle file;
  Status status = machine.openFileForReading(path, &file);
  if (!status.ok) return status;
  std::string content;
  try {
    char block[16384];
    for (;;) {
      std::size_t got = 0;
      status = machine.readFile(file, block, sizeof block, &got);
      if (!status.ok || got == 0) break;
      content.append(block, got);
    }
  } catch (const std::bad_alloc&) {
    machine.closeFile(file);
    throw;
  }
  DosStamp stamp;
  Status stampStatus = machine.getFileStamp(file, &stamp);
  machine.closeFile(file);
  if (!status.ok) return status;
  FileInfo info;
  body->modifiedTime = machine.getFileInfo(path, &info).ok ? info.modifiedTime : nextTime();
  body->inMemory = true;
  body->content.swap(content);
  body->machinePath.clear();
  body->stamp = stamp;
  body->stampStatus = stampStatus;
  return Status::success();
}

WhatIfBackend::FileOverlay::Node& WhatIfBackend::FileOverlay::putNode(const Place& place, Kind kind,
                                                                      bool isNew) {
  Node& node = nodes[place.key];
  node = Node();
  node.kind = kind;
  node.isNew = isNew;
  if (isNew) node.name = place.name;
  node.order = ++clock;
  return node;
}

Status WhatIfBackend::FileOverlay::checkFree(Backend& machine, const Place& place,
                                             WhatIfFailure taken) {
  Status there = lookAt(machine, place, nullptr);
  if (there.ok) return failure(taken);
  if (!there.notFound) return there;
  return checkParent(machine, place);
}

Status WhatIfBackend::FileOverlay::checkChangeable(Backend& machine, const Place& place) {
  std::string real = place.machinePath;
  if (place.node != nullptr) {
    if (place.node->readOnly) return failure(WhatIfFailure::kAccessDenied);
    real = place.node->body->inMemory ? std::string() : place.node->body->machinePath;
  }
  if (real.empty()) return Status::success();
  Status writable = machine.testWritable(real);
  // A read-only flag the run cleared is cleared.
  if (place.node == nullptr && isAccessDenied(writable)) {
    return failure(WhatIfFailure::kAccessDenied);
  }
  return isInUse(writable) ? failure(WhatIfFailure::kInUse) : Status::success();
}

Status WhatIfBackend::FileOverlay::move(Backend& machine, const std::string& from,
                                        const std::string& to, bool replaces, std::string* fromKey,
                                        std::string* toKey) {
  fromKey->clear();
  toKey->clear();
  Place source = find(from);
  Kind kind = Kind::kAbsent;
  Status there = lookAt(machine, source, &kind);
  if (!there.ok) return there;
  Place target = find(to);
  if (!target.status.ok) return target.status;
  if (source.name.empty() || target.name.empty()) return failure(WhatIfFailure::kAccessDenied);
  // The real file behind the source, which another program may hold open.
  std::string real;
  if (source.node == nullptr && kind == Kind::kFile) real = source.machinePath;
  if (source.node != nullptr && kind == Kind::kFile && !source.node->body->inMemory) {
    real = source.node->body->machinePath;
  }

  if (source.key == target.key) {
    // The same name in another case: Windows respells the name rather than
    // call it taken.
    if (source.name == target.name) return Status::success();
    if (!real.empty() && isInUse(machine.testWritable(real))) {
      return failure(WhatIfFailure::kInUse);
    }
    if (source.node == nullptr) {
      Node& node = putNode(source, kind, false);
      if (kind == Kind::kDirectory) {
        node.machineDirectory = source.machinePath;
      } else {
        node.body = std::make_shared<Body>();
        node.body->inMemory = false;
        node.body->machinePath = source.machinePath;
        node.readOnly = isAccessDenied(machine.testWritable(source.machinePath));
      }
      source.node = &node;
    }
    source.node->name = target.name;
    *fromKey = *toKey = target.key;
    return Status::success();
  }

  Kind targetKind = Kind::kAbsent;
  Status taken = lookAt(machine, target, &targetKind);
  if (taken.ok) {
    if (!replaces) return failure(WhatIfFailure::kAlreadyExists);
    if (targetKind == Kind::kDirectory || kind == Kind::kDirectory) {
      return failure(WhatIfFailure::kAccessDenied);
    }
    Status changeable = checkChangeable(machine, target);
    if (!changeable.ok) return changeable;
  } else if (!taken.notFound) {
    return taken;
  } else {
    Status parent = checkParent(machine, target);
    if (!parent.ok) return parent;
  }
  // A directory cannot go into itself.
  if (beginsWith(target.key, childPrefix(source.key))) return failure(WhatIfFailure::kAccessDenied);
  if (!real.empty() && isInUse(machine.testWritable(real))) return failure(WhatIfFailure::kInUse);

  Node moved;
  if (source.node != nullptr) {
    moved = *source.node;
  } else if (kind == Kind::kDirectory) {
    moved.kind = Kind::kDirectory;
    moved.machineDirectory = source.machinePath;
  } else {
    // A real file keeps its content where it is, read when asked for.
    moved.kind = Kind::kFile;
    moved.body = std::make_shared<Body>();
    moved.body->inMemory = false;
    moved.body->machinePath = source.machinePath;
    moved.readOnly = isAccessDenied(machine.testWritable(source.machinePath));
  }
  moved.isNew = true;
  moved.name = target.name;
  moved.order = ++clock;
  moveChildren(source.key, target.key);
  nodes[source.key] = Node();
  nodes[target.key] = moved;
  *fromKey = source.key;
  *toKey = target.key;
  return Status::success();
}

void WhatIfBackend::FileOverlay::moveChildren(const std::string& fromKey,
                                              const std::string& toKey) {
  const std::string from = childPrefix(fromKey);
  const std::string to = childPrefix(toKey);
  std::vector<std::pair<std::string, Node>> moved;
  for (auto it = nodes.lower_bound(from); it != nodes.end() && beginsWith(it->first, from);) {
    moved.emplace_back(to + it->first.substr(from.size()), std::move(it->second));
    it = nodes.erase(it);
  }
  for (auto& entry : moved) nodes[entry.first] = std::move(entry.second);
}

void WhatIfBackend::FileOverlay::mergeListing(const std::string& key,
                                              const std::vector<DirectoryEntry>& machineEntries,
                                              std::vector<DirectoryEntry>* entries) {
  const std::string prefix = childPrefix(key);
  for (const DirectoryEntry& entry : machineEntries) {
    auto found = nodes.find(prefix + folded(entry.name));
    if (found == nodes.end()) {
      entries->push_back(entry);
      continue;
    }
    // A name the run removed goes; one it made again comes with the new ones.
    const Node& node = found->second;
    if (node.kind == Kind::kAbsent || node.isNew) continue;
    DirectoryEntry kept = entry;
    if (!node.name.empty()) kept.name = node.name;
    kept.isDirectory = node.kind == Kind::kDirectory;
    entries->push_back(kept);
  }
  std::vector<const Node*> made;
  for (auto it = nodes.lower_bound(prefix); it != nodes.end() && beginsWith(it->first, prefix);
       ++it) {
    const Node& node = it->second;
    if (it->first.find('/', prefix.size()) != std::string::npos) continue;
    if (node.isNew && node.kind != Kind::kAbsent) made.push_back(&node);
  }
  std::sort(made.begin(), made.end(),
            [](const Node* left, const Node* right) { return left->order < right->order; });
  for (const Node* node : made) {
    DirectoryEntry entry;
    entry.name = node->name;
    entry.isDirectory = node->kind == Kind::kDirectory;
    entries->push_back(entry);
  }
}

std::shared_ptr<WhatIfBackend::FileOverlay::Body> WhatIfBackend::FileOverlay::makeBody(
    const std::string& content) {
  auto body = std::make_shared<Body>();
  body->content = content;
  body->stamp = stampOfNow();
  body->stampIsNow = true;
  body->modifiedTime = nextTime();
  return body;
}

std::uint64_t WhatIfBackend::FileOverlay::nextTime() { return kFirstOverlayTime + ++clock; }

FileHandle WhatIfBackend::FileOverlay::openHandle(OpenFile openFile) {
  openFile.isOpen = true;
  std::size_t index = 0;
  while (index < openFiles.size() && openFiles[index].isOpen) ++index;
  if (index == openFiles.size()) {
    openFiles.push_back(openFile);
  } else {
    openFiles[index] = openFile;
  }
  FileHandle file;
  file.value = kFirstHandle + static_cast<std::intptr_t>(index);
  return file;
}

WhatIfBackend::FileOverlay::OpenFile* WhatIfBackend::FileOverlay::getHandle(FileHandle file) {
  if (file.value < kFirstHandle) return nullptr;
  std::size_t index = static_cast<std::size_t>(file.value - kFirstHandle);
  if (index >= openFiles.size() || !openFiles[index].isOpen) return nullptr;
  return &openFiles[index];
}

// The backend's file calls.

Status WhatIfBackend::openFileForReading(const std::string& path, FileHandle* file) {
  FileOverlay::Place place = files->find(path);
  if (!place.status.ok) return place.status;
  FileOverlay::OpenFile open;
  open.path = path;
  open.key = place.key;
  std::string real = place.machinePath;
  if (place.node != nullptr) {
    const FileOverlay::Node& node = *place.node;
    if (node.kind == FileOverlay::Kind::kAbsent) return failure(WhatIfFailure::kFileNotFound);
    // Windows opens no directory as a file.
    if (node.kind == FileOverlay::Kind::kDirectory) return failure(WhatIfFailure::kAccessDenied);
    if (node.body->inMemory) {
      open.body = node.body;
      *file = files->openHandle(open);
      return Status::success();
    }
    real = node.body->machinePath;
  } else if (place.isBelowNewDirectory) {
    return failure(WhatIfFailure::kFileNotFound);
  }
  Status opened = machine.openFileForReading(real, &open.machineFile);
  if (!opened.ok) return opened;
  *file = files->openHandle(open);
  return Status::success();
}

Status WhatIfBackend::createNewFile(const std::string& path, FileHandle* file) {
  FileOverlay::Place place = files->find(path);
  if (!place.status.ok) return place.status;
  Status free = files->checkFree(machine, place, WhatIfFailure::kFileExists);
  if (!free.ok) return free;
  FileOverlay::Node& node = files->putNode(place, FileOverlay::Kind::kFile, true);
  node.body = files->makeBody(std::string());
  noteChangedPath(path, place.key);
  FileOverlay::OpenFile open;
  open.body = node.body;
  open.canWrite = true;
  open.path = path;
  open.key = place.key;
  *file = files->openHandle(open);
  return Status::success();
}

Status WhatIfBackend::openFileForAppending(const std::string& path, FileHandle* file) {
  FileOverlay::Place place = files->find(path);
  if (!place.status.ok) return place.status;
  FileOverlay::Kind kind = FileOverlay::Kind::kAbsent;
  Status there = files->lookAt(machine, place, &kind);
  if (!there.ok && !there.notFound) return there;
  FileOverlay::OpenFile open;
  if (there.ok) {
    if (kind == FileOverlay::Kind::kDirectory) return failure(WhatIfFailure::kAccessDenied);
    std::string real = place.machinePath;
    if (place.node != nullptr) {
      if (place.node->readOnly) return failure(WhatIfFailure::kAccessDenied);
      open.body = place.node->body;
      real = open.body->inMemory ? std::string() : open.body->machinePath;
    }
    if (!real.empty()) {
      Status writable = machine.testWritable(real);
      if (place.node == nullptr && isAccessDenied(writable)) {
        return failure(WhatIfFailure::kAccessDenied);
      }
      if (isInUse(writable)) return failure(WhatIfFailure::kInUse);
      // What the file holds comes into memory, and the writes go after it.
      auto loaded = std::make_shared<FileOverlay::Body>();
      Status read = files->loadFromMachine(machine, real, loaded.get());
      if (!read.ok) return read;
      if (open.body) {
        *open.body = std::move(*loaded);
      } else {
        files->putNode(place, FileOverlay::Kind::kFile, false).body = loaded;
        open.body = loaded;
      }
    }
  } else {
    Status parent = files->checkParent(machine, place);
    if (!parent.ok) return parent;
    FileOverlay::Node& node = files->putNode(place, FileOverlay::Kind::kFile, true);
    node.body = files->makeBody(std::string());
    open.body = node.body;
    noteChangedPath(path, place.key);
  }
  open.canWrite = true;
  open.appends = true;
  open.path = path;
  open.key = place.key;
  *file = files->openHandle(open);
  return Status::success();
}

Status WhatIfBackend::readFile(FileHandle file, void* buffer, std::size_t capacity,
                               std::size_t* bytesRead) {
  *bytesRead = 0;
  FileOverlay::OpenFile* open = files->getHandle(file);
  if (open == nullptr) return failure(WhatIfFailure::kBadHandle);
  if (open->machineFile.isOpen())
    return machine.readFile(open->machineFile, buffer, capacity, bytesRead);
  // A file opened for appending is opened for writing only.
  if (open->appends) return failure(WhatIfFailure::kAccessDenied);
  FileOverlay::Body& body = *open->body;
  if (!body.inMemory) {
    Status loaded = files->loadFromMachine(machine, body.machinePath, &body);
    if (!loaded.ok) return loaded;
  }
  if (open->position < body.content.size()) {
    std::size_t count = std::min(capacity, body.content.size() - open->position);
    std::memcpy(buffer, body.content.data() + open->position, count);
    open->position += count;
    *bytesRead = count;
  }
  return Status::success();
}

Status WhatIfBackend::writeFile(FileHandle file, const void* data, std::size_t size,
                                std::size_t* bytesWritten) {
  *bytesWritten = 0;
  FileOverlay::OpenFile* open = files->getHandle(file);
  if (open == nullptr) return failure(WhatIfFailure::kBadHandle);
  if (!open->canWrite) return failure(WhatIfFailure::kAccessDenied);
  FileOverlay::Body& body = *open->body;
  if (open->appends) open->position = body.content.size();
  // Another stream may have emptied the file meanwhile; Windows fills the
  // gap up to the position with zeros.
  if (open->position > body.content.size()) body.content.resize(open->position);
  if (size > 0) {
    std::size_t replaced = std::min(size, body.content.size() - open->position);
    body.content.replace(open->position, replaced, static_cast<const char*>(data), size);
    open->position += size;
  }
  body.modifiedTime = files->nextTime();
  if (!body.hasSetStamp) {
    body.stamp = stampOfNow();
    body.stampIsNow = true;
    body.stampStatus = Status::success();
  }
  *bytesWritten = size;
  noteChangedPath(open->path, open->key);
  return Status::success();
}

Status WhatIfBackend::closeFile(FileHandle file) {
  FileOverlay::OpenFile* open = files->getHandle(file);
  if (open == nullptr) return failure(WhatIfFailure::kBadHandle);
  Status closed = Status::success();
  if (open->machineFile.isOpen()) closed = machine.closeFile(open->machineFile);
  *open = FileOverlay::OpenFile();
  return closed;
}

Status WhatIfBackend::flushFile(FileHandle file) {
  // Nothing the run writes goes to a disk.
  return files->getHandle(file) != nullptr ? Status::success() : failure(WhatIfFailure::kBadHandle);
}

void WhatIfBackend::startFlush(FileHandle /*file*/) {}

Status WhatIfBackend::getFileStamp(FileHandle file, DosStamp* stamp) {
  FileOverlay::OpenFile* open = files->getHandle(file);
  if (open == nullptr) return failure(WhatIfFailure::kBadHandle);
  if (open->machineFile.isOpen()) return machine.getFileStamp(open->machineFile, stamp);
  FileOverlay::Body& body = *open->body;
  if (!body.inMemory) {
    Status loaded = files->loadFromMachine(machine, body.machinePath, &body);
    if (!loaded.ok) return loaded;
  }
  // A stamp out of the DOS range comes with the nearest one; no other
  // failure gives one.
  if (body.stampStatus.ok || body.stamp.date != 0) *stamp = body.stamp;
  return body.stampStatus;
}

Status WhatIfBackend::setFileStamp(FileHandle file, DosStamp stamp) {
  FileOverlay::OpenFile* open = files->getHandle(file);
  if (open == nullptr) return failure(WhatIfFailure::kBadHandle);
  // Windows sets no time through a handle opened for reading.
  if (!open->canWrite) return failure(WhatIfFailure::kAccessDenied);
  if (!isValidStamp(stamp)) return invalidStamp();
  FileOverlay::Body& body = *open->body;
  body.stamp = stamp;
  body.stampStatus = Status::success();
  body.hasSetStamp = true;
  body.stampIsNow = false;
  body.modifiedTime = files->nextTime();
  noteChangedPath(open->path, open->key);
  return Status::success();
}

Status WhatIfBackend::getFileInfo(const std::string& path, FileInfo* info) {
  FileOverlay::Place place = files->find(path);
  if (!place.status.ok) return place.status;
  if (place.node == nullptr) {
    if (place.isBelowNewDirectory) return failure(WhatIfFailure::kFileNotFound);
    return machine.getFileInfo(place.machinePath, info);
  }
  const FileOverlay::Node& node = *place.node;
  switch (node.kind) {
    case FileOverlay::Kind::kAbsent:
      return failure(WhatIfFailure::kFileNotFound);
    case FileOverlay::Kind::kDirectory:
      if (!node.machineDirectory.empty()) return machine.getFileInfo(node.machineDirectory, info);
      info->modifiedTime = node.modifiedTime;
      info->size = 0;
      return Status::success();
    case FileOverlay::Kind::kFile:
      break;
  }
  if (!node.body->inMemory) return machine.getFileInfo(node.body->machinePath, info);
  info->modifiedTime = node.body->modifiedTime;
  info->size = node.body->content.size();
  return Status::success();
}

Status WhatIfBackend::testPath(const std::string& path) {
  return files->lookAt(machine, files->find(path), nullptr);
}

Status WhatIfBackend::testWritable(const std::string& path) {
  FileOverlay::Place place = files->find(path);
  if (!place.status.ok) return place.status;
  if (place.node == nullptr) {
    if (place.isBelowNewDirectory) return failure(WhatIfFailure::kFileNotFound);
    return machine.testWritable(place.machinePath);
  }
  const FileOverlay::Node& node = *place.node;
  if (node.kind == FileOverlay::Kind::kAbsent) return failure(WhatIfFailure::kFileNotFound);
  if (node.kind == FileOverlay::Kind::kDirectory) return Status::success();
  if (node.readOnly) return failure(WhatIfFailure::kAccessDenied);
  if (!node.body->inMemory) {
    // The flag is the overlay's; only another program's hold is the machine's.
    Status writable = machine.testWritable(node.body->machinePath);
    if (isInUse(writable)) return writable;
  }
  return Status::success();
}

Status WhatIfBackend::renameFile(const std::string& from, const std::string& to) {
  std::string fromKey, toKey;
  Status moved = files->move(machine, from, to, false, &fromKey, &toKey);
  if (!fromKey.empty()) noteChangedPath(from, fromKey);
  if (!toKey.empty()) noteChangedPath(to, toKey);
  return moved;
}

Status WhatIfBackend::replaceFile(const std::string& from, const std::string& to) {
  // As the real call: a system without the one-step replace touches nothing.
  if (!machine.hasOneStepReplace()) return failure(WhatIfFailure::kNotImplemented);
  std::string fromKey, toKey;
  Status moved = files->move(machine, from, to, true, &fromKey, &toKey);
  if (!fromKey.empty()) noteChangedPath(from, fromKey);
  if (!toKey.empty()) noteChangedPath(to, toKey);
  return moved;
}

Status WhatIfBackend::writeNewFileBeside(const std::string& path, const std::string& content,
                                         NewFileBeside* made) {
  made->target = path;
  made->targetExists = false;
  made->temporary.clear();
  FileOverlay::Place place = files->find(path);
  FileOverlay::Kind kind = FileOverlay::Kind::kAbsent;
  Status there = files->lookAt(machine, place, &kind);
  if (!there.ok && !there.notFound) return there;
  if (there.ok) {
    made->targetExists = true;
    bool readOnly = place.node != nullptr ? place.node->readOnly
                                          : isAccessDenied(machine.testWritable(place.machinePath));
    if (kind == FileOverlay::Kind::kDirectory || readOnly)
      return failure(WhatIfFailure::kAccessDenied);
  }
  std::string directory;
  std::size_t separator = path.find_last_of("\\/");
  if (separator != std::string::npos) {
    directory = path.substr(0, separator + 1);
  } else if (path.size() >= 2 && path[1] == ':') {
    directory = path.substr(0, 2);
  }
  for (unsigned attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
    char name[16];
    std::snprintf(name, sizeof name, "~TVP%04X.TMP", attempt);
    const std::string temporary = directory + name;
    FileOverlay::Place spot = files->find(temporary);
    Status taken = files->lookAt(machine, spot, nullptr);
    if (taken.ok) continue;
    if (!taken.notFound) return taken;
    Status parent = files->checkParent(machine, spot);
    if (!parent.ok) return parent;
    files->putNode(spot, FileOverlay::Kind::kFile, true).body = files->makeBody(content);
    noteChangedPath(temporary, spot.key);
    made->temporary = temporary;
    return Status::success();
  }
  return failure(WhatIfFailure::kFileExists);
}

void WhatIfBackend::flushDirectoryOf(const std::string& /*path*/) {}

Status WhatIfBackend::deleteFile(const std::string& path) {
  FileOverlay::Place place = files->find(path);
  FileOverlay::Kind kind = FileOverlay::Kind::kAbsent;
  Status there = files->lookAt(machine, place, &kind);
  if (!there.ok) return there;
  // Windows deletes no directory as a file, and no read-only file.
  if (kind == FileOverlay::Kind::kDirectory || place.name.empty())
    return failure(WhatIfFailure::kAccessDenied);
  Status changeable = files->checkChangeable(machine, place);
  if (!changeable.ok) return changeable;
  files->putNode(place, FileOverlay::Kind::kAbsent, false);
  noteChangedPath(path, place.key);
  return Status::success();
}

Status WhatIfBackend::makeWritable(const std::string& path) {
  FileOverlay::Place place = files->find(path);
  FileOverlay::Kind kind = FileOverlay::Kind::kAbsent;
  Status there = files->lookAt(machine, place, &kind);
  if (!there.ok) return there;
  if (place.node != nullptr) {
    if (place.node->readOnly) {
      place.node->readOnly = false;
      noteChangedPath(path, place.key);
    }
    return Status::success();
  }
  if (kind == FileOverlay::Kind::kDirectory ||
      !isAccessDenied(machine.testWritable(place.machinePath))) {
    return Status::success();
  }
  // The file stays where it is on the machine; only its flag is the overlay's.
  FileOverlay::Node& node = files->putNode(place, FileOverlay::Kind::kFile, false);
  node.body = std::make_shared<FileOverlay::Body>();
  node.body->inMemory = false;
  node.body->machinePath = place.machinePath;
  noteChangedPath(path, place.key);
  return Status::success();
}

Status WhatIfBackend::removeDirectory(const std::string& path) {
  FileOverlay::Place place = files->find(path);
  FileOverlay::Kind kind = FileOverlay::Kind::kAbsent;
  Status there = files->lookAt(machine, place, &kind);
  if (!there.ok) return there;
  if (kind != FileOverlay::Kind::kDirectory || place.name.empty()) {
    return failure(WhatIfFailure::kAccessDenied);
  }
  std::vector<DirectoryEntry> entries;
  Status listed = listDirectory(path, &entries);
  if (!listed.ok) return listed;
  if (!entries.empty()) return failure(WhatIfFailure::kAccessDenied);
  files->putNode(place, FileOverlay::Kind::kAbsent, false);
  noteChangedPath(path, place.key);
  return Status::success();
}

Status WhatIfBackend::makeDirectory(const std::string& path) {
  FileOverlay::Place place = files->find(path);
  if (!place.status.ok) return place.status;
  Status free = files->checkFree(machine, place, WhatIfFailure::kAlreadyExists);
  if (!free.ok) return free;
  files->putNode(place, FileOverlay::Kind::kDirectory, true).modifiedTime = files->nextTime();
  noteChangedPath(path, place.key);
  return Status::success();
}

Status WhatIfBackend::listDirectory(const std::string& path, std::vector<DirectoryEntry>* entries) {
  entries->clear();
  FileOverlay::Place place = files->find(path);
  if (!place.status.ok) return place.status;
  std::vector<DirectoryEntry> machineEntries;
  std::string real = place.machinePath;
  if (place.node != nullptr) {
    // Listing a file fails as listing a missing directory does.
    if (place.node->kind != FileOverlay::Kind::kDirectory)
      return failure(WhatIfFailure::kPathNotFound);
    real = place.node->machineDirectory;
  } else if (place.isBelowNewDirectory) {
    return failure(WhatIfFailure::kPathNotFound);
  }
  if (!real.empty()) {
    Status listed = machine.listDirectory(real, &machineEntries);
    if (!listed.ok) return listed;
  }
  files->mergeListing(place.key, machineEntries, entries);
  return Status::success();
}

Status WhatIfBackend::getShortPath(const std::string& path, std::string* shortPath) {
  FileOverlay::Place place = files->find(path);
  Status there = files->lookAt(machine, place, nullptr);
  if (!there.ok) return there;
  const bool isNewName = place.node != nullptr && place.node->isNew;
  if (!isNewName && !place.isRedirected) return machine.getShortPath(place.machinePath, shortPath);
  // Below a directory the run renamed, or for a name it made, the alias is
  // built from the parent's: a new long name would get one only the system
  // can choose.
  std::string leaf;
  if (isNewName) {
    if (!isShortName(place.name)) return failure(WhatIfFailure::kFileNotFound);
    leaf = place.name;
  } else {
    std::string real;
    Status found = machine.getShortPath(place.machinePath, &real);
    if (!found.ok) return found;
    std::size_t separator = real.find_last_of("\\/");
    leaf = separator == std::string::npos ? real : real.substr(separator + 1);
  }
  std::string parent;
  if (!place.parentPath.empty()) {
    Status found = getShortPath(place.parentPath, &parent);
    if (!found.ok) return found;
  }
  *shortPath = appendName(parent, leaf);
  return Status::success();
}

std::FILE* WhatIfBackend::openStream(const std::string& path, const char* mode) {
  if (mode == nullptr || mode[0] == '\0' || std::strchr("rwa", mode[0]) == nullptr) return nullptr;
  const char first = mode[0];
  const bool writes = first != 'r' || std::strchr(mode, '+') != nullptr;
  FileOverlay::Place place = files->find(path);
  FileOverlay::Kind kind = FileOverlay::Kind::kAbsent;
  Status there = files->lookAt(machine, place, &kind);
  if (!there.ok && (!there.notFound || first == 'r' || !files->checkParent(machine, place).ok)) {
    return nullptr;
  }
  if (there.ok && kind == FileOverlay::Kind::kDirectory) return nullptr;
  if (there.ok && writes) {
    bool readOnly = place.node != nullptr ? place.node->readOnly
                                          : isAccessDenied(machine.testWritable(place.machinePath));
    if (readOnly) return nullptr;
  }
  std::shared_ptr<FileOverlay::Body> body =
      there.ok && place.node != nullptr ? place.node->body : nullptr;
  // Only the installer's log is a stream, which the run writes and never
  // reads: under a dry run it goes to the null device.
#ifdef _WIN32
  std::FILE* stream = std::fopen("NUL", mode);
#else
  std::FILE* stream = std::fopen("/dev/null", mode);
#endif
  if (stream == nullptr) return nullptr;
  if (writes) {
    // What the run then writes is not known; the file is marked changed and
    // keeps what it held (nothing after "w").
    std::string content;
    if (there.ok && first != 'w') {
      if (body && body->inMemory) {
        content = body->content;
      } else {
        FileOverlay::Body loaded;
        if (files->loadFromMachine(machine, body ? body->machinePath : place.machinePath, &loaded)
                .ok) {
          content.swap(loaded.content);
        }
      }
    }
    if (!body) {
      body = std::make_shared<FileOverlay::Body>();
      files->putNode(place, FileOverlay::Kind::kFile, !there.ok).body = body;
    }
    body->inMemory = true;
    body->machinePath.clear();
    body->content.swap(content);
    body->stamp = stampOfNow();
    body->stampIsNow = true;
    body->stampStatus = Status::success();
    body->hasSetStamp = false;
    body->modifiedTime = files->nextTime();
    noteChangedPath(path, place.key);
  }
  return stream;
}

Status WhatIfBackend::lockFile(const std::string& path, FileHandle* file, bool* heldElsewhere) {
  *heldElsewhere = false;
  FileOverlay::Place place = files->find(path);
  if (!place.status.ok) return place.status;
  // A second lock of the file in this run is refused, as the system refuses
  // a second holder in the same process.
  for (const FileOverlay::OpenFile& open : files->openFiles) {
    if (open.isOpen && open.isLock && open.key == place.key) {
      *heldElsewhere = true;
      return failure(WhatIfFailure::kInUse);
    }
  }
  FileOverlay::Kind kind = FileOverlay::Kind::kAbsent;
  Status there = files->lookAt(machine, place, &kind);
  if (!there.ok && !there.notFound) return there;
  FileOverlay::OpenFile open;
  open.isLock = true;
  open.path = path;
  open.key = place.key;
  std::string real;
  if (there.ok && place.node == nullptr) {
    real = place.machinePath;
    open.body = std::make_shared<FileOverlay::Body>();
    open.body->inMemory = false;
    open.body->machinePath = real;
  } else if (there.ok) {
    if (kind == FileOverlay::Kind::kDirectory) return failure(WhatIfFailure::kAccessDenied);
    open.body = place.node->body;
    if (!open.body->inMemory) real = open.body->machinePath;
  } else {
    Status parent = files->checkParent(machine, place);
    if (!parent.ok) return parent;
    FileOverlay::Node& node = files->putNode(place, FileOverlay::Kind::kFile, true);
    node.body = files->makeBody(std::string());
    open.body = node.body;
    noteChangedPath(path, place.key);
  }
  if (!real.empty()) {
    // Whether another program holds the real file, asked by taking the lock
    // and giving it up at once. The machine's lock makes a missing file, so
    // it is only asked about one that is there.
    Status found = machine.testPath(real);
    if (!found.ok) return found;
    FileHandle probe;
    Status locked = machine.lockFile(real, &probe, heldElsewhere);
    if (!locked.ok) return locked;
    machine.closeFile(probe);
  }
  *file = files->openHandle(open);
  return Status::success();
}

bool WhatIfBackend::isStampedWhenWritten(const std::string& path) {
  FileOverlay::Place place = files->find(path);
  return place.status.ok && place.node != nullptr && place.node->kind == FileOverlay::Kind::kFile &&
         place.node->body && place.node->body->inMemory && place.node->body->stampIsNow;
}

}  // namespace platform
