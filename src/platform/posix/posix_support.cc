#include "platform/posix/posix_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "base/fnv_hash.h"
#include "platform/short_name.h"

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

bool existsExactly(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

bool equalsIgnoringCase(const char* left, std::size_t leftSize, const std::string& right) {
  if (leftSize != right.size()) return false;
  for (std::size_t i = 0; i < leftSize; ++i) {
    if (upperNameCase(left[i]) != upperNameCase(right[i])) return false;
  }
  return true;
}

// The entry of `directory` that equals `name` without regard to case. When
// several do (possible on Linux only), the smallest byte-wise wins, so that
// the choice does not depend on the order the directory happens to give.
// Reads the entries in large blocks straight from the system and copies
// only a match: a look-up in a directory of thousands of files costs a few
// calls and no allocation per entry. kCannotScan when the directory cannot
// be opened.
constexpr int kCannotScan = -1;
constexpr int kNoMatch = 0;
constexpr int kMatched = 1;

int findIgnoringCase(const std::string& directory, const std::string& name, std::string* found) {
  int descriptor =
      open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return kCannotScan;
  alignas(struct dirent64) char block[32768];
  bool matched = false;
  for (;;) {
    ssize_t size = getdents64(descriptor, block, sizeof block);
    if (size <= 0) break;
    for (ssize_t offset = 0; offset < size;) {
      const struct dirent64* entry = reinterpret_cast<const struct dirent64*>(block + offset);
      offset += entry->d_reclen;
      std::size_t length = std::strlen(entry->d_name);
      if (!equalsIgnoringCase(entry->d_name, length, name)) continue;
      if (!matched || found->compare(0, std::string::npos, entry->d_name, length) > 0) {
        found->assign(entry->d_name, length);
      }
      matched = true;
    }
  }
  close(descriptor);
  return matched ? kMatched : kNoMatch;
}

// The names of the Linux directory, "." and ".." left out; false when it
// cannot be read.
bool readNames(const std::string& directory, std::vector<std::string>* names) {
  DIR* stream = opendir(directory.empty() ? "." : directory.c_str());
  if (stream == nullptr) return false;
  while (struct dirent* entry = readdir(stream)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      names->push_back(entry->d_name);
    }
  }
  closedir(stream);
  return true;
}

std::string upperName(const std::string& name) {
  std::string upper = name;
  for (char& c : upper) c = upperNameCase(c);
  return upper;
}

// The order in which Windows lists names: by their upper case, then as
// spelt, so that the order does not depend on what readdir gives.
bool listsBefore(const std::string& left, const std::string& right) {
  std::string a = upperName(left);
  std::string b = upperName(right);
  return a != b ? a < b : left < right;
}

// The stem of the stand-in's alias of a long name: the first two characters
// of its basis and four base-32 digits of a hash of the name in upper case.
bool getHashedStem(const std::string& name, std::string* stem, std::string* extension) {
  if (!getShortNameBasis(name, stem, extension)) return false;
  static const char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUV";
  FnvHash hash;
  for (char c : upperName(name)) hash.add(static_cast<unsigned char>(c));
  stem->resize(std::min<std::size_t>(stem->size(), 2));
  for (int shift = 15; shift >= 0; shift -= 5) *stem += kDigits[(hash.get() >> shift) & 31];
  return true;
}

// Finds the long name of the Linux directory whose alias is `alias`.
bool findByShortName(const std::string& directory, const std::string& alias, std::string* found) {
  // Only an 8.3 name whose stem ends in "~" and digits can be an alias; the
  // run's own temporary names ("~TVP0000.TMP", "TV0A1B2C.~KP") cost no scan.
  if (!isShortName(alias)) return false;
  const std::string stem = alias.substr(0, alias.find('.'));
  const std::size_t tilde = stem.rfind('~');
  if (tilde == std::string::npos || tilde == 0 || tilde + 1 == stem.size() ||
      stem.find_first_not_of("0123456789", tilde + 1) != std::string::npos) {
    return false;
  }
  std::vector<std::string> names;
  if (!readNames(directory, &names)) return false;
  std::vector<std::string> aliases = getShortNames(names);
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!aliases[i].empty() && equalsIgnoringNameCase(aliases[i], alias)) {
      *found = names[i];
      return true;
    }
  }
  return false;
}

// Where each component of a path starts and ends; "/" separates them, and
// empty components (from "//" or a leading or trailing "/") are left out.
struct Component {
  std::size_t start;
  std::size_t end;
};

std::vector<Component> splitComponents(const std::string& slashed) {
  std::vector<Component> components;
  std::size_t start = 0;
  while (start <= slashed.size()) {
    std::size_t end = slashed.find('/', start);
    if (end == std::string::npos) end = slashed.size();
    if (end > start) components.push_back({start, end});
    start = end + 1;
  }
  return components;
}

// The number of leading components of the path that exist as written. Every
// directory on the way to an existing name exists too, and nothing exists
// below a missing one, so a binary search finds the boundary with a few looks
// at prefixes instead of one look per level, each of which would make the
// system walk every level above it again.
std::size_t countExistingComponents(const std::string& slashed,
                                    const std::vector<Component>& components) {
  std::size_t existing = 0;
  std::size_t missing = components.size() + 1;
  while (existing + 1 < missing) {
    std::size_t middle = existing + (missing - existing) / 2;
    if (existsExactly(slashed.substr(0, components[middle - 1].end))) {
      existing = middle;
    } else {
      missing = middle;
    }
  }
  return existing;
}

}  // namespace

std::vector<std::string> getShortNames(const std::vector<std::string>& names) {
  std::vector<std::string> aliases(names.size());
  std::set<std::string> taken;
  std::vector<std::size_t> longNames;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (isShortName(names[i])) {
      taken.insert(upperName(names[i]));
    } else {
      longNames.push_back(i);
    }
  }
  std::sort(longNames.begin(), longNames.end(),
            [&names](std::size_t a, std::size_t b) { return listsBefore(names[a], names[b]); });
  for (std::size_t i : longNames) {
    std::string stem, extension;
    if (!getHashedStem(names[i], &stem, &extension)) continue;
    aliases[i] = numberShortName(stem, extension, taken);
    taken.insert(aliases[i]);
  }
  return aliases;
}

std::string getShortNameIn(const std::string& directory, const std::string& name) {
  std::vector<std::string> names;
  if (!readNames(directory, &names)) return std::string();
  std::vector<std::string> aliases = getShortNames(names);
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == name) return aliases[i];
  }
  return std::string();
}

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

std::string toSlashes(const std::string& path) {
  std::string slashed = path;
  for (char& c : slashed) {
    if (c == '\\') c = '/';
  }
  return slashed;
}

std::string resolvePath(const std::string& path) {
  std::string slashed = toSlashes(path);
  // Most paths exist as written; only a miss pays for the directory scans.
  if (slashed.empty() || existsExactly(slashed)) return slashed;
  // Next most often only the last name is missing or differs in case. Deep
  // trees make the full walk below costly: every look-up of a path of n
  // levels costs the system n steps again.
  std::size_t lastSlash = slashed.find_last_of('/');
  if (lastSlash != std::string::npos && lastSlash + 1 < slashed.size()) {
    std::string parent = slashed.substr(0, lastSlash + 1);
    std::string name = slashed.substr(lastSlash + 1);
    if (name != "." && name != "..") {
      // A directory that can be scanned exists; only one that cannot needs
      // the separate look.
      std::string found;
      int scan = findIgnoringCase(parent, name, &found);
      if (scan == kNoMatch && findByShortName(parent, name, &found)) scan = kMatched;
      if (scan != kCannotScan || existsExactly(parent)) {
        return parent + (scan == kMatched ? found : name);
      }
    }
  }

  // The full walk: every component after those that exist as written is
  // looked up in the directory resolved so far. Empty components drop out,
  // so "a//b" comes back as "a/b".
  std::vector<Component> components = splitComponents(slashed);
  std::size_t existing = countExistingComponents(slashed, components);
  std::string resolved = slashed[0] == '/' ? "/" : "";
  bool searching = true;
  for (std::size_t i = 0; i < components.size(); ++i) {
    std::string component =
        slashed.substr(components[i].start, components[i].end - components[i].start);
    if (i >= existing && searching && component != "." && component != "..") {
      // The first component past the boundary is known to be missing as
      // written; only the ones after a corrected name need a look.
      if (i == existing || !existsExactly(resolved + component)) {
        std::string found;
        if (findIgnoringCase(resolved, component, &found) == kMatched ||
            findByShortName(resolved, component, &found)) {
          component = found;
        } else {
          // Nothing below a missing component can exist.
          searching = false;
        }
      }
    }
    resolved += component;
    if (i + 1 < components.size()) resolved += '/';
  }
  if (!components.empty() && slashed.back() == '/') resolved += '/';
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
