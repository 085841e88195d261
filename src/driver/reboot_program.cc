#include "driver/reboot_program.h"

#include "base/ascii_text.h"
#include "path/path_name.h"
#include "platform/files.h"
#include "platform/system.h"

namespace {

// Whether name is taken from the current directory: it has no drive and does
// not begin at the root.
bool isRelative(const std::string& name) {
  std::string drive;
  pathSplit(name, &drive, nullptr, nullptr, nullptr);
  return drive.empty() && !name.empty() && name[0] != '\\' && name[0] != '/';
}

// The file that path names as a program, or the empty text when there is
// none. A path without an extension takes the first of the extensions a
// command prompt would try, in its order; a file that exists as it stands (a
// program without an extension) is the last resort.
std::string findProgramFile(const std::string& path) {
  std::string extension;
  pathSplit(path, nullptr, nullptr, nullptr, &extension);
  if (extension.empty()) {
    static const char* const kExtensions[] = {".EXE", ".BAT", ".CMD"};
    for (const char* candidate : kExtensions) {
      if (platform::testPath(path + candidate).ok) return path + candidate;
    }
  }
  return platform::testPath(path).ok ? path : std::string();
}

}  // namespace

bool resolveRebootProgram(const std::string& name, const std::string& programDirectory,
                          std::string* program, std::vector<std::string>* arguments) {
  std::string file = findProgramFile(name);
  // A shortcut may start the installer in a directory other than its own,
  // while the patch carries its reboot program beside the installer.
  if (file.empty() && !programDirectory.empty() && isRelative(name)) {
    file = findProgramFile(pathJoin(programDirectory, name));
  }
  // The command interpreter would start for a missing batch file and only
  // complain itself, which would pass for a started program; a missing
  // program is refused here, whatever its extension.
  if (file.empty()) return false;
  std::string extension;
  pathSplit(file, nullptr, nullptr, nullptr, &extension);
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

bool startRebootProgram(const std::string& name, const std::string& programDirectory) {
  std::string program;
  std::vector<std::string> arguments;
  if (!resolveRebootProgram(name, programDirectory, &program, &arguments)) return false;
  return platform::startProcess(program, arguments).ok;
}
