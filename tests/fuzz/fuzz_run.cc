// Fuzzes a whole run: the input is an installation profile (optionally
// followed by "\0TAVRO\0" and the product root's TAVRO.INI), carried out by
// the real engine on a scratch machine: a Windows directory, a product root
// with an older installed file, a patch directory and a registry file. The
// run is jailed: a fault hook refuses every file call outside the scratch
// directory and every process start, so no profile can reach the rest of the
// disk. The ends of a run that exit the process are left out: every condition
// line is tested and every section carried out directly.
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "base/error.h"
#include "config/config_data.h"
#include "engine/data_file.h"
#include "messages/nls_class.h"
#include "platform/posix/test_hooks.h"
#include "profile/profile.h"
#include "support/fuzz_check.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using platform::testing::Call;

namespace {

// The catalogue and the fixed time stamps live beside the machine directory,
// which is emptied (not removed: it is the current directory) per input.
struct Setting {
  TempDir scratch;
  std::string machine;
  std::unique_ptr<NLSClass> messages;
  fs::file_time_type stamp;
};

Setting& setting() {
  static Setting* made = [] {
    Setting* fresh = new Setting();
    fresh->machine = fresh->scratch.file("M");
    std::string catalogue;
    for (int n = 1; n <= 60; ++n) catalogue += "Message " + std::to_string(n) + "\r\n";
    fresh->scratch.write("TVPAT32.MSG", catalogue);
    fresh->messages = std::make_unique<NLSClass>(fresh->scratch.file("TVPAT32.MSG"));
    fresh->messages->load();
    fresh->stamp = fs::last_write_time(fresh->scratch.file("TVPAT32.MSG"));
    fs::create_directory(fresh->machine);
    fs::current_path(fresh->machine);
    setenv("WINDIR", (fresh->machine + "/WIN").c_str(), 1);
    setenv("TVPAT_REGISTRY", (fresh->machine + "/WIN/REGISTRY.REG").c_str(), 1);
    setenv("TEMP", (fresh->machine + "/TEMP").c_str(), 1);
    std::atexit([] { delete made; });
    return fresh;
  }();
  return *made;
}

// Whether the backend would reach a path inside the machine directory. It
// takes both separators, and relative paths from the current directory,
// which is the machine directory; nothing in the run makes links, so a
// lexical look at ".." is exact.
bool isInsideMachine(const std::string& path) {
  std::string slashed = path;
  for (char& c : slashed) {
    if (c == '\\') c = '/';
  }
  fs::path full = fs::path(slashed);
  if (!full.is_absolute()) full = fs::path(setting().machine) / full;
  std::string normal = full.lexically_normal().string();
  const std::string& root = setting().machine;
  if (normal.compare(0, root.size(), root) != 0) return false;
  return normal.size() == root.size() || normal[root.size()] == '/';
}

int jail(Call call, const std::string& path) {
  switch (call) {
    case Call::kStartProcess:
      return EACCES;
    // Registry calls name keys, not files; the registry file itself lies in
    // the Windows directory of the machine.
    case Call::kOpenRegistryKey:
    case Call::kCreateRegistryKey:
    case Call::kQueryRegistryDefaultValue:
    case Call::kSetRegistryString:
    case Call::kDeleteRegistryValue:
    case Call::kDeleteRegistryKey:
    case Call::kCountRegistrySubkeys:
    case Call::kEnumerateRegistrySubkey:
    case Call::kCloseRegistryKey:
    case Call::kGetWindowsDirectory:
      return 0;
    default:
      return isInsideMachine(path) ? 0 : EACCES;
  }
}

void makeMachine(const std::string& rootIniText) {
  Setting& current = setting();
  for (const fs::directory_entry& entry : fs::directory_iterator(current.machine)) {
    fs::remove_all(entry.path());
  }
  TempDir& s = current.scratch;
  s.write("M/WIN/TAVRO.INI", "[Tavro]\r\nroot=" + current.machine + "/ROOT\r\n");
  s.write("M/WIN/REGISTRY.REG",
          "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Tavro]\r\n@=\"2.0\"\r\n\r\n");
  s.write("M/ROOT/TAVRO.INI", rootIniText);
  s.write("M/ROOT/BIN/NEWDRV.DLL", "old driver\r\n");
  s.write("M/PATCH/NEWDRV.DLL", "new driver\r\n");
  s.write("M/PATCH/README.TXT", "Product in \\TAVRO, Windows in \\WINDOWS, \\\\ stays.\r\n");
  s.write("M/PATCH/LANG.TBL", "en\r\n");
  fs::create_directory(current.machine + "/TEMP");
  // Fixed stamps keep every copy decision the same from run to run.
  for (const char* name : {"PATCH/NEWDRV.DLL", "PATCH/README.TXT", "PATCH/LANG.TBL"}) {
    fs::last_write_time(current.machine + "/" + name, current.stamp);
  }
  fs::last_write_time(current.machine + "/ROOT/BIN/NEWDRV.DLL",
                      current.stamp - std::chrono::hours(24));
}

// The names of the profile's sections, each once, in the order they stand.
std::vector<std::string> sectionNames(const Profile& profile) {
  std::vector<std::string> names;
  std::set<std::string> seen;
  for (std::size_t i = 0; i < profile.lineCount() && names.size() < 16; ++i) {
    const std::string& line = profile.line(i);
    if (!Profile::isSectionHeader(line)) continue;
    std::size_t open = line.find('[');
    std::size_t close = line.find(']', open);
    std::string name = line.substr(open + 1, close == std::string::npos ? close : close - open - 1);
    if (seen.insert(name).second) names.push_back(name);
  }
  return names;
}

void run(const std::string& profilePath, int flags) {
  Setting& current = setting();
  Profile windowsIni(current.machine + "/WIN/TAVRO.INI");
  Profile rootIni(current.machine + "/ROOT/TAVRO.INI");
  ConfigData config;
  config.setWindowsIni(&windowsIni);
  config.setRootIni(&rootIni);
  config.setWindowsDir(current.machine + "/WIN");
  config.setRootDir(current.machine + "/ROOT");
  config.setProgramDir(current.machine + "/PATCH\\");
  const int platforms[] = {kPlatformWindows95, kPlatformWindowsNt, kPlatformWin32s};
  config.setPlatform(platforms[flags % 3]);
  config.setInteractive(1);
  config.setDebug((flags >> 2) & 1);
  config.setForce((flags >> 3) & 1);
  config.setBackup(((flags >> 4) & 1) ^ 1);

  DataFile dataFile(profilePath, &config, current.messages.get());
  Profile profile(profilePath);
  dataFile.createArchiveDirectories();
  std::string patch = profile.getString("Patch", "Patch", "");
  int nextPatch = 0;
  bool installed = !patch.empty() && dataFile.isPatchInstalled(patch.c_str(), &nextPatch);
  std::size_t header = profile.findSection("Patch");
  if (header != Profile::kNoLine) {
    for (std::size_t i = header + 1; i < profile.lineCount() && i < header + 64; ++i) {
      if (Profile::isSectionHeader(profile.line(i))) break;
      std::string line = profile.line(i);
      if (line.compare(0, 9, "Condition") == 0) dataFile.testCondition(line);
    }
  }
  for (const std::string& name : sectionNames(profile)) {
    // A critical error ends a real run; here the next section goes on, so
    // that one failing entry does not hide the rest of the profile.
    try {
      dataFile.processSection(name);
    } catch (const Error&) {
    }
  }
  if (!patch.empty() && !installed) {
    dataFile.recordPatch(0, nextPatch, patch);
    dataFile.recordPatch(1, nextPatch, patch);
  }
}

// Whatever the hook refused must not have happened some other way: beside
// the machine directory only the catalogue stands, as it was made.
void checkJail() {
  Setting& current = setting();
  for (const fs::directory_entry& entry : fs::directory_iterator(current.scratch.getPath())) {
    std::string name = entry.path().filename().string();
    fuzzCheck(name == "M" || name == "TVPAT32.MSG", "fuzz_run",
              ("the run reached " + entry.path().string()).c_str());
  }
  fuzzCheck(fs::exists(current.scratch.file("TVPAT32.MSG")) &&
                fs::last_write_time(current.scratch.file("TVPAT32.MSG")) == current.stamp,
            "fuzz_run", "the run changed the catalogue beside the machine");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  std::string rootIniText = "[Install]\r\nPatch0=OLD1\r\n\r\n[Version]\r\nLevel=2.0\r\n";
  static const std::string kSplit("\0TAVRO\0", 7);
  std::size_t split = input.find(kSplit);
  if (split != std::string::npos) {
    rootIniText = input.substr(split + kSplit.size());
    input.resize(split);
  }
  int flags = size > 0 ? data[size - 1] : 0;
  makeMachine(rootIniText);
  setting().scratch.write("M/PATCH/TVPAT32.DAT", input);

  platform::testing::setFaultHook(jail);
  try {
    run(setting().machine + "/PATCH/TVPAT32.DAT", flags);
  } catch (const Error&) {
    // The run driver reports these and ends; the objects above are gone.
  }
  platform::testing::setFaultHook(nullptr);
  checkJail();
  return 0;
}
