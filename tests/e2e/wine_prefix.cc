#include "e2e/wine_prefix.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include <gtest/gtest.h>

extern char** environ;

namespace {

WinePrefix* instance = nullptr;

// Runs a wine program to its end with the prefix's variables added to this
// process's environment; its output is left on the test's console.
int runWine(const std::vector<std::string>& command, const std::vector<std::string>& extra) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) entries.push_back(*entry);
  entries.insert(entries.end(), extra.begin(), extra.end());
  std::vector<char*> argv;
  for (const std::string& argument : command) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& entry : entries) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    execvpe(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Makes the prefix before the first test, so that its ten seconds are not
// charged to whichever test happens to come first, and removes it at the end.
class WineEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    const char* target = std::getenv("TVPAT_E2E_TARGET");
    if (target != nullptr && std::string(target) == "wine") WinePrefix::get();
  }
  void TearDown() override { WinePrefix::shutDown(); }
};

::testing::Environment* const registered = ::testing::AddGlobalTestEnvironment(new WineEnvironment);

}  // namespace

WinePrefix& WinePrefix::get() {
  if (instance == nullptr) instance = new WinePrefix;
  return *instance;
}

const std::string& WinePrefix::getVersionFor(int kind) const {
  if (kind == 1) return windows95Version;
  if (kind == 4) return win32sVersion;
  return ntVersion;
}

void WinePrefix::shutDown() {
  delete instance;
  instance = nullptr;
}

WinePrefix::WinePrefix() {
  const char* tools = std::getenv("TVPAT_E2E_TOOLS");
  if (tools == nullptr || *tools == '\0') {
    throw std::runtime_error("the Wine tests need TVPAT_E2E_TOOLS (tvlaunch.exe, tvhold.exe)");
  }
  toolsDir = tools;
  windows95Version = "win98";
  win32sVersion = "win31";
  const char* versions = std::getenv("TVPAT_E2E_WINE_VERSIONS");
  if (versions != nullptr && *versions != '\0') {
    std::string text = versions;
    size_t comma = text.find(',');
    if (comma == 0 || comma == std::string::npos || comma + 1 == text.size()) {
      throw std::runtime_error("TVPAT_E2E_WINE_VERSIONS must read WIN95FAMILY,NT, not " + text);
    }
    windows95Version = text.substr(0, comma);
    ntVersion = text.substr(comma + 1);
  }
  environment = {"WINEPREFIX=" + directory.getPath(), "WINEDEBUG=-all",
                 // Without these the first start offers to install Mono and Gecko.
                 "WINEDLLOVERRIDES=mscoree,mshtml="};
  if (runWine({"wine", "wineboot", "-i"}, environment) != 0) {
    throw std::runtime_error("wineboot -i failed for " + directory.getPath());
  }
  // A persistent server spares every later wine command its start-up.
  runWine({"wineserver", "-p"}, environment);
  // Every test starts as Windows NT.
  if (!ntVersion.empty() && runWine({"wine", "reg", "add", "HKCU\\Software\\Wine", "/v", "Version",
                                     "/d", ntVersion, "/f"},
                                    environment) != 0) {
    throw std::runtime_error("cannot make Wine play " + ntVersion);
  }
}

int WinePrefix::restart() const {
  // wineboot -r carries out WININIT.INI and the pending renames before it
  // returns.
  int status = runWine({"wine", "wineboot", "-r"}, environment);
  runWine({"wineserver", "-k"}, environment);
  runWine({"wineserver", "-p"}, environment);
  runWine({"wine", "wineboot", "-i"}, environment);
  return status;
}

WinePrefix::~WinePrefix() {
  // The server goes before the directory it serves (removed with the
  // TempDir).
  runWine({"wineserver", "-k"}, environment);
}
