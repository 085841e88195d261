// File services built from the per-system calls, the same on every system:
// the whole-file save's choice between one replacing rename and the detour
// through the aside name, and the read that finishes or clears up after an
// interrupted save.
#include "platform/files.h"

#include <cstdint>
#include <new>

#include "base/fnv_hash.h"
#include "platform/aside_name.h"
#include "platform/name_case.h"

namespace platform {

namespace {

// Where the name of the file at path begins: after its last separator or
// drive colon.
std::size_t nameStart(const std::string& path) {
  std::size_t separator = path.find_last_of("\\/:");
  return separator == std::string::npos ? 0 : separator + 1;
}

// The file's name with the extension .BAK, which WININIT.INI takes once a
// restart has carried it out.
std::string carriedOutNameOf(const std::string& path) {
  std::size_t start = nameStart(path);
  std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || dot < start) dot = path.size();
  return path.substr(0, dot) + ".BAK";
}

// A restart that carried out WININIT.INI renamed it to WININIT.BAK, so a .BAK
// newer than a lone aside copy is the file the save put in place, bearing the
// time of its new content: the save had finished and only the removal of the
// copy, which bears the old content's time, was cut off. A save cut off
// between its two renames left the only copy of the content, newer than any
// .BAK that an earlier restart made.
bool isStaleAside(const std::string& path, const std::string& aside) {
  FileInfo asideInfo;
  FileInfo carriedOut;
  return getFileInfo(aside, &asideInfo).ok && getFileInfo(carriedOutNameOf(path), &carriedOut).ok &&
         carriedOut.modifiedTime > asideInfo.modifiedTime;
}

// Puts the closed new file in the old one's place. The Windows 95 family
// cannot rename over a file, so the old file goes to its aside name first and
// at no moment is the content under neither name; a read that finds only the
// aside copy puts it back. An aside copy left by an earlier save cut short is
// stale once the file is there again.
Status putInPlace(const std::string& temporary, const std::string& target, bool exists) {
  if (hasOneStepReplace()) return replaceFile(temporary, target);
  std::string aside = asideNameOf(target);
  if (exists) {
    Status cleared = deleteFile(aside);
    if (!cleared.ok && !cleared.notFound) return cleared;
    Status moved = renameFile(target, aside);
    if (!moved.ok) return moved;
  }
  Status placed = renameFile(temporary, target);
  if (!placed.ok) {
    if (exists) renameFile(aside, target);
    return placed;
  }
  deleteFile(aside);
  return Status::success();
}

}  // namespace

std::string asideNameOf(const std::string& path) {
  std::size_t start = nameStart(path);
  FnvHash nameHash;
  for (std::size_t i = start; i < path.size(); ++i) {
    char c = path[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    nameHash.add(static_cast<unsigned char>(c));
  }
  std::uint64_t hash = nameHash.get();
  static const char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUV";
  std::string name(8, '0');
  for (char& digit : name) {
    digit = kDigits[hash & 31];
    hash >>= 5;
  }
  return path.substr(0, start) + name + ".~SV";
}

Status readToEnd(FileHandle file, std::string* content) {
  char block[4096];
  for (;;) {
    std::size_t got = 0;
    Status status = readFile(file, block, sizeof block, &got);
    if (!status.ok) return status;
    if (got == 0) return Status::success();
    content->append(block, got);
  }
}

Status readFileAsIs(const std::string& path, std::string* content) {
  content->clear();
  FileHandle file;
  Status opened = openFileForReading(path, &file);
  if (!opened.ok) return opened;
  Status read;
  try {
    read = readToEnd(file, content);
  } catch (const std::bad_alloc&) {
    closeFile(file);
    throw;
  }
  closeFile(file);
  if (!read.ok) {
    content->clear();
    // The file is there: a failed read must never pass for a missing file,
    // which callers would replace.
    return Status::failure(read.systemError, false);
  }
  return Status::success();
}

Status readWholeFile(const std::string& path, std::string* content) {
  Status status = readFileAsIs(path, content);
  if (!status.notFound) return status;
  std::string aside = asideNameOf(path);
  if (!testPath(aside).ok || !testPath(path).notFound) return status;
  if (isStaleAside(path, aside)) {
    // Taken up again, the copy would undo what the restart did; its lines
    // would even be carried out a second time.
    deleteFile(aside);
    return status;
  }
  // A save on the Windows 95 family that was cut short between renaming the
  // old file aside and renaming the new one into place leaves the old content
  // under the aside name only: it is still the file's content.
  if (!renameFile(aside, path).ok) return status;
  return readFileAsIs(path, content);
}

Status saveWholeFile(const std::string& path, const std::string& content) {
  NewFileBeside made;
  Status status = writeNewFileBeside(path, content, &made);
  if (!status.ok || made.temporary.empty()) return status;
  status = putInPlace(made.temporary, made.target, made.targetExists);
  if (!status.ok) {
    deleteFile(made.temporary);
    return status;
  }
  // The new content is in place, which no failure may undo: a directory that
  // cannot be flushed is no reason to report the save as failed.
  flushDirectoryOf(made.target);
  return Status::success();
}

char upperNameCase(char c) {
  unsigned char byte = static_cast<unsigned char>(c);
  // Windows upper-cases each character of a name in Unicode; these are the
  // small letters of the code page whose capitals are in it too. The sharp s
  // and the micro sign have none there, so they stay as they are.
  if ((byte >= 'a' && byte <= 'z') || (byte >= 0xE0 && byte <= 0xFE && byte != 0xF7)) {
    return static_cast<char>(byte - 0x20);
  }
  switch (byte) {
    case 0x9A:
    case 0x9C:
    case 0x9E:
      return static_cast<char>(byte - 0x10);
    case 0xFF:
      return static_cast<char>(0x9F);
    default:
      return c;
  }
}

bool equalsIgnoringNameCase(const std::string& left, const std::string& right) {
  return left.size() == right.size() && beginsWithIgnoringNameCase(left, right);
}

bool beginsWithIgnoringNameCase(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (upperNameCase(text[i]) != upperNameCase(prefix[i])) return false;
  }
  return true;
}

}  // namespace platform
