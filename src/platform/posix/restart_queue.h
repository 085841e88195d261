// The queue file in which the POSIX stand-in keeps the renames and deletions
// registered for the next restart, PENDMOVE.TXT in the Windows directory:
// one registration a line, in call order, as "<flags>\t<source>\t<destination>"
// with an empty destination for a deletion. The stand-in of
// scheduleMoveAtRestart appends to it; tvprestart and the end-to-end tests
// read it through these functions.
#ifndef SRC_PLATFORM_POSIX_RESTART_QUEUE_H_
#define SRC_PLATFORM_POSIX_RESTART_QUEUE_H_

#include <string>
#include <vector>

#include "platform/status.h"

namespace platform {
namespace posix {

struct PendingMove {
  // The MoveFileExA flags as registered.
  unsigned long flags = 0;
  std::string source;
  // Empty for a deletion of source.
  std::string destination;
};

// The queue file's path in `windowsDirectory` (a Windows or Linux path).
std::string getRestartQueuePath(const std::string& windowsDirectory);

// The registrations waiting in the queue of `windowsDirectory`, in order. A
// missing queue is empty; a line that is not a registration fails with
// EINVAL and leaves `moves` empty.
Status readRestartQueue(const std::string& windowsDirectory, std::vector<PendingMove>* moves);

}  // namespace posix
}  // namespace platform

#endif  // SRC_PLATFORM_POSIX_RESTART_QUEUE_H_
