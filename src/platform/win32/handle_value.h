// The platform layer's handles (FileHandle, RegistryKey) carry a Win32 handle
// as an integer, so that the headers callers include need no system header.
// These turn one into the other for the Win32 implementation; only files of
// this folder include it.
#ifndef SRC_PLATFORM_WIN32_HANDLE_VALUE_H_
#define SRC_PLATFORM_WIN32_HANDLE_VALUE_H_

#include <cstdint>

namespace platform {

// The Win32 handle a platform handle carries.
template <typename SystemHandle, typename PlatformHandle>
SystemHandle toSystemHandle(PlatformHandle handle) {
  return reinterpret_cast<SystemHandle>(handle.value);
}

// A platform handle carrying the Win32 handle `system`.
template <typename PlatformHandle, typename SystemHandle>
PlatformHandle fromSystemHandle(SystemHandle system) {
  PlatformHandle handle;
  handle.value = reinterpret_cast<std::intptr_t>(system);
  return handle;
}

}  // namespace platform

#endif  // SRC_PLATFORM_WIN32_HANDLE_VALUE_H_
