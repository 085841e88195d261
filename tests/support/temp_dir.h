// A fresh temporary directory, removed with everything in it when the object
// goes, also after a failed assertion. A test keeps one per case; a fuzz
// target keeps one for the whole process and empties it between inputs.
#ifndef TESTS_SUPPORT_TEMP_DIR_H_
#define TESTS_SUPPORT_TEMP_DIR_H_

#include <optional>
#include <string>

class TempDir {
 public:
  // Makes the directory under the system's temporary directory (TMPDIR)
  // with a name no other process holds.
  TempDir();
  ~TempDir();

  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The directory's path, without a trailing separator.
  const std::string& getPath() const { return path; }
  // getPath() + "/" + relative.
  std::string file(const std::string& relative) const;

  // Writes content byte for byte, making missing directories.
  void write(const std::string& relative, const std::string& content) const;
  // The bytes of a file, or nullopt when it does not exist.
  std::optional<std::string> read(const std::string& relative) const;
  bool exists(const std::string& relative) const;

  // Removes everything inside the directory, keeping the directory.
  void clear() const;

 private:
  std::string path;
};

// The bytes of the file at filePath, or nullopt when it cannot be read.
std::optional<std::string> readBytes(const std::string& filePath);

#endif  // TESTS_SUPPORT_TEMP_DIR_H_
