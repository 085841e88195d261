// PatchSealer seals a patch for its author: it works out which files of the
// patch directory a run takes, writes their seal beside the profile, and
// tells when an existing seal no longer matches them. The caller owns the
// profile, which must outlive the sealer; a sealer is used for one profile.
#ifndef TOOLS_TVPCHECK_PATCH_SEALER_H_
#define TOOLS_TVPCHECK_PATCH_SEALER_H_

#include <string>
#include <vector>

class Profile;

class PatchSealer {
 public:
  // entryFiles: the patch files the profile's entries install, as the
  // profile checker found them in patchDir.
  PatchSealer(const std::string& profilePath, const std::string& patchDir, Profile* profile,
              const std::vector<std::string>& entryFiles);

  // The names a run takes from the patch directory, each once: the profile,
  // the files named after it (the program and its catalogue; never the seal
  // or the log), the reboot program where the patch brings it, and
  // entryFiles.
  std::vector<std::string> getFileNames() const;

  const std::string& getSealPath() const { return sealPath; }

  // Measures every file and writes the seal whole. Returns the number of
  // files sealed, or -1 after setting *problem to what went wrong.
  int seal(std::string* problem) const;

  // One "SEAL:LINE: warning: TEXT" line per file that no longer matches an
  // existing seal, and "SEAL: warning: TEXT" per file the seal lacks; empty
  // when there is no seal. *count is set to the number of lines.
  std::string checkSeal(int* count) const;

 private:
  std::string profilePath;
  std::string patchDir;
  Profile* profile;
  std::vector<std::string> entryFiles;
  std::string sealPath;
};

#endif  // TOOLS_TVPCHECK_PATCH_SEALER_H_
