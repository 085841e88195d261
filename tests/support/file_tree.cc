#include "support/file_tree.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "support/temp_dir.h"

namespace fs = std::filesystem;

FileTree readTree(const std::string& root) {
  FileTree tree;
  std::error_code error;
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
       it.increment(error)) {
    std::string relative = fs::relative(it->path(), root).generic_string();
    if (it->is_directory()) {
      tree[relative] = std::nullopt;
      continue;
    }
    std::optional<std::string> content = readBytes(it->path().string());
    if (!content) throw std::runtime_error("cannot read " + it->path().string());
    tree[relative] = std::move(content);
  }
  if (error && error != std::errc::no_such_file_or_directory) {
    throw std::runtime_error("cannot list " + root + ": " + error.message());
  }
  return tree;
}

void copyTree(const std::string& from, const std::string& to) {
  fs::create_directories(to);
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(from)) {
    fs::path target = fs::path(to) / fs::relative(entry.path(), from);
    if (entry.is_directory()) {
      fs::create_directories(target);
    } else {
      fs::copy_file(entry.path(), target, fs::copy_options::overwrite_existing);
      // The installer decides by time stamps, and a plain copy takes the
      // current time.
      fs::last_write_time(target, fs::last_write_time(entry.path()));
    }
  }
}
