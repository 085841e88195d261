#include "platform/posix/restart_queue.h"

#include <cerrno>
#include <cstdlib>

#include "base/line_reader.h"
#include "platform/files.h"
#include "platform/posix/posix_support.h"

namespace platform {
namespace posix {

namespace {

bool parseRegistration(std::string line, PendingMove* move) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  std::size_t first = line.find('\t');
  if (first == std::string::npos || first == 0) return false;
  std::size_t second = line.find('\t', first + 1);
  if (second == std::string::npos || line.find('\t', second + 1) != std::string::npos) {
    return false;
  }
  std::string flags = line.substr(0, first);
  if (flags.find_first_not_of("0123456789") != std::string::npos) return false;
  move->flags = std::strtoul(flags.c_str(), nullptr, 10);
  move->source = line.substr(first + 1, second - first - 1);
  move->destination = line.substr(second + 1);
  return !move->source.empty();
}

}  // namespace

std::string getRestartQueuePath(const std::string& windowsDirectory) {
  std::string path = windowsDirectory;
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
  return path + "PENDMOVE.TXT";
}

Status readRestartQueue(const std::string& windowsDirectory, std::vector<PendingMove>* moves) {
  moves->clear();
  std::string content;
  // Registrations are only ever appended, never saved whole, so no copy of
  // the queue can stand under an aside name; it is read as it stands, as the
  // system reads its own list at the start.
  Status status = readFileAsIs(getRestartQueuePath(windowsDirectory), &content);
  if (status.notFound) return Status::success();
  if (!status.ok) return status;

  LineReader reader(content);
  std::string line;
  while (reader.next(&line)) {
    if (line.empty() || line == "\r") continue;
    PendingMove move;
    if (!parseRegistration(line, &move)) {
      moves->clear();
      return failureFromErrno(EINVAL);
    }
    moves->push_back(move);
  }
  return Status::success();
}

}  // namespace posix
}  // namespace platform
