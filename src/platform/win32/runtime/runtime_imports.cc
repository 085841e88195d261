// The toolchain's runtime calls three wide-character functions of KERNEL32:
// libgcc makes the semaphores of its mutexes with CreateSemaphoreW, and the
// msvcrt helpers of mingw-w64 find msvcrt.dll and advapi32.dll with
// GetModuleHandleW and LoadLibraryW. The Windows 95 family implements the
// wide-character version of almost no function (the platform documentation:
// they are stubs that fail), and the program imports only what the
// documentation shows Windows 95 and Windows NT 4.0 both to have
// (src/platform/win32/allowed-imports.txt).
//
// This file defines those three functions, and the import slots through
// which the runtime calls them, in the program itself: each converts the
// name to the ANSI code page and calls the ANSI function, which every Win32
// system has. With the symbols defined here the linker never takes the wide
// imports from libkernel32.a, so they are not in the import table at all.
// CMakeLists.txt compiles this file into every Windows program that links
// the tvpat library; scripts/check-imports.sh shows when the runtime starts
// calling another function that needs the same.
#include <windows.h>

namespace {

// A module or semaphore name, converted; a double-byte code page may need
// two bytes for every character.
constexpr int kNameBytes = 2 * MAX_PATH + 1;

// Converts a wide name to the ANSI code page; false, with the error set,
// when it cannot (too long, or not representable).
bool toAnsi(LPCWSTR wide, char (&narrow)[kNameBytes]) {
  return WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, kNameBytes, nullptr, nullptr) != 0;
}

}  // namespace

extern "C" {

// The functions under the names the import library would give them, so that
// a call without dllimport finds them too.
HANDLE WINAPI tvpatCreateSemaphoreW(LPSECURITY_ATTRIBUTES attributes, LONG initial, LONG maximum,
                                    LPCWSTR name) __asm__("_CreateSemaphoreW@16");
HMODULE WINAPI tvpatGetModuleHandleW(LPCWSTR name) __asm__("_GetModuleHandleW@4");
HMODULE WINAPI tvpatLoadLibraryW(LPCWSTR name) __asm__("_LoadLibraryW@4");

HANDLE WINAPI tvpatCreateSemaphoreW(LPSECURITY_ATTRIBUTES attributes, LONG initial, LONG maximum,
                                    LPCWSTR name) {
  if (name == nullptr) {
    return CreateSemaphoreA(attributes, initial, maximum, nullptr);
  }
  char narrow[kNameBytes];
  return toAnsi(name, narrow) ? CreateSemaphoreA(attributes, initial, maximum, narrow) : nullptr;
}

HMODULE WINAPI tvpatGetModuleHandleW(LPCWSTR name) {
  // No name means the program's own module.
  if (name == nullptr) {
    return GetModuleHandleA(nullptr);
  }
  char narrow[kNameBytes];
  return toAnsi(name, narrow) ? GetModuleHandleA(narrow) : nullptr;
}

HMODULE WINAPI tvpatLoadLibraryW(LPCWSTR name) {
  char narrow[kNameBytes];
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return toAnsi(name, narrow) ? LoadLibraryA(narrow) : nullptr;
}

// The import slots that calls through dllimport read, as the import library
// would define them; here they point at the functions above from the start,
// before any constructor runs.
HANDLE(WINAPI* tvpatImpCreateSemaphoreW)
(LPSECURITY_ATTRIBUTES, LONG, LONG,
 LPCWSTR) __asm__("__imp__CreateSemaphoreW@16") = tvpatCreateSemaphoreW;
HMODULE(WINAPI* tvpatImpGetModuleHandleW)
(LPCWSTR) __asm__("__imp__GetModuleHandleW@4") = tvpatGetModuleHandleW;
HMODULE(WINAPI* tvpatImpLoadLibraryW)(LPCWSTR) __asm__("__imp__LoadLibraryW@4") = tvpatLoadLibraryW;

}  // extern "C"
