#include "platform/posix/posix_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <utility>

namespace platform {
namespace posix {

namespace {

testing::FaultHook& faultHook() {
  static testing::FaultHook hook;
  return hook;
}

std::map<int, std::string>& handlePaths() {
  static std::map<int, std::string> paths;
  return paths;
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool existsExactly(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

// The entry of `directory` that equals `name` without regard to case. When
// several do (possible on Linux only), the smallest byte-wise wins, so that
// the choice does not depend on the order readdir happens to give.
bool findIgnoringCase(const std::string& directory, const std::string& name, std::string* found) {
  DIR* stream = opendir(directory.empty() ? "." : directory.c_str());
  if (stream == nullptr) return false;
  bool matched = false;
  while (struct dirent* entry = readdir(stream)) {
    std::string candidate = entry->d_name;
    if (!equalsIgnoringCase(candidate, name)) continue;
    if (!matched || candidate < *found) *found = candidate;
    matched = true;
  }
  closedir(stream);
  return matched;
}

}  // namespace

bool faultHookInstalled = false;

int consultFaultHook(testing::Call call, const std::string& path) {
  const testing::FaultHook& hook = faultHook();
  return hook ? hook(call, path) : 0;
}

Status failureFromErrno(int error) {
  return Status::failure(static_cast<unsigned long>(error), error == ENOENT || error == ENOTDIR);
}

void rememberHandlePath(int descriptor, const std::string& path) {
  handlePaths()[descriptor] = path;
}

void forgetHandlePath(int descriptor) { handlePaths().erase(descriptor); }

std::string getHandlePath(int descriptor) {
  auto found = handlePaths().find(descriptor);
  return found == handlePaths().end() ? std::string() : found->second;
}

Status readWindowsDirectory(std::string* directory) {
  const char* value = std::getenv("WINDIR");
  if (value == nullptr || *value == '\0') return failureFromErrno(ENOENT);
  *directory = value;
  return Status::success();
}

Status syncParentDirectory(const std::string& linuxPath) {
  std::size_t slash = linuxPath.find_last_of('/');
  std::string directory = slash == std::string::npos ? std::string(".")
                          : slash == 0               ? std::string("/")
                                                     : linuxPath.substr(0, slash);
  int descriptor = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return failureFromErrno(errno);
  int error = fsync(descriptor) == 0 ? 0 : errno;
  close(descriptor);
  if (error != 0) return failureFromErrno(error);
  return Status::success();
}

bool equalsIgnoringCase(const std::string& left, const std::string& right) {
  if (left.size() != right.size()) return false;
  for (std::size_t i = 0; i < left.size(); ++i) {
    if (lowerAscii(left[i]) != lowerAscii(right[i])) return false;
  }
  return true;
}

std::string resolvePath(const std::string& path) {
  std::string slashed = path;
  for (char& c : slashed) {
    if (c == '\\') c = '/';
  }
  // Most paths exist as written; only a miss pays for the directory scans.
  if (slashed.empty() || existsExactly(slashed)) return slashed;
  // Next most often only the last name is missing or differs in case. Deep
  // trees make the full walk below costly: every look-up of a path of n
  // levels costs the system n steps again.
  std::size_t lastSlash = slashed.find_last_of('/');
  if (lastSlash != std::string::npos && lastSlash + 1 < slashed.size()) {
    std::string parent = slashed.substr(0, lastSlash + 1);
    std::string name = slashed.substr(lastSlash + 1);
    if (name != "." && name != ".." && existsExactly(parent)) {
      std::string found;
      return parent + (findIgnoringCase(parent, name, &found) ? found : name);
    }
  }

  std::string resolved;
  std::size_t start = 0;
  if (slashed[0] == '/') {
    resolved = "/";
    start = 1;
  }
  bool searching = true;
  while (start <= slashed.size()) {
    std::size_t end = slashed.find('/', start);
    if (end == std::string::npos) end = slashed.size();
    std::string component = slashed.substr(start, end - start);
    bool atEnd = end == slashed.size();
    if (!component.empty()) {
      if (searching && component != "." && component != "..") {
        std::string candidate = resolved + component;
        std::string found;
        if (!existsExactly(candidate)) {
          if (findIgnoringCase(resolved, component, &found)) {
            component = found;
          } else {
            // Nothing below a missing component can exist.
            searching = false;
          }
        }
      }
      resolved += component;
    }
    if (!atEnd) {
      if (resolved.empty() || resolved.back() != '/') resolved += '/';
    }
    start = end + 1;
  }
  return resolved;
}

}  // namespace posix

namespace testing {

void setFaultHook(FaultHook hook) {
  posix::faultHookInstalled = static_cast<bool>(hook);
  posix::faultHook() = std::move(hook);
}

}  // namespace testing
}  // namespace platform
