#include "platform/backend.h"

#include "platform/file_lock.h"
#include "platform/native_calls.h"
#include "platform/restart.h"
#include "platform/system.h"

namespace platform {

namespace {

Backend* backendInForce = nullptr;

}  // namespace

Backend::~Backend() = default;

Backend& getSystemBackend() {
  static Backend system;
  return system;
}

Backend& getBackend() { return backendInForce != nullptr ? *backendInForce : getSystemBackend(); }

void setBackend(Backend* backend) { backendInForce = backend; }

// The system's own backend: every call goes to the system.

Status Backend::openFileForReading(const std::string& path, FileHandle* file) {
  return native::openFileForReading(path, file);
}
Status Backend::createNewFile(const std::string& path, FileHandle* file) {
  return native::createNewFile(path, file);
}
Status Backend::openFileForAppending(const std::string& path, FileHandle* file) {
  return native::openFileForAppending(path, file);
}
Status Backend::readFile(FileHandle file, void* buffer, std::size_t capacity,
                         std::size_t* bytesRead) {
  return native::readFile(file, buffer, capacity, bytesRead);
}
Status Backend::writeFile(FileHandle file, const void* data, std::size_t size,
                          std::size_t* bytesWritten) {
  return native::writeFile(file, data, size, bytesWritten);
}
Status Backend::closeFile(FileHandle file) { return native::closeFile(file); }
Status Backend::flushFile(FileHandle file) { return native::flushFile(file); }
void Backend::startFlush(FileHandle file) { native::startFlush(file); }
Status Backend::getFileStamp(FileHandle file, DosStamp* stamp) {
  return native::getFileStamp(file, stamp);
}
Status Backend::setFileStamp(FileHandle file, DosStamp stamp) {
  return native::setFileStamp(file, stamp);
}
Status Backend::getFileInfo(const std::string& path, FileInfo* info) {
  return native::getFileInfo(path, info);
}
Status Backend::testPath(const std::string& path) { return native::testPath(path); }
Status Backend::testWritable(const std::string& path) { return native::testWritable(path); }
Status Backend::renameFile(const std::string& from, const std::string& to) {
  return native::renameFile(from, to);
}
bool Backend::hasOneStepReplace() { return native::hasOneStepReplace(); }
Status Backend::replaceFile(const std::string& from, const std::string& to) {
  return native::replaceFile(from, to);
}
Status Backend::writeNewFileBeside(const std::string& path, const std::string& content,
                                   NewFileBeside* made) {
  return native::writeNewFileBeside(path, content, made);
}
void Backend::flushDirectoryOf(const std::string& path) { native::flushDirectoryOf(path); }
Status Backend::deleteFile(const std::string& path) { return native::deleteFile(path); }
Status Backend::makeWritable(const std::string& path) { return native::makeWritable(path); }
Status Backend::makeDirectory(const std::string& path) { return native::makeDirectory(path); }
Status Backend::removeDirectory(const std::string& path) { return native::removeDirectory(path); }
Status Backend::listDirectory(const std::string& path, std::vector<DirectoryEntry>* entries) {
  return native::listDirectory(path, entries);
}
Status Backend::getShortPath(const std::string& path, std::string* shortPath) {
  return native::getShortPath(path, shortPath);
}
std::FILE* Backend::openStream(const std::string& path, const char* mode) {
  return native::openStream(path, mode);
}
Status Backend::lockFile(const std::string& path, FileHandle* file, bool* heldElsewhere) {
  return native::lockFile(path, file, heldElsewhere);
}
RegistryKey Backend::getRootKey(RegistryRoot root) { return native::getRootKey(root); }
Status Backend::openRegistryKey(RegistryKey parent, const char* subkey, RegistryAccess access,
                                RegistryKey* key) {
  return native::openRegistryKey(parent, subkey, access, key);
}
Status Backend::createRegistryKey(RegistryKey parent, const char* subkey, RegistryKey* key) {
  return native::createRegistryKey(parent, subkey, key);
}
Status Backend::queryRegistryDefaultValue(RegistryKey key, const char* subkey, std::size_t capacity,
                                          std::string* value) {
  return native::queryRegistryDefaultValue(key, subkey, capacity, value);
}
Status Backend::setRegistryString(RegistryKey key, const char* name, const std::string& value) {
  return native::setRegistryString(key, name, value);
}
Status Backend::deleteRegistryValue(RegistryKey key, const char* name) {
  return native::deleteRegistryValue(key, name);
}
Status Backend::queryRegistryValue(RegistryKey key, const char* name, RegistryValue* value) {
  return native::queryRegistryValue(key, name, value);
}
Status Backend::enumerateRegistryValue(RegistryKey key, unsigned long index, std::string* name,
                                       RegistryValue* value) {
  return native::enumerateRegistryValue(key, index, name, value);
}
Status Backend::setRegistryValue(RegistryKey key, const char* name, const RegistryValue& value) {
  return native::setRegistryValue(key, name, value);
}
Status Backend::deleteRegistryKey(RegistryKey key, const char* subkey) {
  return native::deleteRegistryKey(key, subkey);
}
Status Backend::countRegistrySubkeys(RegistryKey key, unsigned long* count) {
  return native::countRegistrySubkeys(key, count);
}
Status Backend::enumerateRegistrySubkey(RegistryKey key, unsigned long index, std::size_t capacity,
                                        std::string* name) {
  return native::enumerateRegistrySubkey(key, index, capacity, name);
}
Status Backend::closeRegistryKey(RegistryKey key) { return native::closeRegistryKey(key); }
Status Backend::scheduleMoveAtRestart(const std::string& source, const char* destination,
                                      unsigned long flags) {
  return native::scheduleMoveAtRestart(source, destination, flags);
}
Status Backend::getWindowsDirectory(std::string* directory) {
  return native::getWindowsDirectory(directory);
}
unsigned long Backend::getVersionNumber() { return native::getVersionNumber(); }
Status Backend::getProgramPath(std::string* path) { return native::getProgramPath(path); }
unsigned long Backend::getProcessId() { return native::getProcessId(); }
bool Backend::getEnvironmentValue(const std::string& name, std::string* value) {
  return native::getEnvironmentValue(name, value);
}
Status Backend::startProcess(const std::string& program,
                             const std::vector<std::string>& arguments) {
  return native::startProcess(program, arguments);
}

// The free functions reach the backend in force.

Status openFileForReading(const std::string& path, FileHandle* file) {
  return getBackend().openFileForReading(path, file);
}
Status createNewFile(const std::string& path, FileHandle* file) {
  return getBackend().createNewFile(path, file);
}
Status openFileForAppending(const std::string& path, FileHandle* file) {
  return getBackend().openFileForAppending(path, file);
}
Status readFile(FileHandle file, void* buffer, std::size_t capacity, std::size_t* bytesRead) {
  return getBackend().readFile(file, buffer, capacity, bytesRead);
}
Status writeFile(FileHandle file, const void* data, std::size_t size, std::size_t* bytesWritten) {
  return getBackend().writeFile(file, data, size, bytesWritten);
}
Status closeFile(FileHandle file) { return getBackend().closeFile(file); }
Status flushFile(FileHandle file) { return getBackend().flushFile(file); }
void startFlush(FileHandle file) { getBackend().startFlush(file); }
Status getFileStamp(FileHandle file, DosStamp* stamp) {
  return getBackend().getFileStamp(file, stamp);
}
Status setFileStamp(FileHandle file, DosStamp stamp) {
  return getBackend().setFileStamp(file, stamp);
}
Status getFileInfo(const std::string& path, FileInfo* info) {
  return getBackend().getFileInfo(path, info);
}
Status testPath(const std::string& path) { return getBackend().testPath(path); }
Status testWritable(const std::string& path) { return getBackend().testWritable(path); }
Status renameFile(const std::string& from, const std::string& to) {
  return getBackend().renameFile(from, to);
}
bool hasOneStepReplace() { return getBackend().hasOneStepReplace(); }
Status replaceFile(const std::string& from, const std::string& to) {
  return getBackend().replaceFile(from, to);
}
Status writeNewFileBeside(const std::string& path, const std::string& content,
                          NewFileBeside* made) {
  return getBackend().writeNewFileBeside(path, content, made);
}
void flushDirectoryOf(const std::string& path) { getBackend().flushDirectoryOf(path); }
Status deleteFile(const std::string& path) { return getBackend().deleteFile(path); }
Status makeWritable(const std::string& path) { return getBackend().makeWritable(path); }
Status makeDirectory(const std::string& path) { return getBackend().makeDirectory(path); }
Status removeDirectory(const std::string& path) { return getBackend().removeDirectory(path); }
Status listDirectory(const std::string& path, std::vector<DirectoryEntry>* entries) {
  return getBackend().listDirectory(path, entries);
}
Status getShortPath(const std::string& path, std::string* shortPath) {
  return getBackend().getShortPath(path, shortPath);
}
std::FILE* openStream(const std::string& path, const char* mode) {
  return getBackend().openStream(path, mode);
}
Status lockFile(const std::string& path, FileHandle* file, bool* heldElsewhere) {
  return getBackend().lockFile(path, file, heldElsewhere);
}
RegistryKey getRootKey(RegistryRoot root) { return getBackend().getRootKey(root); }
Status openRegistryKey(RegistryKey parent, const char* subkey, RegistryAccess access,
                       RegistryKey* key) {
  return getBackend().openRegistryKey(parent, subkey, access, key);
}
Status createRegistryKey(RegistryKey parent, const char* subkey, RegistryKey* key) {
  return getBackend().createRegistryKey(parent, subkey, key);
}
Status queryRegistryDefaultValue(RegistryKey key, const char* subkey, std::size_t capacity,
                                 std::string* value) {
  return getBackend().queryRegistryDefaultValue(key, subkey, capacity, value);
}
Status setRegistryString(RegistryKey key, const char* name, const std::string& value) {
  return getBackend().setRegistryString(key, name, value);
}
Status deleteRegistryValue(RegistryKey key, const char* name) {
  return getBackend().deleteRegistryValue(key, name);
}
Status queryRegistryValue(RegistryKey key, const char* name, RegistryValue* value) {
  return getBackend().queryRegistryValue(key, name, value);
}
Status enumerateRegistryValue(RegistryKey key, unsigned long index, std::string* name,
                              RegistryValue* value) {
  return getBackend().enumerateRegistryValue(key, index, name, value);
}
Status setRegistryValue(RegistryKey key, const char* name, const RegistryValue& value) {
  return getBackend().setRegistryValue(key, name, value);
}
Status deleteRegistryKey(RegistryKey key, const char* subkey) {
  return getBackend().deleteRegistryKey(key, subkey);
}
Status countRegistrySubkeys(RegistryKey key, unsigned long* count) {
  return getBackend().countRegistrySubkeys(key, count);
}
Status enumerateRegistrySubkey(RegistryKey key, unsigned long index, std::size_t capacity,
                               std::string* name) {
  return getBackend().enumerateRegistrySubkey(key, index, capacity, name);
}
Status closeRegistryKey(RegistryKey key) { return getBackend().closeRegistryKey(key); }
Status scheduleMoveAtRestart(const std::string& source, const char* destination,
                             unsigned long flags) {
  return getBackend().scheduleMoveAtRestart(source, destination, flags);
}
Status getWindowsDirectory(std::string* directory) {
  return getBackend().getWindowsDirectory(directory);
}
unsigned long getVersionNumber() { return getBackend().getVersionNumber(); }
Status getProgramPath(std::string* path) { return getBackend().getProgramPath(path); }
unsigned long getProcessId() { return getBackend().getProcessId(); }
bool getEnvironmentValue(const std::string& name, std::string* value) {
  return getBackend().getEnvironmentValue(name, value);
}
Status startProcess(const std::string& program, const std::vector<std::string>& arguments) {
  return getBackend().startProcess(program, arguments);
}

}  // namespace platform
