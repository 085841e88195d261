#include "e2e/plan_check.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char kStampedByTheRun[] = "stamped when written";

void addTree(const std::string& root, bool recursive, Snapshot* snapshot) {
  auto add = [&](const fs::directory_entry& entry) {
    struct stat info {};
    if (lstat(entry.path().c_str(), &info) != 0) return;
    long long stamp = info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec;
    std::string content;
    if (entry.is_regular_file()) {
      std::ifstream stream(entry.path(), std::ios::binary);
      content.assign(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
    } else if (!recursive) {
      return;
    }
    (*snapshot)[entry.path().string()] = {content, stamp};
  };
  if (recursive) {
    for (const auto& entry : fs::recursive_directory_iterator(root)) add(entry);
  } else {
    for (const auto& entry : fs::directory_iterator(root)) add(entry);
  }
}

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string extension(const std::string& path) {
  return lower(fs::path(path).extension().string());
}

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// The lines a console stream shows, as the plan quotes them: without the
// bell, blanks at either end and empty lines.
std::vector<std::string> shownLines(const std::string& output) {
  std::vector<std::string> lines;
  std::istringstream stream(output);
  std::string line;
  while (std::getline(stream, line)) {
    line.erase(std::remove(line.begin(), line.end(), '\a'), line.end());
    std::size_t begin = line.find_first_not_of(" \t\r");
    if (begin == std::string::npos) continue;
    lines.push_back(line.substr(begin, line.find_last_not_of(" \t\r") + 1 - begin));
  }
  return lines;
}

// A path as the program prints it, as the Linux path of the same file: the
// names on the way as the disk spells them, whatever case the profile used.
std::string hostPath(const Machine& machine, std::string path) {
  const std::string windows = machine.shownWindowsDir();
  if (machine.isWine() && lower(path.substr(0, windows.size())) == lower(windows)) {
    path = machine.getWindowsDir() + path.substr(windows.size());
  } else if (machine.isWine() && path.compare(0, 2, "Z:") == 0) {
    path = path.substr(2);
  }
  std::replace(path.begin(), path.end(), '\\', '/');
  fs::path resolved = "/";
  for (const fs::path& part : fs::path(path).relative_path()) {
    if (part == "." || part.empty()) continue;
    fs::path next = resolved / part;
    std::error_code error;
    if (!fs::exists(next, error) && fs::is_directory(resolved, error)) {
      for (const auto& entry : fs::directory_iterator(resolved, error)) {
        if (lower(entry.path().filename().string()) == lower(part.string())) next = entry.path();
      }
    }
    resolved = part == ".." ? resolved.parent_path() : next;
  }
  return resolved.string();
}

// A DOS stamp of a last-write time, in local time, as the plan shows it.
std::string stampText(long long nanoseconds) {
  std::time_t seconds = static_cast<std::time_t>(nanoseconds / 1000000000LL);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec / 2 * 2);
  return text;
}

// The keys of an INI text, "[SECTION] KEY" in lower case to the value.
std::map<std::string, std::string> iniKeys(const std::string& content) {
  std::map<std::string, std::string> keys;
  std::string section;
  for (const std::string& line : shownLines(content)) {
    if (line.front() == '[') {
      section = lower(line);
      continue;
    }
    std::size_t equals = line.find('=');
    if (equals == std::string::npos || line.front() == ';') continue;
    std::string key = line.substr(0, equals);
    key.erase(key.find_last_not_of(" \t") + 1);
    keys.emplace(section + " " + lower(key), line.substr(equals + 1));
  }
  return keys;
}

// The lines of section [rename] of a WININIT.INI text.
std::vector<std::string> renameLines(const std::string& content) {
  std::vector<std::string> lines;
  bool inRename = false;
  for (const std::string& line : shownLines(content)) {
    if (line.front() == '[') {
      inRename = lower(line) == "[rename]";
    } else if (inRename) {
      lines.push_back(line);
    }
  }
  return lines;
}

const std::pair<std::string, long long>* find(const Snapshot& snapshot, const std::string& path) {
  auto found = snapshot.find(path);
  return found == snapshot.end() ? nullptr : &found->second;
}

// What the plan says of a machine, line by line.
struct Plan {
  std::vector<std::string> prints;
  std::vector<std::string> printsError;
  int exitCode = -1;
  std::set<std::string> paths;
  // Host path and "[SECTION] KEY" to the value, or none for a deletion.
  std::map<std::pair<std::string, std::string>, std::optional<std::string>> iniKeys;
  std::map<std::pair<std::string, std::string>, std::optional<std::string>> values;
  std::map<std::string, bool> keys;
  // Source and destination (empty: a deletion) of the steps of a restart.
  std::vector<std::pair<std::string, std::string>> restartSteps;
  std::vector<std::string> wininitLines;
  bool startsProgram = false;
  // The run names its copies (in ARCHIVE\TEMP, and the .~KP files it keeps
  // until its end) after its process number, which no plan knows: each
  // planned name to the name the run gave the same file.
  std::map<std::string, std::string> temporaryNames;
};

bool isTemporaryName(const std::string& hostPath) {
  return lower(hostPath).find("/archive/temp/") != std::string::npos ||
         lower(fs::path(hostPath).extension().string()) == ".~kp";
}

// Reads the plan lines and checks at once what the run left in files.
Plan readPlan(const Machine& machine, const std::string& output, const Snapshot& before,
              const Snapshot& after) {
  Plan plan;
  std::istringstream stream(output);
  std::string line;
  while (std::getline(stream, line)) {
    std::size_t marker = line.find(": plan: ");
    if (marker == std::string::npos) continue;
    const std::string text = line.substr(marker + 8);
    SCOPED_TRACE(text);
    auto pathAfter = [&](std::size_t start, const std::string& until) {
      std::string path = hostPath(machine, text.substr(start, text.find(until, start) - start));
      plan.paths.insert(path);
      return path;
    };
    if (startsWith(text, "prints: ")) {
      plan.prints.push_back(text.substr(8));
    } else if (startsWith(text, "prints error: ")) {
      plan.printsError.push_back(text.substr(14));
    } else if (startsWith(text, "the run ends with exit code ")) {
      plan.exitCode = std::stoi(text.substr(28));
    } else if (startsWith(text, "writes the log ")) {
      EXPECT_TRUE(fs::exists(
          hostPath(machine, machine.shown(machine.getPatchDir()) + "\\" + text.substr(15))));
      plan.paths.insert(
          hostPath(machine, machine.shown(machine.getPatchDir()) + "\\" + text.substr(15)));
    } else if (startsWith(text, "creates the directory ")) {
      EXPECT_TRUE(fs::is_directory(pathAfter(22, "\n")));
    } else if (startsWith(text, "removes the directory ") || startsWith(text, "deletes ")) {
      EXPECT_FALSE(fs::exists(pathAfter(startsWith(text, "deletes ") ? 8 : 22, "\n")));
    } else if (startsWith(text, "starts ")) {
      plan.startsProgram = true;
    } else if (startsWith(text, "creates ") || startsWith(text, "replaces ")) {
      std::size_t start = text.find(' ') + 1;
      std::string path = pathAfter(start, " (");
      std::size_t facts = text.find(" (", start);
      if (isTemporaryName(path)) {
        // The new file of the same size and stamp in the same directory.
        for (const auto& [name, file] : after) {
          if (fs::path(name).parent_path() == fs::path(path).parent_path() &&
              before.count(name) == 0 && plan.paths.count(name) == 0 &&
              text.substr(facts) == " (" + std::to_string(file.first.size()) + " bytes, stamped " +
                                        stampText(file.second) + ")") {
            plan.temporaryNames[path] = name;
            plan.paths.insert(name);
            break;
          }
        }
        EXPECT_EQ(1u, plan.temporaryNames.count(path)) << path;
        continue;
      }
      const auto* file = find(after, path);
      if (file == nullptr) {
        ADD_FAILURE() << path << " is not there";
      } else if (fs::path(path).filename() == "TVRUN.JNL" || extension(path) == ".und") {
        // The journal and the undo data name the copies too.
      } else if (text.find(kStampedByTheRun) != std::string::npos) {
        // A file the run writes without giving it a stamp bears the time of
        // the run, which no plan knows.
        EXPECT_EQ(text.substr(facts),
                  " (" + std::to_string(file->first.size()) + " bytes, " + kStampedByTheRun + ")");
      } else if (facts != std::string::npos) {
        EXPECT_EQ(text.substr(facts), " (" + std::to_string(file->first.size()) +
                                          " bytes, stamped " + stampText(file->second) + ")");
      }
    } else if (startsWith(text, "clears the read-only attribute of ")) {
      struct stat info {};
      EXPECT_EQ(0, stat(pathAfter(34, "\n").c_str(), &info));
      EXPECT_NE(0u, info.st_mode & S_IWUSR);
    } else if (startsWith(text, "INI ")) {
      std::size_t section = text.find(" [");
      std::string path = hostPath(machine, text.substr(4, section - 4));
      std::string setting = text.substr(section + 1);
      std::size_t close = setting.find("] ");
      std::string head = lower(setting.substr(0, close + 1));
      std::string rest = setting.substr(close + 2);
      std::size_t equals = rest.find('=');
      if (equals == std::string::npos) {
        plan.iniKeys[{path, head + " " + lower(rest.substr(0, rest.rfind(" deleted")))}] =
            std::nullopt;
      } else {
        plan.iniKeys[{path, head + " " + lower(rest.substr(0, equals))}] =
            rest.substr(equals + 1, rest.rfind(" (") - equals - 1);
      }
    } else if (startsWith(text, "REG ")) {
      std::size_t colon = text.find(": ");
      std::string key = text.substr(4, colon - 4);
      std::string action = text.substr(colon + 2);
      auto valueName = [](std::string name) {
        return name == "the default value" ? std::string() : name.substr(1, name.size() - 2);
      };
      if (startsWith(action, "sets ")) {
        std::size_t to = action.find(" to ");
        std::string value = action.substr(to + 4, action.rfind(" (") - to - 4);
        if (value.front() == '"') {
          plan.values[{key, valueName(action.substr(5, to - 5))}] =
              value.substr(1, value.size() - 2);
        }
      } else if (startsWith(action, "deletes the value ")) {
        plan.values[{key, valueName(action.substr(18))}] = std::nullopt;
      } else {
        plan.keys[key] = action == "creates the key";
        // Whatever was set below a deleted key goes with it.
        const std::string below = lower(key);
        auto isBelow = [&](const std::string& other) {
          std::string name = lower(other);
          return name == below || startsWith(name, below + "\\");
        };
        for (auto value = plan.values.begin(); value != plan.values.end();) {
          value = isBelow(value->first.first) ? plan.values.erase(value) : std::next(value);
        }
        for (auto& [other, exists] : plan.keys) {
          if (isBelow(other)) exists = action == "creates the key" && other == key;
        }
      }
    } else if (startsWith(text, "at the restart: deletes ")) {
      plan.restartSteps.emplace_back(text.substr(24), "");
    } else if (startsWith(text, "at the restart: renames ")) {
      std::size_t to = text.find(" to ", 24);
      plan.restartSteps.emplace_back(text.substr(24, to - 24), text.substr(to + 4));
    } else if (startsWith(text, "at the restart (WININIT.INI): deletes ")) {
      plan.wininitLines.push_back("NUL=" + text.substr(38));
    } else if (startsWith(text, "at the restart (WININIT.INI): renames ")) {
      std::size_t to = text.find(" to ", 38);
      plan.wininitLines.push_back(text.substr(to + 4) + "=" + text.substr(38, to - 38));
    }
  }
  return plan;
}

// The registry as REGEDIT4 text without the keys that hold no value: a key
// above another exists whether or not the file names it.
std::string valuesOf(const std::string& registry) {
  std::istringstream lines(registry);
  std::string line;
  std::string header;
  std::string text;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.front() == '[') {
      header = line;
    } else if (!line.empty() && !header.empty() && line != "REGEDIT4") {
      text += header + " " + line + "\n";
    }
  }
  return text;
}

}  // namespace

Snapshot snapshot(const Machine& machine) {
  Snapshot result;
  addTree(machine.getProductDir(), true, &result);
  addTree(machine.getPatchDir(), true, &result);
  addTree(machine.getWindowsDir(), !machine.isWine(), &result);
  result["(registry)"] = {machine.registryText(), 0};
  return result;
}

std::string expectPlanIsTheRun(Machine& machine, const std::string& removePatch) {
  const Snapshot before = snapshot(machine);
  std::vector<std::string> checked = {"--plan", machine.shown(machine.getProfilePath())};
  std::vector<std::string> arguments;
  if (!removePatch.empty()) {
    checked.insert(checked.begin() + 1, {"--remove", removePatch});
    arguments = {"/r", removePatch};
  }
  RunResult planned = machine.runChecker(checked);
  SCOPED_TRACE(planned.out + planned.err);
  EXPECT_TRUE(before == snapshot(machine)) << "--plan changed the machine";

  RunResult run = machine.run(arguments);
  SCOPED_TRACE("the run printed:\n" + run.out + run.err);
  const Snapshot after = snapshot(machine);
  Plan plan = readPlan(machine, planned.out, before, after);
  std::vector<std::string> out = shownLines(run.out);
  std::vector<std::string> err = shownLines(run.err);
  if (plan.startsProgram) {
    // What the started program prints is its own.
    out.resize(std::min(out.size(), plan.prints.size()));
    err.resize(std::min(err.size(), plan.printsError.size()));
  }
  EXPECT_EQ(plan.prints, out);
  EXPECT_EQ(plan.printsError, err);
  auto named = [&](std::string path) {
    auto alias = plan.temporaryNames.find(hostPath(machine, path));
    if (alias == plan.temporaryNames.end()) return path;
    return path.substr(0, path.find_last_of("\\/") + 1) +
           fs::path(alias->second).filename().string();
  };
  for (auto& [source, destination] : plan.restartSteps) source = named(source);
  for (std::string& line : plan.wininitLines) {
    std::size_t equals = line.find('=');
    line = line.substr(0, equals + 1) + named(line.substr(equals + 1));
  }
  EXPECT_EQ(plan.exitCode, run.exitCode);

  // Every change the run made is planned, file by file and key by key.
  const std::string wininit = hostPath(machine, machine.shownWindowsDir() + "\\WININIT.INI");
  std::set<std::string> names;
  for (const auto& entry : before) names.insert(entry.first);
  for (const auto& entry : after) names.insert(entry.first);
  for (const std::string& path : names) {
    const auto* was = find(before, path);
    const auto* is = find(after, path);
    // The stand-ins keep the registry and the restart's steps in files of
    // their own, which are compared as such below.
    const std::string name = fs::path(path).filename().string();
    if ((was != nullptr && is != nullptr && (*was == *is || fs::is_directory(path))) ||
        path == "(registry)" || plan.paths.count(path) != 0 || name == "PENDMOVE.TXT" ||
        name == "REGISTRY.REG") {
      continue;
    }
    if (path == wininit) {
      std::vector<std::string> added = renameLines(is != nullptr ? is->first : "");
      for (const std::string& line : renameLines(was != nullptr ? was->first : "")) {
        auto found = std::find(added.begin(), added.end(), line);
        if (found != added.end()) added.erase(found);
      }
      EXPECT_EQ(plan.wininitLines, added);
    } else if (extension(path) == ".ini" && was != nullptr && is != nullptr) {
      auto old = iniKeys(was->first);
      auto now = iniKeys(is->first);
      for (const auto& [key, value] : now) {
        auto found = old.find(key);
        if (found == old.end() || found->second != value) {
          auto planned = plan.iniKeys.find({path, key});
          EXPECT_TRUE(planned != plan.iniKeys.end() && planned->second == value)
              << path << " " << key << "=" << value << " was not planned";
        }
      }
      for (const auto& [key, value] : old) {
        if (now.count(key) == 0) {
          auto planned = plan.iniKeys.find({path, key});
          EXPECT_TRUE(planned != plan.iniKeys.end() && !planned->second)
              << path << " " << key << " deleted, not planned";
        }
      }
    } else {
      ADD_FAILURE() << path << " changed, not planned";
    }
  }
  for (const auto& [place, value] : plan.iniKeys) {
    const auto* file = find(after, place.first);
    auto keys = iniKeys(file != nullptr ? file->first : "");
    auto found = keys.find(place.second);
    EXPECT_EQ(value, found == keys.end() ? std::nullopt : std::optional<std::string>(found->second))
        << place.first << " " << place.second;
  }
  for (const auto& [place, value] : plan.values) {
    EXPECT_EQ(value, machine.getRegistryValue(place.first, place.second))
        << place.first << " " << place.second;
  }
  for (const auto& [key, exists] : plan.keys)
    EXPECT_EQ(exists, machine.registryKeyExists(key)) << key;
  if (find(before, "(registry)")->first != find(after, "(registry)")->first) {
    EXPECT_FALSE(plan.values.empty() && plan.keys.empty()) << "the registry changed, not planned";
  }
  if (!machine.isWine() || !plan.restartSteps.empty()) {
    EXPECT_EQ(plan.restartSteps, machine.getPendingMoves());
  }

  // The restart carries out the planned steps, in order, on what the run
  // left.
  std::map<std::string, std::optional<std::string>> expected;
  auto contentAfterRun = [&](const std::string& path) -> std::optional<std::string> {
    auto found = expected.find(path);
    if (found != expected.end()) return found->second;
    const auto* file = find(after, path);
    return file != nullptr ? std::optional<std::string>(file->first) : std::nullopt;
  };
  for (const auto& [source, destination] : plan.restartSteps) {
    std::string from = hostPath(machine, source);
    if (!destination.empty()) expected[hostPath(machine, destination)] = contentAfterRun(from);
    expected[from] = std::nullopt;
  }
  for (const std::string& line : plan.wininitLines) {
    std::size_t equals = line.find('=');
    std::string from = hostPath(machine, line.substr(equals + 1));
    if (lower(line.substr(0, equals)) != "nul") {
      expected[hostPath(machine, line.substr(0, equals))] = contentAfterRun(from);
    }
    expected[from] = std::nullopt;
  }
  if (!expected.empty()) {
    machine.restart();
    for (const auto& [path, content] : expected) {
      EXPECT_EQ(content, machine.readFile(path)) << path << " after the restart";
    }
  }
  return planned.out;
}

Snapshot restorable(const Machine& machine) {
  Snapshot kept;
  for (auto& [path, file] : snapshot(machine)) {
    const std::string name = lower(path);
    if (name.find("/archive") != std::string::npos ||
        path.compare(0, machine.getPatchDir().size(), machine.getPatchDir()) == 0 ||
        name.find("wininit.bak") != std::string::npos ||
        name.find("registry.reg") != std::string::npos || fs::is_directory(path)) {
      continue;
    }
    if (path == "(registry)") {
      kept[path] = {valuesOf(file.first), 0};
    } else if (lower(fs::path(path).extension().string()) == ".ini") {
      // Every edit writes CR LF line ends, as Windows keeps them.
      std::string text = file.first;
      text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
      kept[path] = {text, 0};
    } else {
      kept[path] = file;
    }
  }
  return kept;
}

void expectSame(const Snapshot& expected, const Snapshot& actual) {
  for (const auto& [path, file] : expected) {
    auto now = actual.find(path);
    if (now == actual.end()) {
      ADD_FAILURE() << path << " is gone";
    } else {
      EXPECT_EQ(file, now->second) << path;
    }
  }
  for (const auto& entry : actual) {
    EXPECT_EQ(1u, expected.count(entry.first)) << entry.first << " was left";
  }
}
