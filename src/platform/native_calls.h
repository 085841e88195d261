// The system's own calls, behind the backend seam: the Win32 API on Win32,
// the stand-ins on POSIX. Only the system's backend (backend.cc) and the
// implementations themselves use these names; everything else calls the
// free functions of files.h, registry.h, system.h, restart.h and
// file_lock.h, which reach the backend in force. The contracts are theirs.
#ifndef SRC_PLATFORM_NATIVE_CALLS_H_
#define SRC_PLATFORM_NATIVE_CALLS_H_

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/registry.h"
#include "platform/status.h"

namespace platform {
namespace native {

Status openFileForReading(const std::string& path, FileHandle* file);
Status createNewFile(const std::string& path, FileHandle* file);
Status openFileForAppending(const std::string& path, FileHandle* file);
Status readFile(FileHandle file, void* buffer, std::size_t capacity, std::size_t* bytesRead);
Status writeFile(FileHandle file, const void* data, std::size_t size, std::size_t* bytesWritten);
Status closeFile(FileHandle file);
Status flushFile(FileHandle file);
void startFlush(FileHandle file);
Status getFileStamp(FileHandle file, DosStamp* stamp);
Status setFileStamp(FileHandle file, DosStamp stamp);
Status getFileInfo(const std::string& path, FileInfo* info);
Status testPath(const std::string& path);
Status testWritable(const std::string& path);
Status renameFile(const std::string& from, const std::string& to);
bool hasOneStepReplace();
Status replaceFile(const std::string& from, const std::string& to);
Status writeNewFileBeside(const std::string& path, const std::string& content, NewFileBeside* made);
void flushDirectoryOf(const std::string& path);
Status deleteFile(const std::string& path);
Status makeWritable(const std::string& path);
Status makeDirectory(const std::string& path);
Status removeDirectory(const std::string& path);
Status listDirectory(const std::string& path, std::vector<DirectoryEntry>* entries);
Status getShortPath(const std::string& path, std::string* shortPath);
std::FILE* openStream(const std::string& path, const char* mode);
Status lockFile(const std::string& path, FileHandle* file, bool* heldElsewhere);
RegistryKey getRootKey(RegistryRoot root);
Status openRegistryKey(RegistryKey parent, const char* subkey, RegistryAccess access,
                       RegistryKey* key);
Status createRegistryKey(RegistryKey parent, const char* subkey, RegistryKey* key);
Status queryRegistryDefaultValue(RegistryKey key, const char* subkey, std::size_t capacity,
                                 std::string* value);
Status setRegistryString(RegistryKey key, const char* name, const std::string& value);
Status deleteRegistryValue(RegistryKey key, const char* name);
Status queryRegistryValue(RegistryKey key, const char* name, RegistryValue* value);
Status enumerateRegistryValue(RegistryKey key, unsigned long index, std::string* name,
                              RegistryValue* value);
Status setRegistryValue(RegistryKey key, const char* name, const RegistryValue& value);
Status deleteRegistryKey(RegistryKey key, const char* subkey);
Status countRegistrySubkeys(RegistryKey key, unsigned long* count);
Status enumerateRegistrySubkey(RegistryKey key, unsigned long index, std::size_t capacity,
                               std::string* name);
Status closeRegistryKey(RegistryKey key);
Status scheduleMoveAtRestart(const std::string& source, const char* destination,
                             unsigned long flags);
Status getWindowsDirectory(std::string* directory);
unsigned long getVersionNumber();
Status getProgramPath(std::string* path);
unsigned long getProcessId();
bool getEnvironmentValue(const std::string& name, std::string* value);
Status startProcess(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace native
}  // namespace platform

#endif  // SRC_PLATFORM_NATIVE_CALLS_H_
