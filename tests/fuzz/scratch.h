// A private directory for one fuzz process, under the system's temporary
// directory (TMPDIR), removed with everything in it when the object goes. The
// targets keep one in a function-local static, so it lives for the whole
// process and is emptied between inputs.
#ifndef TESTS_FUZZ_SCRATCH_H_
#define TESTS_FUZZ_SCRATCH_H_

#include <string>

class Scratch {
 public:
  Scratch();
  ~Scratch();

  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  // The directory's path, without a trailing separator.
  const std::string& getPath() const { return path; }
  // getPath() + "/" + relative.
  std::string file(const std::string& relative) const;

  // Removes everything inside the directory, keeping the directory.
  void clear() const;

  // Writes content byte for byte, making missing directories.
  void write(const std::string& relative, const std::string& content) const;

  // The bytes of a file, or "" when it cannot be read.
  static std::string readBytes(const std::string& filePath);

 private:
  std::string path;
};

#endif  // TESTS_FUZZ_SCRATCH_H_
