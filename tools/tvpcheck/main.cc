// tvpcheck [--seal] [--plan [--remove PATCH]] [--patch-dir DIR] PROFILE.DAT
// tvpcheck --version
//
// Checks an installation profile for patch authors and prints one
// compiler-style diagnostic a line, "PROFILE:LINE: error: TEXT" or
// "PROFILE:LINE: warning: TEXT", then "N errors, M warnings". A seal beside
// the profile that no longer matches the patch's files adds a warning per
// file. With --seal, a profile without errors is sealed: the seal (PROFILE
// with the extension .SUM) is written anew. With --plan it then reads this
// machine as the installer would and prints what a run would do here, entry
// by entry, changing nothing. Exit code 0 without errors, 1 with errors, 2
// when the arguments are wrong, the profile cannot be read or the seal cannot
// be written.
#include <cstdio>
#include <string>
#include <vector>

#include "base/error.h"
#include "patch_planner.h"
#include "patch_sealer.h"
#include "path/path_name.h"
#include "platform/files.h"
#include "profile/profile.h"
#include "profile_checker.h"

// The kit's version, which the build gives.
#ifndef TVPAT_KIT_VERSION
#define TVPAT_KIT_VERSION "(unknown)"
#endif

namespace {

constexpr int kExitClean = 0;
constexpr int kExitErrors = 1;
constexpr int kExitUnusable = 2;

int usage() {
  std::fprintf(stderr,
               "usage: tvpcheck [--seal] [--plan [--remove PATCH]] [--patch-dir DIR] "
               "PROFILE.DAT\n");
  return kExitUnusable;
}

// A profile that exists as a file and opens for reading; a missing one would
// read as an empty profile, which is no check at all.
bool isReadableFile(const std::string& path) {
  std::vector<platform::DirectoryEntry> entries;
  if (platform::listDirectory(path, &entries).ok) return false;
  platform::FileHandle file;
  if (!platform::openFileForReading(path, &file).ok) return false;
  platform::closeFile(file);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool plan = false;
  bool seal = false;
  std::string removePatch;
  std::string patchDir;
  bool patchDirGiven = false;
  std::string profilePath;
  for (int index = 1; index < argc; ++index) {
    std::string argument = argv[index];
    if (argument == "--version" && argc == 2) {
      std::printf("tvpcheck %s\n", TVPAT_KIT_VERSION);
      return kExitClean;
    }
    if (argument == "--plan") {
      plan = true;
    } else if (argument == "--seal") {
      seal = true;
    } else if (argument == "--remove") {
      if (index + 1 >= argc) return usage();
      removePatch = argv[++index];
    } else if (argument == "--patch-dir") {
      if (index + 1 >= argc) return usage();
      patchDir = argv[++index];
      patchDirGiven = true;
    } else if (!argument.empty() && argument[0] == '-') {
      return usage();
    } else if (profilePath.empty()) {
      profilePath = argument;
    } else {
      return usage();
    }
  }
  if (profilePath.empty() || (!removePatch.empty() && !plan)) return usage();
  if (!patchDirGiven) patchDir = pathDriveDir(profilePath);

  if (!isReadableFile(profilePath)) {
    std::fprintf(stderr, "tvpcheck: %s cannot be read\n", profilePath.c_str());
    return kExitUnusable;
  }
  try {
    Profile profile(profilePath);
    ProfileChecker checker(&profile, patchDir);
    checker.check();
    std::fputs(checker.format(profilePath).c_str(), stdout);
    int warnings = checker.getWarningCount();
    PatchSealer sealer(profilePath, patchDir, &profile, checker.getPatchFiles());
    if (!seal) {
      int stale = 0;
      std::fputs(sealer.checkSeal(&stale).c_str(), stdout);
      warnings += stale;
    } else if (checker.getErrorCount() == 0) {
      std::string problem;
      int sealed = sealer.seal(&problem);
      if (sealed < 0) {
        std::fprintf(stderr, "tvpcheck: the patch is not sealed: %s\n", problem.c_str());
        return kExitUnusable;
      }
      std::printf("%s: sealed %d files\n", sealer.getSealPath().c_str(), sealed);
    }
    if (plan) {
      PatchPlanner planner(profilePath, patchDirGiven ? patchDir : std::string(), removePatch);
      planner.plan();
      std::fputs(planner.format(profilePath).c_str(), stdout);
    }
    std::printf("%d errors, %d warnings\n", checker.getErrorCount(), warnings);
    if (seal && checker.getErrorCount() > 0) {
      std::fprintf(stderr, "tvpcheck: the patch is not sealed: correct the errors first\n");
    }
    return checker.getErrorCount() == 0 ? kExitClean : kExitErrors;
  } catch (const Error& error) {
    std::fprintf(stderr, "tvpcheck: %s: error %d: %s\n", profilePath.c_str(),
                 error.getErrorNumber(), error.getErrorMessage().c_str());
    return kExitUnusable;
  }
}
