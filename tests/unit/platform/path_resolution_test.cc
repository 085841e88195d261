#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/ascii_text.h"
#include "platform/posix/posix_support.h"
#include "support/temp_dir.h"

namespace {

using platform::posix::resolvePath;

// Scans the directory for name without regard to case; of several matches
// the smallest byte-wise goes to *found.
bool findIgnoringCase(const std::string& directory, const std::string& name, std::string* found) {
  bool matched = false;
  if (DIR* stream = opendir(directory.c_str())) {
    while (struct dirent* entry = readdir(stream)) {
      std::string candidate = entry->d_name;
      if (!equalsNoCase(candidate, name)) continue;
      if (!matched || candidate < *found) *found = candidate;
      matched = true;
    }
    closedir(stream);
  }
  return matched;
}

// The resolution as a plain walk from the first level, one look per level
// and one directory scan per level that is missing as written: the behaviour
// the faster resolvePath must keep, result for result.
std::string walkEveryLevel(const std::string& path) {
  std::string slashed = path;
  for (char& c : slashed) {
    if (c == '\\') c = '/';
  }
  struct stat info;
  if (slashed.empty() || lstat(slashed.c_str(), &info) == 0) return slashed;
  std::size_t lastSlash = slashed.find_last_of('/');
  if (lastSlash != std::string::npos && lastSlash + 1 < slashed.size()) {
    std::string parent = slashed.substr(0, lastSlash + 1);
    std::string name = slashed.substr(lastSlash + 1);
    if (name != "." && name != ".." && lstat(parent.c_str(), &info) == 0) {
      std::string found;
      return parent + (findIgnoringCase(parent, name, &found) ? found : name);
    }
  }
  std::string resolved = slashed[0] == '/' ? "/" : "";
  std::size_t start = slashed[0] == '/' ? 1 : 0;
  bool searching = true;
  while (start <= slashed.size()) {
    std::size_t end = slashed.find('/', start);
    if (end == std::string::npos) end = slashed.size();
    std::string component = slashed.substr(start, end - start);
    if (!component.empty()) {
      if (searching && component != "." && component != ".." &&
          lstat((resolved + component).c_str(), &info) != 0) {
        std::string found;
        if (findIgnoringCase(resolved.empty() ? "." : resolved, component, &found)) {
          component = found;
        } else {
          searching = false;
        }
      }
      resolved += component;
    }
    if (end != slashed.size() && resolved.back() != '/') resolved += '/';
    start = end + 1;
  }
  return resolved;
}

class PathResolution : public ::testing::Test {
 protected:
  PathResolution() {
    dir.write("Alpha/Beta/gamma.txt", "g");
    dir.write("Alpha/Beta/Deep/Er/file", "f");
    dir.write("Alpha/beta2/x", "x");
    dir.write("Alpha/plain.txt", "p");
    dir.write("Dup/a", "a");
    dir.write("DUP/b", "b");
    // Names in the program's code page: e acute, s caron and y diaeresis,
    // and the division sign, which is no letter.
    dir.write("Alpha/caf\xE9/\x9Ala\xFF", "s");
    dir.write("Alpha/a\xF7", "d");
    EXPECT_EQ(symlink("Beta", dir.file("Alpha/toBeta").c_str()), 0);
    EXPECT_EQ(symlink(".", dir.file("Alpha/Loop").c_str()), 0);
  }

  TempDir dir;
};

TEST_F(PathResolution, FindsEachLevelWithoutRegardToCase) {
  const std::string root = dir.getPath() + "/";
  struct Case {
    const char* given;
    const char* expected;
  };
  const Case cases[] = {
      {"Alpha/Beta/gamma.txt", "Alpha/Beta/gamma.txt"},
      {"alpha\\BETA\\GAMMA.TXT", "Alpha/Beta/gamma.txt"},
      {"ALPHA/BETA/DEEP/ER/FILE", "Alpha/Beta/Deep/Er/file"},
      // A name about to be made keeps its case, and so does all below it.
      {"alpha/beta/New/DEEP", "Alpha/Beta/New/DEEP"},
      {"alpha/beta/NEW.TXT", "Alpha/Beta/NEW.TXT"},
      {"alpha//beta/./gamma.TXT", "Alpha/Beta/./gamma.txt"},
      {"alpha/BETA/../BETA2/", "Alpha/Beta/../beta2/"},
      {"alpha/PLAIN.TXT/below", "Alpha/plain.txt/below"},
      {"alpha/TOBETA/GAMMA.TXT", "Alpha/toBeta/gamma.txt"},
      {"alpha/loop/LOOP/beta/Gamma.txt", "Alpha/Loop/Loop/Beta/gamma.txt"},
      // Two names that differ only in case: the smaller byte-wise wins.
      {"dup/X", "DUP/X"},
      // Letters of the code page fold as Windows folds them; others do not.
      {"ALPHA/CAF\xC9/\x8Ala\x9F", "Alpha/caf\xE9/\x9Ala\xFF"},
      {"alpha/A\xD7", "Alpha/A\xD7"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(resolvePath(root + c.given), root + c.expected) << c.given;
  }
}

// Paths drawn from the names of the tree in mixed case, with empty, "." and
// ".." levels, both separators and trailing separators, resolve exactly as a
// walk over every level does.
TEST_F(PathResolution, AgreesWithAWalkOverEveryLevel) {
  const char* const names[] = {"alpha",     "ALPHA",     "Alpha", "beta",   "BETA",
                               "Beta2",     "gamma.TXT", "deep",  "ER",     "FILE",
                               "plain.txt", "dup",       "A",     "b",      "missing",
                               ".",         "..",        "",      "tobeta", "LOOP"};
  const std::size_t nameCount = sizeof names / sizeof names[0];
  std::uint64_t state = 20261207;
  auto next = [&state](std::size_t bound) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    return static_cast<std::size_t>((state >> 33) % bound);
  };
  for (int round = 0; round < 3000; ++round) {
    std::string path = dir.getPath();
    std::size_t levels = 1 + next(7);
    for (std::size_t level = 0; level < levels; ++level) {
      path += next(4) == 0 ? '\\' : '/';
      path += names[next(nameCount)];
    }
    if (next(5) == 0) path += '/';
    ASSERT_EQ(resolvePath(path), walkEveryLevel(path)) << path;
  }
}

}  // namespace
