#include "platform/win32/windows_family.h"

namespace platform {

namespace {

using MoveFileExFunction = BOOL(WINAPI*)(LPCSTR, LPCSTR, DWORD);

MoveFileExFunction findMoveFileEx() {
  HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
  FARPROC found = kernel != nullptr ? GetProcAddress(kernel, "MoveFileExA") : nullptr;
  // Through void (*)(), the one function type that converts to any other
  // without a warning.
  return reinterpret_cast<MoveFileExFunction>(reinterpret_cast<void (*)()>(found));
}

}  // namespace

bool isWindowsNt() { return (GetVersion() & 0x80000000UL) == 0; }

BOOL moveFileExA(const char* from, const char* to, DWORD flags) {
  static const MoveFileExFunction moveFileEx = findMoveFileEx();
  if (moveFileEx == nullptr) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
  }
  return moveFileEx(from, to, flags);
}

}  // namespace platform
