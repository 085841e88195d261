// tvlaunch NAME=VALUE ... [-cd DIR] -- PROGRAM ARG...
//
// Runs PROGRAM under Wine with an environment and working directory set from
// inside Wine, which otherwise overrides variables such as TEMP and COMSPEC.
// "NAME=" with no value removes the variable. The program shares the
// launcher's console and standard handles; the launcher waits for it and
// exits with its exit code, or with 127 when it cannot be started.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Quotes one argument so that the C runtime of the started program reads it
// back unchanged: backslashes count double only before a quote.
std::string quoteArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
    return argument;
  }
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  quoted += '"';
  return quoted;
}

// A Linux path ("/tmp/x") names the same file on Wine's Z: drive.
std::string toWindowsPath(const std::string& path) {
  if (path.empty() || path[0] != '/') {
    return path;
  }
  std::string converted = "Z:" + path;
  for (char& c : converted) {
    if (c == '/') {
      c = '\\';
    }
  }
  return converted;
}

int usage() {
  std::fprintf(stderr, "usage: tvlaunch NAME=VALUE ... [-cd DIR] -- PROGRAM ARG...\n");
  return 127;
}

}  // namespace

int main(int argc, char** argv) {
  int index = 1;
  std::string directory;
  for (; index < argc && std::strcmp(argv[index], "--") != 0; ++index) {
    std::string setting = argv[index];
    if (setting == "-cd") {
      if (++index >= argc) {
        return usage();
      }
      directory = toWindowsPath(argv[index]);
      continue;
    }
    std::size_t equals = setting.find('=');
    if (equals == std::string::npos || equals == 0) {
      return usage();
    }
    std::string name = setting.substr(0, equals);
    std::string value = setting.substr(equals + 1);
    SetEnvironmentVariableA(name.c_str(), value.empty() ? nullptr : value.c_str());
  }
  if (index + 1 >= argc) {
    return usage();
  }
  ++index;
  std::string program = toWindowsPath(argv[index]);
  std::string line = quoteArgument(program);
  for (++index; index < argc; ++index) {
    line += ' ';
    line += quoteArgument(argv[index]);
  }
  std::vector<char> lineBuffer(line.begin(), line.end());
  lineBuffer.push_back('\0');

  // The child gets the launcher's own standard handles, so that its output
  // reaches whatever the launcher's output is connected to.
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof process);
  // No program name of its own: the system takes it from the command line and
  // searches for it as a shell would, so "cmd" works as well as a full path.
  if (!CreateProcessA(nullptr, lineBuffer.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      directory.empty() ? nullptr : directory.c_str(), &startup, &process)) {
    std::fprintf(stderr, "tvlaunch: cannot start %s (error %lu)\n", program.c_str(),
                 static_cast<unsigned long>(GetLastError()));
    return 127;
  }
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 127;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hProcess);
  return static_cast<int>(exitCode);
}
