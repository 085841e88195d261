#include "restart_simulation.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

#include "base/ascii_text.h"
#include "base/line_reader.h"
#include "platform/files.h"
#include "platform/posix/posix_support.h"
#include "platform/posix/restart_queue.h"
#include "platform/short_name.h"
#include "platform/system.h"

namespace tvprestart {

using platform::deleteFile;
using platform::readFileAsIs;
using platform::renameFile;
using platform::Status;
using platform::testPath;

using platform::posix::failureFromErrno;
using platform::posix::getRestartQueuePath;
using platform::posix::PendingMove;
using platform::posix::readRestartQueue;
using platform::posix::resolvePath;
using platform::posix::syncParentDirectory;

namespace {

std::string trimBlanks(const std::string& text) {
  std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  std::size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

std::string describe(Status status) { return std::strerror(static_cast<int>(status.systemError)); }

std::string inDirectory(const std::string& directory, const char* name) {
  std::string path = directory;
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
  return path + name;
}

// The key=value lines of the first section "rename", in file order.
std::vector<std::pair<std::string, std::string>> renameLines(const std::string& content) {
  std::vector<std::pair<std::string, std::string>> steps;
  bool inSection = false;
  bool seen = false;
  LineReader reader(content);
  std::string line;
  while (reader.next(&line)) {
    // Windows reads a CR that ends the file as part of the line end too.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string trimmed = trimBlanks(line);
    if (!trimmed.empty() && trimmed[0] == '[') {
      if (inSection) break;
      std::size_t close = trimmed.find(']');
      inSection = !seen && close != std::string::npos &&
                  equalsNoCase(trimBlanks(trimmed.substr(1, close - 1)), "rename");
      seen = seen || inSection;
      continue;
    }
    if (!inSection || trimmed.empty() || trimmed[0] == ';') continue;
    std::size_t equals = trimmed.find('=');
    if (equals == std::string::npos) continue;
    steps.emplace_back(trimBlanks(trimmed.substr(0, equals)),
                       trimBlanks(trimmed.substr(equals + 1)));
  }
  return steps;
}

// The directories whose entries the steps changed so far; see flushSteps.
using Touched = std::set<std::string>;

// Makes the renames and deletions done so far reach the disk. The restart
// calls it before it marks its steps as done (WININIT.BAK, the emptied
// queue): were that mark to reach the disk first, a power cut would lose
// steps that no later restart carries out again.
void flushSteps(Touched* touched) {
  for (const std::string& path : *touched) syncParentDirectory(path);
  touched->clear();
}

bool deleteStep(const std::string& path, std::vector<std::string>* report, Touched* touched) {
  touched->insert(resolvePath(path));
  Status status = deleteFile(path);
  if (!status.ok) {
    report->push_back("Cannot delete " + path + ": " + describe(status));
    return false;
  }
  report->push_back("Deleted " + path);
  return true;
}

// A rename over an existing file. WININIT.EXE and the start of Windows NT
// are not bound to the calls a program may make, so a restart replaces files
// whatever kind of Windows the stand-ins play, where replaceFile would refuse.
Status replaceAtRestart(const std::string& source, const std::string& destination) {
  // Nor does a restart replace a read-only file, as no delete removes one.
  struct stat target;
  if (stat(resolvePath(destination).c_str(), &target) == 0 && S_ISREG(target.st_mode) &&
      (target.st_mode & S_IWUSR) == 0) {
    return failureFromErrno(EACCES);
  }
  if (std::rename(resolvePath(source).c_str(), resolvePath(destination).c_str()) != 0) {
    return failureFromErrno(errno);
  }
  return Status::success();
}

bool moveStep(const std::string& source, const std::string& destination, bool replace,
              std::vector<std::string>* report, Touched* touched) {
  touched->insert(resolvePath(source));
  touched->insert(resolvePath(destination));
  Status status = replace ? replaceAtRestart(source, destination) : renameFile(source, destination);
  if (!status.ok) {
    report->push_back("Cannot rename " + source + " to " + destination + ": " + describe(status));
    return false;
  }
  report->push_back("Renamed " + source + " to " + destination);
  return true;
}

// Whether the kind of Windows played is of the Windows 95 family, whose
// WININIT.EXE runs before long names are available: bit 31 of the version
// number set, and a major version of 4 or more (Win32s reports the 3 of the
// Windows 3.x beneath it).
bool playsWindows95() {
  unsigned long version = platform::getVersionNumber();
  return (version & 0x80000000ul) != 0 && (version & 0xFFul) >= 4;
}

// A line dest=src of WININIT.INI. The destination is removed only once the
// source is known to be there: removing it first for a source that has gone
// would lose the installed file and put nothing in its place. WININIT.EXE
// of the Windows 95 family finds files by their 8.3 names only: a line that
// names a long one finds nothing and changes nothing. A file it puts in
// place has the destination's 8.3 name and no long name.
bool wininitStep(const std::string& destination, const std::string& source, bool shortNamesOnly,
                 std::vector<std::string>* report, Touched* touched) {
  const bool deletion = equalsNoCase(destination, "NUL");
  if (shortNamesOnly &&
      !(platform::isShortPath(source) && (deletion || platform::isShortPath(destination)))) {
    report->push_back(
        (deletion ? "Cannot delete " + source : "Cannot rename " + source + " to " + destination) +
        ": not an 8.3 name");
    return false;
  }
  if (deletion) return deleteStep(source, report, touched);
  Status present = testPath(source);
  if (!present.ok) {
    report->push_back("Cannot rename " + source + " to " + destination + ": " + describe(present));
    return false;
  }
  Status old = testPath(destination);
  if (old.ok && !deleteStep(destination, report, touched)) return false;
  return moveStep(source, destination, false, report, touched);
}

bool carryOutWininit(const std::string& windowsDirectory, std::vector<std::string>* report,
                     Touched* touched) {
  std::string wininit = inDirectory(windowsDirectory, "WININIT.INI");
  std::string content;
  // Only WININIT.INI itself: the start of Windows knows nothing of a copy
  // that a save left under another name.
  Status read = readFileAsIs(wininit, &content);
  if (read.notFound) return true;
  if (!read.ok) {
    report->push_back("Cannot read " + wininit + ": " + describe(read));
    return false;
  }
  bool allDone = true;
  const bool shortNamesOnly = playsWindows95();
  for (const auto& step : renameLines(content)) {
    allDone = wininitStep(step.first, step.second, shortNamesOnly, report, touched) && allDone;
  }
  flushSteps(touched);
  // The file is kept as WININIT.BAK even after a failed line, as Windows
  // does, so that the same steps are not tried again at every restart.
  allDone =
      moveStep(wininit, inDirectory(windowsDirectory, "WININIT.BAK"), true, report, touched) &&
      allDone;
  return allDone;
}

bool carryOutQueue(const std::string& windowsDirectory, std::vector<std::string>* report,
                   Touched* touched) {
  std::string queue = getRestartQueuePath(windowsDirectory);
  std::vector<PendingMove> moves;
  Status status = readRestartQueue(windowsDirectory, &moves);
  if (!status.ok) {
    // An unreadable queue stays in place for a person to look at.
    report->push_back("Cannot read " + queue + ": " + describe(status));
    return false;
  }
  bool allDone = true;
  for (const PendingMove& move : moves) {
    if (move.destination.empty()) {
      allDone = deleteStep(move.source, report, touched) && allDone;
    } else {
      allDone = moveStep(move.source, move.destination, (move.flags & 1u) != 0, report, touched) &&
                allDone;
    }
  }
  flushSteps(touched);
  touched->insert(resolvePath(queue));
  Status removed = deleteFile(queue);
  if (!removed.ok && !removed.notFound) {
    report->push_back("Cannot delete " + queue + ": " + describe(removed));
    allDone = false;
  }
  return allDone;
}

}  // namespace

bool carryOutRestart(const std::string& windowsDirectory, std::vector<std::string>* report) {
  Touched touched;
  bool wininitDone = carryOutWininit(windowsDirectory, report, &touched);
  bool queueDone = carryOutQueue(windowsDirectory, report, &touched);
  flushSteps(&touched);
  return wininitDone && queueDone;
}

}  // namespace tvprestart
