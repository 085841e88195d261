#include "driver/reboot_program.h"

#include "base/ascii_text.h"
#include "path/path_name.h"
#include "platform/files.h"
#include "platform/system.h"

bool resolveRebootProgram(const std::string& name, std::string* program,
                          std::vector<std::string>* arguments) {
  std::string extension;
  pathSplit(name, nullptr, nullptr, nullptr, &extension);
  std::string file = name;
  if (extension.empty()) {
    // The order a command prompt would try them in; a name that exists as it
    // stands (a program without an extension) is the last resort.
    static const char* const kExtensions[] = {".EXE", ".BAT", ".CMD"};
    for (const char* candidate : kExtensions) {
      if (platform::testPath(name + candidate).ok) {
        file = name + candidate;
        extension = candidate;
        break;
      }
    }
  }
  arguments->clear();
  if (equalsNoCase(extension, ".BAT") || equalsNoCase(extension, ".CMD")) {
    // A batch file is no program of its own: the command interpreter runs it.
    std::string interpreter;
    if (!platform::getEnvironmentValue("COMSPEC", &interpreter) || interpreter.empty()) {
      return false;
    }
    *program = interpreter;
    *arguments = {interpreter, "/c", file};
    return true;
  }
  *program = file;
  *arguments = {file};
  return true;
}

bool startRebootProgram(const std::string& name) {
  std::string program;
  std::vector<std::string> arguments;
  if (!resolveRebootProgram(name, &program, &arguments)) return false;
  return platform::startProcess(program, arguments).ok;
}
