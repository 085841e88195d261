#include "fuzz/scratch.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

Scratch::Scratch() {
  std::random_device random;
  fs::path base = fs::temp_directory_path();
  for (;;) {
    fs::path candidate = base / ("tvpat-fuzz-" + std::to_string(random()));
    // create_directory reports false for a name that is taken, so two
    // processes never share a directory.
    if (fs::create_directory(candidate)) {
      path = candidate.string();
      return;
    }
  }
}

Scratch::~Scratch() {
  std::error_code ignored;
  fs::remove_all(path, ignored);
}

std::string Scratch::file(const std::string& relative) const { return path + "/" + relative; }

void Scratch::clear() const {
  for (const fs::directory_entry& entry : fs::directory_iterator(path)) {
    fs::remove_all(entry.path());
  }
}

void Scratch::write(const std::string& relative, const std::string& content) const {
  fs::path target = file(relative);
  fs::create_directories(target.parent_path());
  std::ofstream stream(target, std::ios::binary | std::ios::trunc);
  stream.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string Scratch::readBytes(const std::string& filePath) {
  std::ifstream stream(filePath, std::ios::binary);
  std::ostringstream content;
  content << stream.rdbuf();
  return content.str();
}
