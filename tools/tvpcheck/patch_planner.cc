#include "patch_planner.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "base/ascii_text.h"
#include "base/fnv_hash.h"
#include "base/line_reader.h"
#include "config/config_data.h"
#include "driver/run.h"
#include "driver/startup.h"
#include "messages/nls_class.h"
#include "path/path_name.h"
#include "platform/backend.h"
#include "platform/name_case.h"
#include "platform/system.h"
#include "platform/what_if_backend.h"
#include "profile/profile.h"

namespace {

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

std::string folded(std::string text) {
  for (char& c : text) c = platform::upperNameCase(c);
  return text;
}

bool hasExtension(const std::string& path, const char* extension) {
  std::string ext;
  pathSplit(path, nullptr, nullptr, nullptr, &ext);
  return equalsNoCase(ext, extension);
}

// WININIT.INI holds the steps the Windows 95 family carries out at its next
// start; they are listed as such, not as INI keys.
bool isRestartList(const std::string& path) {
  return equalsNoCase(pathFileName(path), "WININIT.INI");
}

std::string trimmed(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && isBlank(text[begin])) ++begin;
  while (end > begin && isBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// The whole file at path as backend finds it; false when there is none.
bool readThrough(platform::Backend& backend, const std::string& path, std::string* content) {
  content->clear();
  platform::FileHandle file;
  if (!backend.openFileForReading(path, &file).ok) return false;
  char block[65536];
  for (;;) {
    std::size_t got = 0;
    if (!backend.readFile(file, block, sizeof block, &got).ok || got == 0) break;
    content->append(block, got);
  }
  backend.closeFile(file);
  return true;
}

std::string stampText(const platform::DosStamp& stamp) {
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", 1980u + (stamp.date >> 9),
                (stamp.date >> 5) & 15u, stamp.date & 31u, stamp.time >> 11,
                (stamp.time >> 5) & 63u, (stamp.time & 31u) * 2);
  return text;
}

// What a path holds, as far as the plan tells it.
struct PathState {
  bool exists = false;
  bool isDirectory = false;
  bool readOnly = false;
  std::uint64_t size = 0;
  platform::DosStamp stamp;
  std::uint64_t digest = 0;
};

PathState pathStateOf(platform::Backend& backend, const std::string& path) {
  PathState state;
  if (!backend.testPath(path).ok) return state;
  state.exists = true;
  std::vector<platform::DirectoryEntry> entries;
  if (backend.listDirectory(path, &entries).ok) {
    state.isDirectory = true;
    return state;
  }
  platform::Status writable = backend.testWritable(path);
  state.readOnly = !writable.ok && !writable.notFound;
  platform::FileHandle file;
  if (!backend.openFileForReading(path, &file).ok) return state;
  backend.getFileStamp(file, &state.stamp);
  FnvHash digest;
  char block[65536];
  for (;;) {
    std::size_t got = 0;
    if (!backend.readFile(file, block, sizeof block, &got).ok || got == 0) break;
    state.size += got;
    for (std::size_t i = 0; i < got; ++i) digest.add(static_cast<unsigned char>(block[i]));
  }
  backend.closeFile(file);
  state.digest = digest.get();
  return state;
}

// The size and stamp of a file; one the run writes without stamping it
// bears the time it is written.
std::string fileText(const PathState& state, bool stampedWhenWritten) {
  std::string stamp = stampedWhenWritten ? "when written" : stampText(state.stamp);
  return " (" + std::to_string(state.size) + " bytes, stamped " + stamp + ")";
}

// A registry value as a REG entry would give it, or as bytes.
std::string valueText(const platform::RegistryValue& value) {
  if (value.type == platform::kRegistryString || value.type == platform::kRegistryExpandString) {
    std::string text = value.data;
    if (!text.empty() && text.back() == '\0') text.pop_back();
    return quoted(text);
  }
  std::string text = "type " + std::to_string(value.type) + ":";
  char byte[4];
  for (unsigned char c : value.data) {
    std::snprintf(byte, sizeof byte, " %02X", c);
    text += byte;
  }
  return text;
}

bool sameValue(const std::optional<platform::RegistryValue>& a,
               const std::optional<platform::RegistryValue>& b) {
  if (a.has_value() != b.has_value()) return false;
  return !a || (a->type == b->type && a->data == b->data);
}

// The root key a full key path begins with, and the path below it.
bool splitKeyPath(const std::string& keyPath, platform::RegistryRoot* root, std::string* below) {
  static const struct {
    const char* name;
    platform::RegistryRoot root;
  } kRoots[] = {{"HKEY_LOCAL_MACHINE", platform::RegistryRoot::kLocalMachine},
                {"HKEY_CURRENT_USER", platform::RegistryRoot::kCurrentUser},
                {"HKEY_CLASSES_ROOT", platform::RegistryRoot::kClassesRoot},
                {"HKEY_USERS", platform::RegistryRoot::kUsers}};
  std::size_t separator = keyPath.find('\\');
  std::string rootName = keyPath.substr(0, separator);
  for (const auto& known : kRoots) {
    if (equalsNoCase(rootName, known.name)) {
      *root = known.root;
      *below = separator == std::string::npos ? std::string() : keyPath.substr(separator + 1);
      return true;
    }
  }
  return false;
}

}  // namespace

PatchPlanner::PatchPlanner(const std::string& profilePath, const std::string& patchDir,
                           const std::string& removePatch)
    : profilePath(profilePath), patchDir(patchDir), removePatch(removePatch) {}

std::string PatchPlanner::format(const std::string& profileName) const {
  std::string text;
  for (const PlanLine& line : lines) {
    text += profileName;
    if (line.line != 0) text += ":" + std::to_string(line.line);
    text += ": plan: " + line.text + "\n";
  }
  return text;
}

void PatchPlanner::add(std::size_t step, const std::string& text) {
  std::size_t position = step < stepLines.size() ? stepLines[step] : Profile::kNoLine;
  lines.push_back({position == Profile::kNoLine ? 0 : position + 1, step, text});
}

void PatchPlanner::addConsoleText(const std::string& text, bool toErrors) {
  std::string& pending = pendingText[toErrors ? 1 : 0];
  pending += text;
  std::size_t end;
  while ((end = pending.find('\n')) != std::string::npos) {
    std::string line = pending.substr(0, end);
    pending.erase(0, end + 1);
    line.erase(std::remove(line.begin(), line.end(), kBel), line.end());
    line = trimmed(line);
    if (!line.empty()) add(stepLines.size() - 1, (toErrors ? "prints error: " : "prints: ") + line);
  }
}

void PatchPlanner::plan() {
  lines.clear();
  platform::Backend& system = platform::getBackend();
  platform::WhatIfBackend run(system);
  platform::WhatIfBackend pristine(system);
  whatIf = &run;
  machine = &pristine;
  stepLines.assign(1, Profile::kNoLine);

  std::string windowsDirectory;
  std::string headline = std::string("this machine runs ") + platformNameOf(detectPlatform());
  if (system.getWindowsDirectory(&windowsDirectory).ok) {
    headline += "; Windows directory " + windowsDirectory;
  }
  add(0, headline);

  RunWatch watch;
  watch.console = [this](const std::string& text, bool toErrors) {
    addConsoleText(text, toErrors);
  };
  watch.line = [this](std::size_t position) { beginStep(position); };

  // The installer is named after its profile and finds its catalogue and the
  // patch's files beside itself, which is beside the profile unless another
  // patch directory is given; "/p" hands it the profile where it lies.
  std::string name;
  pathSplit(profilePath, nullptr, nullptr, &name, nullptr);
  std::string program = pathJoin(patchDir, name + ".EXE");
  if (patchDir.empty()) {
    // Beside the profile, spelt as a program names its own path: the
    // directory, "\" and the name.
    std::size_t separator = profilePath.find_last_of("\\/:");
    program = separator == std::string::npos ? name + ".EXE"
              : profilePath[separator] == ':'
                  ? profilePath.substr(0, separator + 1) + name + ".EXE"
                  : profilePath.substr(0, separator) + "\\" + name + ".EXE";
  }
  platform::Backend* before = &system == &platform::getSystemBackend() ? nullptr : &system;
  platform::setBackend(&pristine);
  logPath = Profile(profilePath).getString("Patch", "LogFile", "");
  platform::setBackend(&run);
  std::vector<std::string> arguments = {"/p", profilePath};
  if (!removePatch.empty()) arguments = {"/r", removePatch};
  exitCode = runPatch(program, arguments, &watch);
  addConsoleText("\n", false);
  addConsoleText("\n", true);
  listStepChanges();
  listFileChanges();
  listRestartSteps();
  platform::setBackend(before);
  add(stepLines.size() - 1, "the run ends with exit code " + std::to_string(exitCode));

  // Each step's lines together, in the order the run takes the steps up.
  std::stable_sort(lines.begin(), lines.end(),
                   [](const PlanLine& a, const PlanLine& b) { return a.step < b.step; });
  whatIf = nullptr;
  machine = nullptr;
}

void PatchPlanner::beginStep(std::size_t position) {
  listStepChanges();
  stepLines.push_back(position);
  whatIf->setTag(stepLines.size() - 1);
}

void PatchPlanner::listStepChanges() {
  const std::size_t step = stepLines.size() - 1;
  for (const platform::WhatIfBackend::ChangedPath& changed : whatIf->getChangedPaths()) {
    if (changed.tag == step && hasExtension(changed.path, ".INI"))
      listIniChanges(changed.path, step);
  }
  for (const platform::WhatIfBackend::ChangedKey& changed : whatIf->getChangedKeys()) {
    if (changed.tag == step) {
      listKeyChange(changed.keyPath, changed.isValue, changed.valueName, step);
    }
  }
}

PatchPlanner::IniKeys PatchPlanner::iniKeysOf(platform::Backend& backend, const std::string& path) {
  IniKeys keys;
  std::string content;
  if (!readThrough(backend, path, &content)) return keys;
  LineReader reader(content);
  std::string line;
  std::string section;
  std::size_t count = 0;
  while (reader.next(&line)) {
    std::string text = trimmed(line);
    if (Profile::isSectionHeader(text)) {
      section = text;
      continue;
    }
    std::size_t equals = text.find('=');
    if (equals == std::string::npos || text[0] == ';') continue;
    std::string key = trimmed(text.substr(0, equals));
    std::string value = text.substr(equals + 1);
    if (isRestartList(path)) {
      // Its keys repeat ("NUL" for every deletion): each line counts.
      keys.emplace(folded(section) + "\n" + std::to_string(count++), key + "=" + value);
    } else {
      keys.emplace(folded(section + "\n" + key), section + " " + key + "=" + value);
    }
  }
  return keys;
}

void PatchPlanner::listIniChanges(const std::string& path, std::size_t step) {
  const std::string id = folded(path);
  auto seen = iniSeen.find(id);
  IniKeys before = seen != iniSeen.end() ? seen->second : iniKeysOf(*machine, path);
  IniKeys after = iniKeysOf(*whatIf, path);
  if (isRestartList(path)) {
    // New lines "DEST=SOURCE" of section [rename]; "NUL" deletes.
    std::vector<std::string> old;
    for (const auto& entry : before) old.push_back(entry.second);
    for (const auto& entry : after) {
      auto found = std::find(old.begin(), old.end(), entry.second);
      if (found != old.end()) {
        old.erase(found);
        continue;
      }
      std::size_t equals = entry.second.find('=');
      std::string destination = entry.second.substr(0, equals);
      std::string source = entry.second.substr(equals + 1);
      add(step, equalsNoCase(destination, "NUL")
                    ? "at the restart (WININIT.INI): deletes " + source
                    : "at the restart (WININIT.INI): renames " + source + " to " + destination);
    }
  } else {
    for (const auto& entry : after) {
      auto old = before.find(entry.first);
      if (old == before.end()) {
        add(step, "INI " + path + " " + entry.second + " (new key)");
      } else if (old->second != entry.second) {
        std::size_t equals = old->second.find('=');
        add(step, "INI " + path + " " + entry.second + " (was " +
                      quoted(old->second.substr(equals + 1)) + ")");
      }
    }
    for (const auto& entry : before) {
      if (after.count(entry.first) == 0) {
        add(step,
            "INI " + path + " " + entry.second.substr(0, entry.second.find('=')) + " deleted");
      }
    }
  }
  iniSeen[id] = after;
}

PatchPlanner::KeyState PatchPlanner::keyStateOf(platform::Backend& backend,
                                                const std::string& keyPath, bool isValue,
                                                const std::string& valueName) {
  KeyState state;
  platform::RegistryRoot root;
  std::string below;
  if (!splitKeyPath(keyPath, &root, &below)) return state;
  platform::RegistryKey key;
  if (!backend
           .openRegistryKey(backend.getRootKey(root), below.empty() ? nullptr : below.c_str(),
                            platform::RegistryAccess::kRead, &key)
           .ok) {
    return state;
  }
  state.exists = true;
  platform::RegistryValue value;
  if (isValue && backend.queryRegistryValue(key, valueName.c_str(), &value).ok) {
    state.value = value;
  }
  backend.closeRegistryKey(key);
  return state;
}

void PatchPlanner::listKeyChange(const std::string& keyPath, bool isValue,
                                 const std::string& valueName, std::size_t step) {
  const std::string id = folded(keyPath + (isValue ? "\n" + valueName : std::string()));
  auto seen = keysSeen.find(id);
  KeyState before =
      seen != keysSeen.end() ? seen->second : keyStateOf(*machine, keyPath, isValue, valueName);
  KeyState after = keyStateOf(*whatIf, keyPath, isValue, valueName);
  const std::string head = "REG " + keyPath + ": ";
  const std::string name = valueName.empty() ? "the default value" : quoted(valueName);
  if (isValue && !sameValue(before.value, after.value)) {
    if (after.value) {
      add(step, head + "sets " + name + " to " + valueText(*after.value) +
                    (before.value ? " (was " + valueText(*before.value) + ")" : " (new value)"));
    } else if (after.exists) {
      add(step, head + "deletes the value " + name);
    }
  } else if (!isValue && before.exists != after.exists) {
    add(step, head + (after.exists ? "creates the key" : "deletes the key"));
  }
  keysSeen[id] = after;
}

void PatchPlanner::listFileChanges() {
  for (const platform::WhatIfBackend::ChangedPath& changed : whatIf->getChangedPaths()) {
    if (!logPath.empty() && changed.path == logPath) {
      // A copy of what the run prints, which the plan shows line by line.
      add(changed.tag, "writes the log " + logPath);
      continue;
    }
    if (hasExtension(changed.path, ".INI")) {
      // Listed key by key at each step; only its coming or going is left.
      bool was = machine->testPath(changed.path).ok;
      bool is = whatIf->testPath(changed.path).ok;
      if (was != is) add(changed.tag, (is ? "creates " : "deletes ") + changed.path);
      continue;
    }
    PathState before = pathStateOf(*machine, changed.path);
    PathState after = pathStateOf(*whatIf, changed.path);
    std::string text;
    if (before.exists && !after.exists) {
      text = (before.isDirectory ? "removes the directory " : "deletes ") + changed.path;
    } else if (!before.exists && after.exists) {
      text = after.isDirectory ? "creates the directory " + changed.path
                               : "creates " + changed.path +
                                     fileText(after, whatIf->isStampedWhenWritten(changed.path));
    } else if (after.exists && !after.isDirectory &&
               (before.size != after.size || before.digest != after.digest ||
                before.stamp.date != after.stamp.date || before.stamp.time != after.stamp.time)) {
      text =
          "replaces " + changed.path + fileText(after, whatIf->isStampedWhenWritten(changed.path));
    } else if (after.exists && before.readOnly && !after.readOnly) {
      text = "clears the read-only attribute of " + changed.path;
    }
    if (!text.empty()) add(changed.tag, text);
  }
}

void PatchPlanner::listRestartSteps() {
  for (const platform::WhatIfBackend::RestartStep& step : whatIf->getRestartSteps()) {
    add(step.tag, step.isDeletion
                      ? "at the restart: deletes " + step.source
                      : "at the restart: renames " + step.source + " to " + step.destination);
  }
  for (const platform::WhatIfBackend::StartedProgram& started : whatIf->getStartedPrograms()) {
    std::string text = "starts " + started.program;
    for (std::size_t i = 1; i < started.arguments.size(); ++i) text += " " + started.arguments[i];
    add(started.tag, text);
  }
}
