#include "e2e/machine.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

#include <gtest/gtest.h>

#include "e2e/wine_prefix.h"
#include "platform/file_lock.h"
#include "platform/posix/restart_queue.h"
#include "support/temp_dir.h"
#include "support/wait.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

// Variables the machine decides for the program; inherited values would leak
// the developer's own setup into a run.
const char* const kControlledVariables[] = {
    "WINDIR", "windir",  "TVPAT_WINVER", "TVPAT_REGISTRY",   "TEMP",
    "TMP",    "COMSPEC", "WINEPREFIX",   "WINEDLLOVERRIDES", "WINEDEBUG"};

std::string requiredVariable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') {
    throw std::runtime_error(std::string("the end-to-end tests need ") + name + " to be set");
  }
  return value;
}

bool targetIsWine() {
  const char* target = std::getenv("TVPAT_E2E_TARGET");
  return target != nullptr && std::string(target) == "wine";
}

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool sameText(const std::string& a, const std::string& b) { return upper(a) == upper(b); }

std::string dropCarriageReturns(std::string text) {
  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    if (c != '\r') result += c;
  }
  return result;
}

void copyFile(const std::string& from, const std::string& to) {
  fs::create_directories(fs::path(to).parent_path());
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  fs::permissions(to, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                          fs::perms::others_read | fs::perms::others_exec);
}

// The null-terminated list of C strings that execve takes; it points into
// texts, which must outlive it.
std::vector<char*> toExecList(const std::vector<std::string>& texts) {
  std::vector<char*> list;
  for (const std::string& text : texts) list.push_back(const_cast<char*>(text.c_str()));
  list.push_back(nullptr);
  return list;
}

// A program started with both output streams in pipes of its own.
struct PipedProgram {
  pid_t pid = -1;
  int out = -1;
  int err = -1;
};

// Starts a program in `directory` with exactly the environment given; with
// ownGroup, in a process group of its own (see startInBackground).
PipedProgram startPiped(const std::vector<std::string>& command,
                        const std::vector<std::string>& environment, const std::string& directory,
                        bool ownGroup) {
  int outPipe[2];
  int errPipe[2];
  // Closed on exec, so that a program started alongside does not keep
  // another's pipe open.
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  std::vector<char*> argv = toExecList(command);
  std::vector<char*> envp = toExecList(environment);
  pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    if (ownGroup) setpgid(0, 0);
    int input = open("/dev/null", O_RDONLY);
    dup2(input, 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    if (chdir(directory.c_str()) != 0) _exit(126);
    execvpe(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  if (ownGroup) setpgid(child, child);
  close(outPipe[1]);
  close(errPipe[1]);
  return {child, outPipe[0], errPipe[0]};
}

// Collects both output streams of a program to their end and waits for it.
// Both pipes are drained together so that a child filling one of them cannot
// stall.
RunResult collectPiped(const PipedProgram& program, const std::string& name) {
  RunResult result;
  pollfd fds[2] = {{program.out, POLLIN, 0}, {program.err, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int openStreams = 2;
  while (openStreams > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --openStreams;
      }
    }
  }
  int status = 0;
  while (waitpid(program.pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  // The sanitized build (scripts/sanitize.sh) ends a program with code 86 at
  // its first report, a leak at exit included; no program run here ends so
  // on its own, and not every test looks at the exit code.
  if (result.exitCode == 86) {
    ADD_FAILURE() << "sanitizer report from " << name << ":\n" << result.err;
  }
  result.out = dropCarriageReturns(result.out);
  result.err = dropCarriageReturns(result.err);
  return result;
}

// Runs a program to its end in `directory`, with exactly the environment
// given, and collects both output streams.
RunResult runAndWait(const std::vector<std::string>& command,
                     const std::vector<std::string>& environment, const std::string& directory) {
  return collectPiped(startPiped(command, environment, directory, false), command[0]);
}

// Starts a program in the background with its output discarded, in a
// process group of its own (numbered like the program), so that it can be
// ended together with everything it starts: under Wine, the Windows program
// that a launcher starts is a process of its own, in the launcher's group.
pid_t startInBackground(const std::vector<std::string>& command,
                        const std::vector<std::string>& environment,
                        const std::string& directory = ".") {
  std::vector<char*> argv = toExecList(command);
  std::vector<char*> envp = toExecList(environment);
  pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    setpgid(0, 0);
    if (chdir(directory.c_str()) != 0) _exit(126);
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    execvpe(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  // Also here, so that the group exists before anyone may signal it.
  setpgid(child, child);
  return child;
}

// Whether a process of the group is still running (a zombie has ended).
// Under Wine the Windows program is no child of ours, so waitpid cannot
// tell when it is gone; /proc can.
bool groupIsRunning(pid_t group) {
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator("/proc", error)) {
    std::ifstream stream(entry.path() / "stat");
    std::string stat;
    if (!std::getline(stream, stat)) continue;
    // "PID (NAME) STATE PPID PGRP ...": the name may hold blanks and parentheses.
    std::istringstream fields(stat.substr(stat.rfind(')') + 1));
    char state = 0;
    pid_t parent = 0;
    pid_t processGroup = 0;
    if (fields >> state >> parent >> processGroup && processGroup == group && state != 'Z') {
      return true;
    }
  }
  return false;
}

// The environment of this process without the variables the machine sets.
std::vector<std::string> baseEnvironment() {
  std::vector<std::string> result;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text = *entry;
    std::string name = text.substr(0, text.find('='));
    bool controlled = name.rfind("TVPAT_E2E_", 0) == 0;
    for (const char* variable : kControlledVariables) controlled |= name == variable;
    if (!controlled) result.push_back(text);
  }
  return result;
}

// A path whose components may differ in case from what is on disk, as the
// Windows file systems allow: each missing component is looked up without
// regard to case. Returns the path unchanged when nothing matches.
std::string resolveCase(const std::string& path) {
  std::error_code error;
  if (fs::exists(fs::symlink_status(path, error))) return path;
  fs::path resolved = "/";
  for (const fs::path& component : fs::path(path).relative_path()) {
    fs::path candidate = resolved / component;
    if (!fs::exists(fs::symlink_status(candidate, error))) {
      for (const fs::directory_entry& entry : fs::directory_iterator(resolved, error)) {
        if (sameText(entry.path().filename().string(), component.string())) {
          candidate = entry.path();
          break;
        }
      }
    }
    resolved = candidate;
  }
  return fs::exists(fs::symlink_status(resolved, error)) ? resolved.string() : path;
}

std::string longRootName(const std::string& key) {
  static const std::pair<const char*, const char*> kShortRoots[] = {{"HKLM", "HKEY_LOCAL_MACHINE"},
                                                                    {"HKCU", "HKEY_CURRENT_USER"},
                                                                    {"HKCR", "HKEY_CLASSES_ROOT"},
                                                                    {"HKU", "HKEY_USERS"}};
  std::string root = key.substr(0, key.find('\\'));
  for (const auto& [shortName, longName] : kShortRoots) {
    if (sameText(root, shortName)) return longName + key.substr(root.size());
  }
  return key;
}

// The REGEDIT4 file of the POSIX registry stand-in: keys in file order, each
// with its string values in file order ("" names the default value).
struct RegistryValue {
  std::string name;
  // The decoded text of a string value; other kinds (dword:, hex:) as
  // written, after the "=".
  std::string data;
  bool isString = true;
};

struct RegistryKey {
  std::string name;
  std::vector<RegistryValue> values;
};

// Reads a quoted string starting at text[position] (the opening quote) and
// leaves position after the closing quote.
std::string readQuoted(const std::string& text, size_t& position) {
  std::string result;
  ++position;
  while (position < text.size() && text[position] != '"') {
    if (text[position] == '\\' && position + 1 < text.size()) ++position;
    result += text[position++];
  }
  ++position;
  return result;
}

std::vector<RegistryKey> parseRegistry(const std::string& text) {
  std::vector<RegistryKey> keys;
  size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';' || line == "REGEDIT4") continue;
    if (line.front() == '[' && line.back() == ']') {
      keys.push_back({line.substr(1, line.size() - 2), {}});
      continue;
    }
    if (keys.empty()) throw std::runtime_error("registry value outside a key: " + line);
    size_t position = 0;
    RegistryValue value;
    if (line[0] == '@') {
      position = 1;
    } else if (line[0] == '"') {
      value.name = readQuoted(line, position);
    }
    if (position == 0 || position >= line.size() || line[position] != '=') {
      throw std::runtime_error("unreadable registry line: " + line);
    }
    ++position;
    if (position < line.size() && line[position] == '"') {
      value.data = readQuoted(line, position);
    } else {
      value.data = line.substr(position);
      value.isString = false;
    }
    keys.back().values.push_back(value);
  }
  return keys;
}

std::string quoted(const std::string& text) {
  std::string result = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') result += '\\';
    result += c;
  }
  return result + "\"";
}

std::string formatRegistry(const std::vector<RegistryKey>& keys) {
  std::string text = "REGEDIT4\r\n";
  for (const RegistryKey& key : keys) {
    text += "\r\n[" + key.name + "]\r\n";
    for (const RegistryValue& value : key.values) {
      text += (value.name.empty() ? std::string("@") : quoted(value.name)) + "=" +
              (value.isString ? quoted(value.data) : value.data) + "\r\n";
    }
  }
  return text;
}

bool isRootKey(const std::string& key) {
  for (const char* root :
       {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_CLASSES_ROOT", "HKEY_USERS"}) {
    if (sameText(key, root)) return true;
  }
  return false;
}

// Decodes the hex(7) data of a "regedit /E" export (UTF-16LE, zero-separated
// strings) into its strings; only ASCII is expected in test paths.
std::vector<std::string> decodeMultiString(const std::string& hexData) {
  std::vector<unsigned> bytes;
  std::string digits;
  for (char c : hexData) {
    if (std::isxdigit(static_cast<unsigned char>(c))) {
      digits += c;
    } else if (c == ',' && !digits.empty()) {
      bytes.push_back(static_cast<unsigned>(std::stoul(digits, nullptr, 16)));
      digits.clear();
    }
  }
  if (!digits.empty()) bytes.push_back(static_cast<unsigned>(std::stoul(digits, nullptr, 16)));
  std::vector<std::string> strings(1);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    unsigned unit = bytes[i] | (bytes[i + 1] << 8);
    if (unit == 0) {
      strings.emplace_back();
    } else {
      strings.back() += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
  }
  return strings;
}

std::string withoutPrefix(std::string path, const std::string& prefix) {
  if (path.rfind(prefix, 0) == 0) path.erase(0, prefix.size());
  return path;
}

}  // namespace

struct Machine::State {
  bool wine = false;
  TempDir temp;
  std::string windowsDir;
  std::string productDir;
  std::string patchDir;
  std::string programSource;
  std::string programPath;
  std::map<std::string, std::string> environment;
  // Under Wine: the Windows directory's entries before the test, and the
  // background holders with their signal directories.
  std::set<std::string> windowsEntries;
  std::vector<std::pair<pid_t, std::string>> holders;
  // Natively: the children that hold the product's lock, each with the
  // pipe whose closing releases it.
  std::vector<std::pair<pid_t, int>> lockHolders;
  // The runs started to be collected; a collected one has pid -1.
  std::vector<PipedProgram> collected;
  bool versionChanged = false;
  // The run started without waiting (its process group), or -1.
  pid_t started = -1;
  // Keys an example imported into Wine's registry, removed at the end.
  std::vector<std::string> importedKeys;

  std::vector<std::string> hostEnvironment() const {
    std::vector<std::string> result = baseEnvironment();
    if (wine) {
      for (const std::string& entry : WinePrefix::get().getEnvironment()) result.push_back(entry);
    } else {
      for (const auto& [name, value] : environment) result.push_back(name + "=" + value);
    }
    return result;
  }

  // Makes Wine report a version of Windows to the next programs; an empty
  // name is Wine's own default.
  void playVersion(const std::string& version) const {
    std::vector<std::string> command = {"reg", "delete",  "HKCU\\Software\\Wine",
                                        "/v",  "Version", "/f"};
    if (!version.empty()) {
      command = {"reg", "add", "HKCU\\Software\\Wine", "/v", "Version", "/d", version, "/f"};
    }
    wineCommand(command);
  }

  RunResult wineCommand(const std::vector<std::string>& arguments) const {
    std::vector<std::string> command = {"wine"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return runAndWait(command, hostEnvironment(), temp.getPath());
  }
};

const char kPatchNotRecordedLine[] =
    "\n\aNot every entry reached its end; the patch is not recorded\n";

std::string numberedCatalogue(int count) {
  std::string text;
  for (int n = 1; n <= count; ++n) text += "Message " + std::to_string(n) + "\r\n";
  return text;
}

Machine::Machine() : state(std::make_unique<State>()) {
  state->wine = targetIsWine();
  const std::string& root = state->temp.getPath();
  state->programSource = requiredVariable("TVPAT_E2E_PROGRAM");
  state->productDir = root + "/product";
  state->patchDir = root + "/patch";
  fs::create_directories(state->productDir);
  fs::create_directories(state->patchDir);
  fs::create_directories(root + "/temp");
  std::string catalogue = fs::path(state->programSource).parent_path() / "TVPAT32.MSG";
  copyFile(catalogue, state->patchDir + "/TVPAT32.MSG");
  if (state->wine) {
    state->windowsDir = WinePrefix::get().getWindowsDir();
    for (const fs::directory_entry& entry : fs::directory_iterator(state->windowsDir)) {
      state->windowsEntries.insert(entry.path().filename().string());
    }
    state->programPath = state->patchDir + "/TVPAT32.EXE";
    state->environment["TEMP"] = shown(root + "/temp");
  } else {
    state->windowsDir = root + "/windows";
    fs::create_directories(state->windowsDir);
    state->programPath = state->patchDir + "/tvpat32";
    state->environment["WINDIR"] = state->windowsDir;
    state->environment["TEMP"] = root + "/temp";
    state->environment["COMSPEC"] = "/bin/sh";
  }
  copyFile(state->programSource, state->programPath);
  writeWindowsIni("[Tavro]\r\nroot=" + shownProductDir() + "\r\n\r\n[Patch]\r\nInteractive=1\r\n");
}

Machine::~Machine() {
  kill();
  for (int run = 0; run < static_cast<int>(state->collected.size()); ++run) {
    if (state->collected[run].pid <= 0) continue;
    ::kill(-state->collected[run].pid, SIGKILL);
    collect(run);
  }
  releaseFiles();
  if (state->wine) {
    std::error_code ignored;
    for (const fs::directory_entry& entry : fs::directory_iterator(state->windowsDir, ignored)) {
      std::string name = entry.path().filename().string();
      std::string key = upper(name);
      if (state->windowsEntries.count(name) == 0 || key == "TAVRO.INI" || key == "WININIT.INI" ||
          key == "WININIT.BAK") {
        fs::remove_all(entry.path(), ignored);
      }
    }
    // A failing wine command must not throw out of a destructor.
    try {
      state->wineCommand({"reg", "delete", "HKCU\\Software\\TvpatTest", "/f"});
      state->wineCommand({"reg", "delete",
                          "HKLM\\System\\CurrentControlSet\\Control\\Session Manager", "/v",
                          "PendingFileRenameOperations", "/f"});
      for (auto key = state->importedKeys.rbegin(); key != state->importedKeys.rend(); ++key) {
        state->wineCommand({"reg", "delete", *key, "/f"});
      }
      // Back to what every test starts with: Windows NT.
      if (state->versionChanged) state->playVersion(WinePrefix::get().getVersionFor(2));
    } catch (const std::exception& error) {
      ADD_FAILURE() << "cleaning the Wine registry failed: " << error.what();
    }
  }
}

bool Machine::isWine() const { return state->wine; }

const std::string& Machine::getRoot() const { return state->temp.getPath(); }
const std::string& Machine::getWindowsDir() const { return state->windowsDir; }
const std::string& Machine::getProductDir() const { return state->productDir; }
const std::string& Machine::getPatchDir() const { return state->patchDir; }
std::string Machine::getProfilePath() const { return state->patchDir + "/TVPAT32.DAT"; }

std::string Machine::shown(const std::string& path) const {
  if (!state->wine) return path;
  std::string result = "Z:" + path;
  for (char& c : result) {
    if (c == '/') c = '\\';
  }
  return result;
}

std::string Machine::shownWindowsDir() const {
  return state->wine ? "C:\\windows" : state->windowsDir;
}

std::string Machine::shownProductDir() const { return shown(state->productDir); }

void Machine::writeFile(const std::string& path, const std::string& content) const {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream stream(path, std::ios::binary | std::ios::trunc);
  stream << content;
  if (!stream.flush()) throw std::runtime_error("cannot write " + path);
}

std::optional<std::string> Machine::readFile(const std::string& path) const {
  std::error_code error;
  std::string actual = resolveCase(path);
  if (!fs::is_regular_file(actual, error)) return std::nullopt;
  std::ifstream stream(actual, std::ios::binary);
  if (!stream) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

bool Machine::exists(const std::string& path) const {
  std::error_code error;
  return fs::exists(fs::symlink_status(resolveCase(path), error));
}

void Machine::makeDirectory(const std::string& path) const { fs::create_directories(path); }

void Machine::setStamp(const std::string& path, int year, int month, int day, int hour, int minute,
                       int second) const {
  std::tm local = {};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  timeval times[2] = {{std::mktime(&local), 0}, {std::mktime(&local), 0}};
  if (utimes(resolveCase(path).c_str(), times) != 0) {
    throw std::runtime_error("cannot set the time of " + path);
  }
}

void Machine::writeProfile(const std::string& content) const {
  writeFile(getProfilePath(), content);
}

void Machine::writeWindowsIni(const std::string& content) const {
  writeFile(state->windowsDir + "/TAVRO.INI", content);
}

void Machine::writeProductIni(const std::string& content) const {
  writeFile(state->productDir + "/TAVRO.INI", content);
}

void Machine::setPlatformKind(int kind) {
  if (!state->wine) {
    if (kind == 1) {
      state->environment["TVPAT_WINVER"] = "0xC0000A04";
    } else if (kind == 4) {
      state->environment["TVPAT_WINVER"] = "0x80000003";
    } else {
      state->environment.erase("TVPAT_WINVER");
    }
    return;
  }
  state->versionChanged = true;
  state->playVersion(WinePrefix::get().getVersionFor(kind));
}

void Machine::setEnvironment(const std::string& name, const std::string& value) {
  state->environment[name] = value;
}

RunResult Machine::run(const std::vector<std::string>& arguments) const {
  return runProgramAt(state->programPath, arguments);
}

std::vector<std::string> Machine::programCommand(const std::string& programPath,
                                                 const std::vector<std::string>& arguments) const {
  std::vector<std::string> command;
  if (state->wine) {
    command = {"wine", WinePrefix::get().getToolsDir() + "/tvlaunch.exe"};
    for (const auto& [name, value] : state->environment) command.push_back(name + "=" + value);
    command.insert(command.end(), {"-cd", shown(state->patchDir), "--", shown(programPath)});
  } else {
    command = {programPath};
  }
  command.insert(command.end(), arguments.begin(), arguments.end());
  return command;
}

RunResult Machine::runProgramAt(const std::string& programPath,
                                const std::vector<std::string>& arguments) const {
  return runAndWait(programCommand(programPath, arguments), state->hostEnvironment(),
                    state->patchDir);
}

void Machine::start(const std::vector<std::string>& arguments) {
  if (state->started > 0) throw std::logic_error("a run was started already");
  state->started = startInBackground(programCommand(state->programPath, arguments),
                                     state->hostEnvironment(), state->patchDir);
}

void Machine::kill() {
  if (state->started <= 0) return;
  // The whole group: natively the program alone, under Wine the launcher
  // and the Windows program it started.
  ::kill(-state->started, SIGKILL);
  int status = 0;
  while (waitpid(state->started, &status, 0) < 0 && errno == EINTR) {
  }
  if (!waitUntil([&] { return !groupIsRunning(state->started); })) {
    ADD_FAILURE() << "the killed run is still running";
  }
  state->started = -1;
}

int Machine::startCollected(const std::vector<std::string>& arguments) {
  state->collected.push_back(startPiped(programCommand(state->programPath, arguments),
                                        state->hostEnvironment(), state->patchDir, true));
  return static_cast<int>(state->collected.size()) - 1;
}

bool Machine::hasEnded(int run) const {
  // WNOWAIT leaves the ended run to collect, which waits for it again.
  siginfo_t info{};
  pid_t pid = state->collected.at(run).pid;
  return pid > 0 && waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == pid;
}

RunResult Machine::collect(int run) {
  PipedProgram& program = state->collected.at(run);
  if (program.pid <= 0) throw std::logic_error("the run was collected already");
  RunResult result = collectPiped(program, state->programPath);
  program.pid = -1;
  return result;
}

RunResult Machine::runChecker(const std::vector<std::string>& arguments) const {
  return runProgramAt(requiredVariable("TVPAT_E2E_CHECKER"), arguments);
}

void Machine::loadExample(const std::string& name) {
  const fs::path example = fs::path(requiredVariable("TVPAT_E2E_EXAMPLES")) / name;
  auto copyTree = [this](const fs::path& from, const std::string& to, bool installed) {
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(from)) {
      std::string target = to + "/" + fs::relative(entry.path(), from).string();
      if (entry.is_directory()) {
        fs::create_directories(target);
        continue;
      }
      if (!installed && entry.path().filename() == "REGISTRY.REG") continue;
      fs::create_directories(fs::path(target).parent_path());
      fs::copy_file(entry.path(), target, fs::copy_options::overwrite_existing);
      if (installed) {
        setStamp(target, 2001, 3, 1, 12, 0, 0);
      } else {
        setStamp(target, 2002, 6, 1, 12, 0, 0);
      }
    }
  };
  copyTree(example / "patch", state->patchDir, false);
  copyTree(example / "machine" / "TAVRO", state->productDir, true);
  fs::path windows = example / "machine" / "WINDOWS";
  if (!fs::exists(windows)) return;
  for (const fs::directory_entry& entry : fs::directory_iterator(windows)) {
    if (entry.path().filename() == "REGISTRY.REG") continue;
    std::string target = state->windowsDir + "/" + entry.path().filename().string();
    fs::copy_file(entry.path(), target, fs::copy_options::overwrite_existing);
    setStamp(target, 2001, 3, 1, 12, 0, 0);
  }
  std::optional<std::string> registry = readFile((windows / "REGISTRY.REG").string());
  if (!registry) return;
  if (!state->wine) {
    writeFile(state->windowsDir + "/REGISTRY.REG", *registry);
    return;
  }
  std::string file = state->temp.getPath() + "/import.reg";
  writeFile(file, *registry);
  RunResult imported = state->wineCommand({"regedit", "/S", shown(file)});
  if (imported.exitCode != 0) throw std::runtime_error("regedit /S failed: " + imported.err);
  for (const RegistryKey& key : parseRegistry(*registry)) state->importedKeys.push_back(key.name);
}

std::string Machine::registryText() const {
  if (!state->wine) return readFile(state->windowsDir + "/REGISTRY.REG").value_or("");
  std::string text;
  std::string exportFile = state->temp.getPath() + "/snapshot.reg";
  for (const std::string& key : state->importedKeys) {
    state->wineCommand({"regedit", "/E", shown(exportFile), key});
    text += readFile(exportFile).value_or("(none)");
    fs::remove(exportFile);
  }
  return text;
}

void Machine::copyProgramTo(const std::string& path) const { copyFile(state->programSource, path); }

namespace {

// Wine's reg command about one value of key; an empty name is the default
// value.
std::vector<std::string> regCommand(const char* verb, const std::string& key,
                                    const std::string& name) {
  std::vector<std::string> command = {"reg", verb, key};
  if (name.empty()) {
    command.push_back("/ve");
  } else {
    command.insert(command.end(), {"/v", name});
  }
  return command;
}

}  // namespace

void Machine::setRegistryValue(const std::string& key, const std::string& name,
                               const std::string& value) const {
  std::string longKey = longRootName(key);
  if (state->wine) {
    std::vector<std::string> command = regCommand("add", longKey, name);
    command.insert(command.end(), {"/d", value, "/f"});
    RunResult result = state->wineCommand(command);
    if (result.exitCode != 0) throw std::runtime_error("reg add failed: " + result.err);
    return;
  }
  std::string file = state->windowsDir + "/REGISTRY.REG";
  std::vector<RegistryKey> keys = parseRegistry(readFile(file).value_or(""));
  // A key exists only with every level above it, as RegCreateKeyEx leaves
  // it; the roots always exist and need no header of their own.
  RegistryKey* target = nullptr;
  size_t separator = longKey.find('\\');
  if (separator != std::string::npos) separator = longKey.find('\\', separator + 1);
  while (true) {
    std::string level = longKey.substr(0, separator);
    target = nullptr;
    for (RegistryKey& existing : keys) {
      if (sameText(existing.name, level)) target = &existing;
    }
    if (target == nullptr) {
      keys.push_back({level, {}});
      target = &keys.back();
    }
    if (separator == std::string::npos) break;
    separator = longKey.find('\\', separator + 1);
  }
  bool found = false;
  for (RegistryValue& existing : target->values) {
    if (sameText(existing.name, name)) {
      existing = {existing.name, value, true};
      found = true;
    }
  }
  if (!found) target->values.push_back({name, value, true});
  writeFile(file, formatRegistry(keys));
}

std::optional<std::string> Machine::getRegistryValue(const std::string& key,
                                                     const std::string& name) const {
  std::string longKey = longRootName(key);
  if (state->wine) {
    std::vector<std::string> command = regCommand("query", longKey, name);
    RunResult result = state->wineCommand(command);
    if (result.exitCode != 0) return std::nullopt;
    // Lines read "    NAME    TYPE    VALUE"; the value may hold blanks itself.
    std::string head = "    " + (name.empty() ? std::string("(Default)") : name) + "    ";
    size_t start = 0;
    while (start < result.out.size()) {
      size_t end = result.out.find('\n', start);
      if (end == std::string::npos) end = result.out.size();
      std::string line = result.out.substr(start, end - start);
      start = end + 1;
      if (line.size() < head.size() || !sameText(line.substr(0, head.size()), head)) continue;
      size_t valueStart = line.find("    ", head.size());
      if (valueStart == std::string::npos) return std::string();
      std::string value = line.substr(valueStart + 4);
      if (name.empty() && value == "(value not set)") return std::nullopt;
      return value;
    }
    return std::nullopt;
  }
  std::vector<RegistryKey> keys =
      parseRegistry(readFile(state->windowsDir + "/REGISTRY.REG").value_or(""));
  for (const RegistryKey& existing : keys) {
    if (!sameText(existing.name, longKey)) continue;
    for (const RegistryValue& value : existing.values) {
      if (sameText(value.name, name)) return value.data;
    }
  }
  return std::nullopt;
}

bool Machine::registryKeyExists(const std::string& key) const {
  std::string longKey = longRootName(key);
  if (state->wine) return state->wineCommand({"reg", "query", longKey}).exitCode == 0;
  if (isRootKey(longKey)) return true;
  std::vector<RegistryKey> keys =
      parseRegistry(readFile(state->windowsDir + "/REGISTRY.REG").value_or(""));
  for (const RegistryKey& existing : keys) {
    if (sameText(existing.name, longKey)) return true;
  }
  return false;
}

RunResult Machine::restart() const {
  if (state->wine) {
    RunResult result;
    result.exitCode = WinePrefix::get().restart();
    return result;
  }
  std::vector<std::string> environment = state->hostEnvironment();
  return runAndWait({requiredVariable("TVPAT_E2E_RESTART")}, environment, state->patchDir);
}

std::vector<std::pair<std::string, std::string>> Machine::getPendingMoves() const {
  std::vector<std::pair<std::string, std::string>> moves;
  if (state->wine) {
    // "reg query" shows a REG_MULTI_SZ with its empty strings (deletions)
    // run together, so the value is read from an export instead.
    std::string exportFile = state->temp.getPath() + "/pending.reg";
    state->wineCommand({"regedit", "/E", shown(exportFile),
                        "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Session Manager"});
    std::string text;
    for (char c : readFile(exportFile).value_or("")) {
      if (c != '\0') text += c;
    }
    fs::remove(exportFile);
    size_t start = text.find("\"PendingFileRenameOperations\"=hex(7):");
    if (start == std::string::npos) return moves;
    size_t end = text.find("\n\"", start + 1);
    size_t next = text.find("\n[", start + 1);
    if (next < end) end = next;
    std::vector<std::string> strings = decodeMultiString(
        text.substr(start + 37, end == std::string::npos ? end : end - start - 37));
    for (size_t i = 0; i + 1 < strings.size() && !strings[i].empty(); i += 2) {
      // The destination of a move that may replace a file carries a leading
      // "!", and both names the NT prefix "\??\".
      std::string destination = withoutPrefix(withoutPrefix(strings[i + 1], "!"), "\\??\\");
      moves.emplace_back(withoutPrefix(strings[i], "\\??\\"), destination);
    }
    return moves;
  }
  std::vector<platform::posix::PendingMove> queue;
  platform::Status status = platform::posix::readRestartQueue(state->windowsDir, &queue);
  if (!status.ok) ADD_FAILURE() << "the restart queue is unreadable: " << status.systemError;
  for (const platform::posix::PendingMove& move : queue) {
    moves.emplace_back(move.source, move.destination);
  }
  return moves;
}

void Machine::holdFile(const std::string& path, bool shareRead) {
  if (!state->wine) {
    ADD_FAILURE() << "holdFile works under Wine only; guard the test with isWine()";
    return;
  }
  std::string signalDir = state->temp.getPath() + "/hold" + std::to_string(state->holders.size());
  fs::create_directories(signalDir);
  std::vector<std::string> command = {"wine", WinePrefix::get().getToolsDir() + "/tvhold.exe",
                                      shown(path), shareRead ? "read" : "none", shown(signalDir)};
  pid_t holder = startInBackground(command, state->hostEnvironment());
  state->holders.emplace_back(holder, signalDir);
  // The holder signals through files; Wine takes a moment to start it.
  bool gone = false;
  waitUntil([&] {
    int status = 0;
    gone = waitpid(holder, &status, WNOHANG) == holder;
    return gone || fs::exists(signalDir + "/held") || fs::exists(signalDir + "/failed");
  });
  if (gone) state->holders.back().first = -1;
  if (!fs::exists(signalDir + "/held")) ADD_FAILURE() << "tvhold.exe could not hold " << path;
}

void Machine::holdProductLock() {
  const std::string archive = state->productDir + "/ARCHIVE";
  fs::create_directories(archive + "/TEMP");
  const std::string lock = archive + "/TVLOCK";
  if (state->wine) {
    if (!exists(lock)) writeFile(lock, "");
    holdFile(lock, false);
    return;
  }
  int ready[2];
  int release[2];
  if (pipe2(ready, O_CLOEXEC) != 0 || pipe2(release, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  pid_t holder = fork();
  if (holder < 0) throw std::runtime_error("fork failed");
  if (holder == 0) {
    close(ready[0]);
    close(release[1]);
    platform::FileHandle file;
    bool heldElsewhere = false;
    char taken = platform::lockFile(lock, &file, &heldElsewhere).ok ? 'y' : 'n';
    ssize_t ignored = write(ready[1], &taken, 1);
    (void)ignored;
    // Until the test releases the lock or ends: either closes the other end.
    char c;
    while (read(release[0], &c, 1) < 0 && errno == EINTR) {
    }
    _exit(0);
  }
  close(ready[1]);
  close(release[0]);
  char taken = 'n';
  while (read(ready[0], &taken, 1) < 0 && errno == EINTR) {
  }
  close(ready[0]);
  state->lockHolders.emplace_back(holder, release[1]);
  if (taken != 'y') ADD_FAILURE() << "the product's lock could not be held";
}

void Machine::releaseFiles() {
  for (const auto& [holder, signalDir] : state->holders) {
    std::ofstream(signalDir + "/release").put('\n');
    if (holder > 0) {
      int status = 0;
      waitpid(holder, &status, 0);
    }
  }
  state->holders.clear();
  for (const auto& [holder, release] : state->lockHolders) {
    close(release);
    int status = 0;
    waitpid(holder, &status, 0);
  }
  state->lockHolders.clear();
}

std::string exampleCaseName(const std::string& example, int kind) {
  std::string name = example + "_on_" + (kind == 1 ? "Windows95" : "WindowsNT");
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
}
