// Test hooks of the POSIX stand-ins, for effects a test cannot cause for real
// on Linux: a file in use, a disk that fills up, a registry call refused,
// memory that runs out.
// Only tests include this header; the program never sets a hook.
#ifndef SRC_PLATFORM_POSIX_TEST_HOOKS_H_
#define SRC_PLATFORM_POSIX_TEST_HOOKS_H_

#include <functional>
#include <string>

namespace platform {
namespace testing {

// Every platform call of files.h, file_lock.h, registry.h, restart.h and
// system.h that can fail consults the hook first.
enum class Call {
  kOpenFileForReading,
  kCreateNewFile,
  kReadFile,
  kWriteFile,
  kCloseFile,
  kFlushFile,
  kGetFileStamp,
  kSetFileStamp,
  kGetFileInfo,
  kTestPath,
  kRenameFile,
  kReplaceFile,
  kDeleteFile,
  kMakeDirectory,
  kListDirectory,
  kOpenStream,
  kOpenRegistryKey,
  kCreateRegistryKey,
  kQueryRegistryDefaultValue,
  kSetRegistryString,
  kDeleteRegistryValue,
  kDeleteRegistryKey,
  kCountRegistrySubkeys,
  kEnumerateRegistrySubkey,
  kCloseRegistryKey,
  kScheduleMoveAtRestart,
  kStartProcess,
  kGetWindowsDirectory,
  kOpenFileForAppending,
  kLockFile,
  kMakeWritable,
  kRemoveDirectory,
};

// Decides one call. `path` is the file the call concerns (for handle calls,
// the path the file was opened under; for registry calls, the key's full
// path such as HKEY_CURRENT_USER\Software\Vendor plus "\" and the subkey or
// value name when there is one). Returns 0 to let the call go ahead, or the
// errno value the call then fails with (ENOENT makes it a not-found failure).
// renameFile and replaceFile ask twice, about the source and then, when that
// goes ahead, about the target; replaceFile where the stand-in plays a
// Windows without it asks nothing. saveWholeFile
// and readWholeFile ask through the calls they are made of; saveWholeFile's
// first look at the old file asks as kGetFileInfo, and its rewrite in place,
// where no new file may be made, as kOpenStream (what a plain save opens
// with "w").
using FaultHook = std::function<int(Call call, const std::string& path)>;

// Installs the hook; an empty hook removes it.
void setFaultHook(FaultHook hook);

// Decides one allocation of the run (platform/memory.h): `module` is the
// source module that asks, as the critical-error report names it, and
// `bytes` the size asked for. Returns true to refuse it, which then fails as
// a real shortage of memory does.
using AllocationFault = bool (*)(const char* module, unsigned long bytes);

// Installs the allocation hook; null removes it.
void setAllocationFault(AllocationFault fault);

}  // namespace testing
}  // namespace platform

#endif  // SRC_PLATFORM_POSIX_TEST_HOOKS_H_
