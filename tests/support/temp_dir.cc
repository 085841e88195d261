#include "support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

TempDir::TempDir() {
  // mkdtemp picks a name no other process holds, so fuzz processes running
  // side by side never share a directory. The name is an 8.3 name: Wine
  // gives a long one an alias made from a hash, which other directories of
  // a crowded TMPDIR may share, and then finds another directory by it.
  std::string pattern = (fs::temp_directory_path() / "tvXXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path, ignored);
}

std::string TempDir::file(const std::string& relative) const { return path + "/" + relative; }

void TempDir::write(const std::string& relative, const std::string& content) const {
  fs::path target = file(relative);
  fs::create_directories(target.parent_path());
  std::ofstream stream(target, std::ios::binary | std::ios::trunc);
  stream.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!stream.flush()) throw std::runtime_error("cannot write " + target.string());
}

std::optional<std::string> TempDir::read(const std::string& relative) const {
  return readBytes(file(relative));
}

bool TempDir::exists(const std::string& relative) const {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(file(relative), ignored));
}

void TempDir::clear() const {
  for (const fs::directory_entry& entry : fs::directory_iterator(path)) {
    fs::remove_all(entry.path());
  }
}

std::optional<std::string> readBytes(const std::string& filePath) {
  std::ifstream stream(filePath, std::ios::binary);
  if (!stream) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}
