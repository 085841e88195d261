#include "platform/native_calls.h"

#include "platform/system.h"

#include <windows.h>

#include <vector>

#include "platform/win32/command_line.h"
#include "platform/win32/win32_status.h"

namespace platform {
namespace native {

Status getWindowsDirectory(std::string* directory) {
  std::vector<char> buffer(MAX_PATH + 1);
  for (;;) {
    UINT length = GetWindowsDirectoryA(buffer.data(), static_cast<UINT>(buffer.size()));
    if (length == 0) {
      return lastErrorStatus();
    }
    // A result as large as the buffer is the size needed, terminator included.
    if (length < buffer.size()) {
      directory->assign(buffer.data(), length);
      return Status::success();
    }
    buffer.resize(length + 1);
  }
}

unsigned long getVersionNumber() { return GetVersion(); }

Status getProgramPath(std::string* path) {
  std::vector<char> buffer(MAX_PATH + 1);
  for (;;) {
    DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      return lastErrorStatus();
    }
    // A cut name fills the whole buffer; older systems do not say so through
    // the error number, so the length alone decides.
    if (length < buffer.size()) {
      path->assign(buffer.data(), length);
      return Status::success();
    }
    if (buffer.size() > 32768) {
      return Status::failure(ERROR_INSUFFICIENT_BUFFER, false);
    }
    buffer.resize(buffer.size() * 2);
  }
}

unsigned long getProcessId() { return GetCurrentProcessId(); }

bool getEnvironmentValue(const std::string& name, std::string* value) {
  std::vector<char> buffer(256);
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    DWORD length =
        GetEnvironmentVariableA(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      // Zero is both "not set" and "set to the empty text"; only the error
      // number tells them apart.
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
        return false;
      }
      value->clear();
      return true;
    }
    if (length < buffer.size()) {
      value->assign(buffer.data(), length);
      return true;
    }
    buffer.resize(length + 1);
  }
}

Status startProcess(const std::string& program, const std::vector<std::string>& arguments) {
  std::string line = buildCommandLine(arguments);
  // CreateProcessA may write into the command line, so it gets its own copy.
  std::vector<char> lineBuffer(line.begin(), line.end());
  lineBuffer.push_back('\0');
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof process);
  // Naming the program file keeps the system from searching for it along
  // PATH or in its own directories.
  if (!CreateProcessA(program.c_str(), lineBuffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process)) {
    return lastErrorStatus();
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return Status::success();
}

}  // namespace native
}  // namespace platform
