// A fresh temporary directory for one test, removed with everything in it
// when the object goes, also after a failed assertion.
#ifndef TESTS_SUPPORT_TEMP_DIR_H_
#define TESTS_SUPPORT_TEMP_DIR_H_

#include <optional>
#include <string>

class TempDir {
 public:
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

 private:
  std::string path;
};

#endif  // TESTS_SUPPORT_TEMP_DIR_H_
