// The seam between the program and the system it runs on. Every function of
// files.h, registry.h, system.h, restart.h and file_lock.h that reaches the
// system forwards to the backend in force. By default that is the system's
// own backend, the calls of the Windows API on Win32 and the stand-ins on
// POSIX; the dry run puts a what-if backend in its place, which reads
// through to the system and keeps every change to itself.
//
// A Backend's methods are the system's own calls, with the contracts their
// free functions state. A backend that changes some of them derives from
// Backend and calls the base method for the rest, as a wrapper does. The
// whole-file reads and saves (files_common.cc) stay above the seam, built from
// these calls on every backend.
#ifndef SRC_PLATFORM_BACKEND_H_
#define SRC_PLATFORM_BACKEND_H_

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/registry.h"
#include "platform/status.h"

namespace platform {

class Backend {
 public:
  Backend() = default;
  virtual ~Backend();

  Backend(const Backend&) = delete;
  Backend& operator=(const Backend&) = delete;

  // files.h
  virtual Status openFileForReading(const std::string& path, FileHandle* file);
  virtual Status createNewFile(const std::string& path, FileHandle* file);
  virtual Status openFileForAppending(const std::string& path, FileHandle* file);
  virtual Status readFile(FileHandle file, void* buffer, std::size_t capacity,
                          std::size_t* bytesRead);
  virtual Status writeFile(FileHandle file, const void* data, std::size_t size,
                           std::size_t* bytesWritten);
  virtual Status closeFile(FileHandle file);
  virtual Status flushFile(FileHandle file);
  virtual void startFlush(FileHandle file);
  virtual Status getFileStamp(FileHandle file, DosStamp* stamp);
  virtual Status setFileStamp(FileHandle file, DosStamp stamp);
  virtual Status getFileInfo(const std::string& path, FileInfo* info);
  virtual Status testPath(const std::string& path);
  virtual Status testWritable(const std::string& path);
  virtual Status renameFile(const std::string& from, const std::string& to);
  virtual bool hasOneStepReplace();
  virtual Status replaceFile(const std::string& from, const std::string& to);
  virtual Status writeNewFileBeside(const std::string& path, const std::string& content,
                                    NewFileBeside* made);
  virtual void flushDirectoryOf(const std::string& path);
  virtual Status deleteFile(const std::string& path);
  virtual Status makeWritable(const std::string& path);
  virtual Status makeDirectory(const std::string& path);
  virtual Status removeDirectory(const std::string& path);
  virtual Status listDirectory(const std::string& path, std::vector<DirectoryEntry>* entries);
  virtual Status getShortPath(const std::string& path, std::string* shortPath);
  virtual std::FILE* openStream(const std::string& path, const char* mode);

  // file_lock.h
  virtual Status lockFile(const std::string& path, FileHandle* file, bool* heldElsewhere);

  // registry.h
  virtual RegistryKey getRootKey(RegistryRoot root);
  virtual Status openRegistryKey(RegistryKey parent, const char* subkey, RegistryAccess access,
                                 RegistryKey* key);
  virtual Status createRegistryKey(RegistryKey parent, const char* subkey, RegistryKey* key);
  virtual Status queryRegistryDefaultValue(RegistryKey key, const char* subkey,
                                           std::size_t capacity, std::string* value);
  virtual Status setRegistryString(RegistryKey key, const char* name, const std::string& value);
  virtual Status deleteRegistryValue(RegistryKey key, const char* name);
  virtual Status queryRegistryValue(RegistryKey key, const char* name, RegistryValue* value);
  virtual Status enumerateRegistryValue(RegistryKey key, unsigned long index, std::string* name,
                                        RegistryValue* value);
  virtual Status setRegistryValue(RegistryKey key, const char* name, const RegistryValue& value);
  virtual Status deleteRegistryKey(RegistryKey key, const char* subkey);
  virtual Status countRegistrySubkeys(RegistryKey key, unsigned long* count);
  virtual Status enumerateRegistrySubkey(RegistryKey key, unsigned long index, std::size_t capacity,
                                         std::string* name);
  virtual Status closeRegistryKey(RegistryKey key);

  // restart.h
  virtual Status scheduleMoveAtRestart(const std::string& source, const char* destination,
                                       unsigned long flags);

  // system.h
  virtual Status getWindowsDirectory(std::string* directory);
  virtual unsigned long getVersionNumber();
  virtual Status getProgramPath(std::string* path);
  virtual unsigned long getProcessId();
  virtual bool getEnvironmentValue(const std::string& name, std::string* value);
  virtual Status startProcess(const std::string& program,
                              const std::vector<std::string>& arguments);
};

// The system's own backend, which lives as long as the process.
Backend& getSystemBackend();

// The backend in force: the system's own unless setBackend chose another.
Backend& getBackend();

// Puts backend in force for every later call; null puts the system's own
// back. The caller keeps backend alive while it is in force. Handles and
// keys opened under one backend are closed under the same one.
void setBackend(Backend* backend);

}  // namespace platform

#endif  // SRC_PLATFORM_BACKEND_H_
