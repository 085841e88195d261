// WhatIfBackend is the backend of a dry run. It answers every read from the
// machine as the run's own earlier changes left it, and keeps every change
// to itself: files, directories, stamps, attributes, registry keys and
// values, steps put off to the restart, programs started. The machine below
// (the system's own backend, or any other) is only read: no call that this
// backend passes down changes anything there. A change that would fail on
// the machine (a file in use or read-only, a missing directory, a name that
// is taken) fails here the same way, with the same error number.
//
// The caller creates one for a dry run, puts it in force with setBackend,
// and asks it afterwards what the run changed. It must stay alive while it
// is in force; handles and keys it gave must not reach another backend.
#ifndef SRC_PLATFORM_WHAT_IF_BACKEND_H_
#define SRC_PLATFORM_WHAT_IF_BACKEND_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/backend.h"

namespace platform {

class WhatIfBackend : public Backend {
 public:
  // A step the run put off to the restart, as scheduleMoveAtRestart got it.
  struct RestartStep {
    std::string source;
    // Empty with isDeletion.
    std::string destination;
    bool isDeletion = false;
    unsigned long flags = 0;
    std::size_t tag = 0;
  };

  // A program the run started.
  struct StartedProgram {
    std::string program;
    std::vector<std::string> arguments;
    std::size_t tag = 0;
  };

  // A file or directory the run changed: its path as the run first named it,
  // and the tag in force at its last change.
  struct ChangedPath {
    std::string path;
    std::size_t tag = 0;
  };

  // A registry key, or one value of it, the run changed: the key's full
  // path ("HKEY_CURRENT_USER\Software\..."), the value's name (empty for
  // the default value) when isValue, and the tag of its last change.
  struct ChangedKey {
    std::string keyPath;
    bool isValue = false;
    std::string valueName;
    std::size_t tag = 0;
  };

  // machine is read through and must outlive this backend.
  explicit WhatIfBackend(Backend& machine);
  ~WhatIfBackend() override;

  // The tag that the changes made from now on carry: the profile line under
  // way, say.
  void setTag(std::size_t newTag) { tag = newTag; }

  // Everything the run changed, each in the order of its first change. A
  // path or key named here may have come back to what the machine holds
  // (a file made and removed again); the caller compares.
  const std::vector<ChangedPath>& getChangedPaths() const { return changedPaths; }
  const std::vector<ChangedKey>& getChangedKeys() const { return changedKeys; }
  const std::vector<RestartStep>& getRestartSteps() const { return restartSteps; }
  const std::vector<StartedProgram>& getStartedPrograms() const { return startedPrograms; }

  // Whether the file at path is one the run wrote and never stamped: it
  // bears the time it is written, which no dry run knows.
  bool isStampedWhenWritten(const std::string& path);

  Status openFileForReading(const std::string& path, FileHandle* file) override;
  Status createNewFile(const std::string& path, FileHandle* file) override;
  Status openFileForAppending(const std::string& path, FileHandle* file) override;
  Status readFile(FileHandle file, void* buffer, std::size_t capacity,
                  std::size_t* bytesRead) override;
  Status writeFile(FileHandle file, const void* data, std::size_t size,
                   std::size_t* bytesWritten) override;
  Status closeFile(FileHandle file) override;
  Status flushFile(FileHandle file) override;
  void startFlush(FileHandle file) override;
  Status getFileStamp(FileHandle file, DosStamp* stamp) override;
  Status setFileStamp(FileHandle file, DosStamp stamp) override;
  Status getFileInfo(const std::string& path, FileInfo* info) override;
  Status testPath(const std::string& path) override;
  Status testWritable(const std::string& path) override;
  Status renameFile(const std::string& from, const std::string& to) override;
  bool hasOneStepReplace() override { return machine.hasOneStepReplace(); }
  Status replaceFile(const std::string& from, const std::string& to) override;
  Status writeNewFileBeside(const std::string& path, const std::string& content,
                            NewFileBeside* made) override;
  void flushDirectoryOf(const std::string& path) override;
  Status deleteFile(const std::string& path) override;
  Status makeWritable(const std::string& path) override;
  Status makeDirectory(const std::string& path) override;
  Status removeDirectory(const std::string& path) override;
  Status listDirectory(const std::string& path, std::vector<DirectoryEntry>* entries) override;
  Status getShortPath(const std::string& path, std::string* shortPath) override;
  std::FILE* openStream(const std::string& path, const char* mode) override;
  Status lockFile(const std::string& path, FileHandle* file, bool* heldElsewhere) override;

  RegistryKey getRootKey(RegistryRoot root) override;
  Status openRegistryKey(RegistryKey parent, const char* subkey, RegistryAccess access,
                         RegistryKey* key) override;
  Status createRegistryKey(RegistryKey parent, const char* subkey, RegistryKey* key) override;
  Status queryRegistryDefaultValue(RegistryKey key, const char* subkey, std::size_t capacity,
                                   std::string* value) override;
  Status setRegistryString(RegistryKey key, const char* name, const std::string& value) override;
  Status deleteRegistryValue(RegistryKey key, const char* name) override;
  Status queryRegistryValue(RegistryKey key, const char* name, RegistryValue* value) override;
  Status enumerateRegistryValue(RegistryKey key, unsigned long index, std::string* name,
                                RegistryValue* value) override;
  Status setRegistryValue(RegistryKey key, const char* name, const RegistryValue& value) override;
  Status deleteRegistryKey(RegistryKey key, const char* subkey) override;
  Status countRegistrySubkeys(RegistryKey key, unsigned long* count) override;
  Status enumerateRegistrySubkey(RegistryKey key, unsigned long index, std::size_t capacity,
                                 std::string* name) override;
  Status closeRegistryKey(RegistryKey key) override;

  Status scheduleMoveAtRestart(const std::string& source, const char* destination,
                               unsigned long flags) override;
  Status startProcess(const std::string& program,
                      const std::vector<std::string>& arguments) override;

  // The facts of the system are the machine's.
  Status getWindowsDirectory(std::string* directory) override {
    return machine.getWindowsDirectory(directory);
  }
  unsigned long getVersionNumber() override { return machine.getVersionNumber(); }
  Status getProgramPath(std::string* path) override { return machine.getProgramPath(path); }
  unsigned long getProcessId() override { return machine.getProcessId(); }
  bool getEnvironmentValue(const std::string& name, std::string* value) override {
    return machine.getEnvironmentValue(name, value);
  }

 private:
  // The file overlay and the registry overlay keep their state in these;
  // each is defined in a header of its own.
  struct FileOverlay;
  struct RegistryOverlay;

  // Notes a change of the file or directory at path, whose folded form, the
  // same for every spelling of the name, is key.
  void noteChangedPath(const std::string& path, const std::string& key);
  // Notes a change of the key at keyPath (valueName null), or of its value
  // valueName.
  void noteChangedKey(const std::string& keyPath, const char* valueName);

  Backend& machine;
  std::size_t tag = 0;
  std::unique_ptr<FileOverlay> files;
  std::unique_ptr<RegistryOverlay> registry;
  std::vector<ChangedPath> changedPaths;
  std::vector<ChangedKey> changedKeys;
  std::vector<RestartStep> restartSteps;
  std::vector<StartedProgram> startedPrograms;
  // Folded path or key (with value) to its place in changedPaths or
  // changedKeys, so that a later change only updates the tag.
  std::map<std::string, std::size_t> changedPathIndex;
  std::map<std::string, std::size_t> changedKeyIndex;
};

}  // namespace platform

#endif  // SRC_PLATFORM_WHAT_IF_BACKEND_H_
