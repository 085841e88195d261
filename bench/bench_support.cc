#include "bench_support.h"

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace {

class ScratchDirectory {
 public:
  ScratchDirectory() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tvpat-bench.XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) throw std::runtime_error("cannot make " + pattern);
    path = pattern;
    setenv("WINDIR", path.c_str(), 1);
    unsetenv("TVPAT_REGISTRY");
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }

  std::string path;
};

}  // namespace

const std::string& benchDirectory() {
  static ScratchDirectory directory;
  return directory.path;
}

void writeBenchFile(const std::string& name, const std::string& content) {
  std::ofstream out(benchDirectory() + "/" + name, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + name);
}
