// Error is the installer's one exception type: a failure it cannot work
// around, such as memory that cannot be had or a file that cannot be opened,
// read, written, stamped, moved or erased. It is raised by value and caught
// by reference in two places only: per entry in section processing, and once
// in the run driver, which prints the four-line report and ends the run. The
// engine's early end of a run travels the same way (kErrorRunEnded).
#ifndef SRC_BASE_ERROR_H_
#define SRC_BASE_ERROR_H_

#include <memory>
#include <new>
#include <string>
#include <utility>

#include "platform/memory.h"

// Error numbers, as the report prints them.
enum ErrorNumber : int {
  // No failure: the engine ended the run early, after printing why. The
  // driver ends it with exit code 1 and no report.
  kErrorRunEnded = 0,
  kErrorNoMemory = 1,
  kErrorSourceOpen = 20,
  kErrorCreate = 21,
  kErrorWrite = 23,
  kErrorSourceRead = 24,
  kErrorErase = 25,
  kErrorMove = 26,
  kErrorStampSet = 27,
  kErrorStampRead = 28,
  kErrorRestartRefused = 29,
};

// Source modules, as the report names them.
constexpr const char* kModuleDriver = "tvpat32";
constexpr const char* kModuleEngine = "tvpdf";
constexpr const char* kModuleProfile = "tvpprof";
constexpr const char* kModuleFileOps = "tvpfile";

class Error {
 public:
  // An allocation failure: `size` bytes could not be had.
  Error(int number, unsigned long bytes, const char* module, int line);
  // A file failure: `message` is the path of the file concerned.
  Error(int number, const std::string& message, const char* module, int line);

  int getErrorNumber() const { return errorNumber; }
  unsigned long getSize() const { return size; }
  const std::string& getErrorMessage() const { return errorMessage; }
  const std::string& getSourceFile() const { return sourceFile; }
  int getSourceLine() const { return sourceLine; }

 private:
  int errorNumber;
  unsigned long size;
  std::string errorMessage;
  std::string sourceFile;
  int sourceLine;
};

// Creates one of the run's objects; when memory cannot be had, raises Error 1
// with the size of the object, naming `module` and `line` as the place. On
// the Linux build a test may refuse the allocation (platform/memory.h).
template <class T, class... Args>
std::unique_ptr<T> makeObject(const char* module, int line, Args&&... args) {
  try {
    if (platform::isAllocationRefused(module, static_cast<unsigned long>(sizeof(T)))) {
      throw std::bad_alloc();
    }
    return std::make_unique<T>(std::forward<Args>(args)...);
  } catch (const std::bad_alloc&) {
    throw Error(kErrorNoMemory, static_cast<unsigned long>(sizeof(T)), module, line);
  }
}

#endif  // SRC_BASE_ERROR_H_
