#include "platform/native_calls.h"

#include "platform/system.h"

#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/posix/posix_support.h"

namespace platform {
namespace native {

namespace {

using testing::Call;

bool parseNumber(const std::string& text, unsigned long* number) {
  if (text.empty()) return false;
  int base = 10;
  std::size_t start = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    start = 2;
  }
  // strtoul would take a sign or leading blanks; GetVersion gives neither.
  for (std::size_t i = start; i < text.size(); ++i) {
    char c = text[i];
    bool digit = c >= '0' && c <= '9';
    bool hexLetter = (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!digit && !(base == 16 && hexLetter)) return false;
  }
  errno = 0;
  unsigned long long value = std::strtoull(text.c_str() + start, nullptr, base);
  if (errno != 0 || value > 0xFFFFFFFFull) return false;
  *number = static_cast<unsigned long>(value);
  return true;
}

}  // namespace

Status getWindowsDirectory(std::string* directory) {
  if (posix::faultHookInstalled) {
    const char* value = std::getenv("WINDIR");
    if (int fault = posix::consultFaultHook(Call::kGetWindowsDirectory, value ? value : "")) {
      return posix::failureFromErrno(fault);
    }
  }
  return posix::readWindowsDirectory(directory);
}

unsigned long getVersionNumber() {
  const char* value = std::getenv("TVPAT_WINVER");
  unsigned long number = 0;
  if (value == nullptr || !parseNumber(value, &number)) return 0x00000004ul;
  return number;
}

Status getProgramPath(std::string* path) {
  std::string buffer(256, '\0');
  for (;;) {
    ssize_t length = readlink("/proc/self/exe", &buffer[0], buffer.size());
    if (length < 0) return posix::failureFromErrno(errno);
    // readlink truncates silently; a result that fills the buffer may be cut.
    if (static_cast<std::size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(length));
      // The path helpers put a "\" after a directory that does not end in
      // one, so the "/" before the program's name would show as "/\" in the
      // name of every file beside it. With "\" there, those show as the files
      // of the Windows directory and the product root do: the directory as
      // Linux names it, then "\" and the name. The stand-ins take either.
      std::size_t slash = buffer.find_last_of('/');
      if (slash != std::string::npos) buffer[slash] = '\\';
      *path = buffer;
      return Status::success();
    }
    buffer.resize(buffer.size() * 2);
  }
}

unsigned long getProcessId() { return static_cast<unsigned long>(getpid()); }

bool getEnvironmentValue(const std::string& name, std::string* value) {
  const char* found = std::getenv(name.c_str());
  if (found == nullptr) return false;
  *value = found;
  return true;
}

Status startProcess(const std::string& program, const std::vector<std::string>& arguments) {
  if (posix::faultHookInstalled) {
    if (int fault = posix::consultFaultHook(Call::kStartProcess, program)) {
      return posix::failureFromErrno(fault);
    }
  }
  std::string resolved = posix::resolvePath(program);
  // Everything the child needs is built before fork: between fork and exec
  // only async-signal-safe calls are allowed.
  std::vector<std::string> copies = arguments;
  if (copies.empty()) copies.push_back(program);
  std::vector<char*> argv;
  for (std::string& argument : copies) argv.push_back(&argument[0]);
  argv.push_back(nullptr);

  // The exec error travels back through a pipe that closes by itself when
  // exec succeeds, so the caller learns of a program that cannot start.
  int channel[2];
  if (pipe2(channel, O_CLOEXEC) != 0) return posix::failureFromErrno(errno);
  pid_t middle = fork();
  if (middle < 0) {
    int error = errno;
    close(channel[0]);
    close(channel[1]);
    return posix::failureFromErrno(error);
  }
  if (middle == 0) {
    // The program runs in a grandchild that init adopts, so the caller is
    // never left with a child to reap, whether it waits or exits first.
    close(channel[0]);
    pid_t worker = fork();
    if (worker < 0) {
      int error = errno;
      ssize_t ignored = write(channel[1], &error, sizeof error);
      (void)ignored;
      _exit(1);
    }
    if (worker == 0) {
      execv(resolved.c_str(), argv.data());
      int error = errno;
      ssize_t ignored = write(channel[1], &error, sizeof error);
      (void)ignored;
      _exit(127);
    }
    _exit(0);
  }
  close(channel[1]);
  int status = 0;
  while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  ssize_t count;
  do {
    count = read(channel[0], &error, sizeof error);
  } while (count < 0 && errno == EINTR);
  close(channel[0]);
  if (count == static_cast<ssize_t>(sizeof error)) return posix::failureFromErrno(error);
  return Status::success();
}

}  // namespace native
}  // namespace platform
