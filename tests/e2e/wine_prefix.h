// The one Wine prefix that every end-to-end test of a run under Wine shares.
// It is made on first use (or when the test program starts, through a global
// test environment), keeps a persistent wineserver so that each wine command
// starts quickly, and is shut down and removed when the test program ends.
//
// The version of Windows that Wine plays for each kind the tests ask for
// comes from TVPAT_E2E_WINE_VERSIONS, "WIN95FAMILY,NT" in Wine's names (for
// example "win95,nt40"): the first for the Windows 95 family, the second for
// Windows NT, which is also what a test plays until it asks for another
// kind. Unset, the 95 family plays win98 and NT is Wine's own default. Win32s
// always plays win31.
#ifndef TESTS_E2E_WINE_PREFIX_H_
#define TESTS_E2E_WINE_PREFIX_H_

#include <string>
#include <vector>

#include "support/temp_dir.h"

class WinePrefix {
 public:
  // The prefix, made and booted on the first call; throws when Wine cannot
  // make it.
  static WinePrefix& get();
  // Stops the server and removes the prefix, if one was made.
  static void shutDown();

  // NAME=VALUE entries that point wine at this prefix and keep it quiet.
  const std::vector<std::string>& getEnvironment() const { return environment; }
  // The Linux path of the prefix's C:\windows.
  std::string getWindowsDir() const { return directory.getPath() + "/drive_c/windows"; }
  // The directory of tvlaunch.exe and tvhold.exe.
  const std::string& getToolsDir() const { return toolsDir; }
  // The Wine version name played for a kind of Windows (1 the 95 family, 2
  // NT, 4 Win32s); empty for Wine's own default.
  const std::string& getVersionFor(int kind) const;

  // Carries out the deferred steps as a restart of Windows does, and starts
  // the next session at once with a persistent server: a restart ends the
  // session and its server, and a server started later on demand lingers
  // only seconds, so the session after it would carry out steps registered
  // in between as if the machine had been restarted once more.
  int restart() const;

 private:
  WinePrefix();
  ~WinePrefix();

  TempDir directory;
  std::string toolsDir;
  std::string windows95Version;
  std::string ntVersion;
  std::string win32sVersion;
  std::vector<std::string> environment;
};

#endif  // TESTS_E2E_WINE_PREFIX_H_
