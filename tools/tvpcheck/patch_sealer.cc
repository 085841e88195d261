#include "patch_sealer.h"

#include <set>
#include <string>
#include <vector>

#include "base/ascii_text.h"
#include "fileops/patch_seal.h"
#include "path/path_name.h"
#include "platform/files.h"
#include "profile/profile.h"

namespace {

std::string stemOf(const std::string& name) { return name.substr(0, name.rfind('.')); }

const char* describe(PatchSeal::Fault fault) {
  switch (fault) {
    case PatchSeal::Fault::kMissing:
      return "has been removed";
    case PatchSeal::Fault::kUnreadable:
      return "can no longer be read";
    case PatchSeal::Fault::kChanged:
      break;
  }
  return "has changed";
}

}  // namespace

PatchSealer::PatchSealer(const std::string& profilePath, const std::string& patchDir,
                         Profile* profile, const std::vector<std::string>& entryFiles)
    : profilePath(profilePath),
      patchDir(patchDir),
      profile(profile),
      entryFiles(entryFiles),
      sealPath(PatchSeal::getPathFor(profilePath)) {}

std::vector<std::string> PatchSealer::getFileNames() const {
  std::vector<std::string> names;
  std::set<std::string> keys;
  auto add = [&](const std::string& name) {
    if (PatchSeal::isListableName(name) && keys.insert(pathNameKey(name)).second) {
      names.push_back(name);
    }
  };
  const std::string profileName = pathFileName(profilePath);
  add(profileName);
  // The program is the profile's namesake (TVPAT32.EXE runs TVPAT32.DAT
  // with TVPAT32.MSG), whatever the system calls programs.
  const std::string logName = pathFileName(profile->getString("Patch", "LogFile", ""));
  const std::string sealName = pathFileName(sealPath);
  std::vector<platform::DirectoryEntry> entries;
  platform::listDirectory(patchDir, &entries);
  for (const platform::DirectoryEntry& entry : entries) {
    if (entry.isDirectory || entry.isLink ||
        !equalsNoCase(stemOf(entry.name), stemOf(profileName)) ||
        equalsNoCase(entry.name, sealName) || equalsNoCase(entry.name, logName)) {
      continue;
    }
    add(entry.name);
  }
  const std::string rebootProgram = profile->getString("Patch", "Reboot Program", "");
  if (PatchSeal::isListableName(rebootProgram) &&
      platform::testPath(pathJoin(patchDir, rebootProgram)).ok) {
    add(rebootProgram);
  }
  for (const std::string& name : entryFiles) add(name);
  return names;
}

int PatchSealer::seal(std::string* problem) const {
  PatchSeal seal;
  for (const std::string& name : getFileNames()) {
    PatchSeal::SealedFile file;
    file.name = name;
    const std::string path = PatchSeal::getFilePath(name, patchDir, profilePath);
    if (!PatchSeal::measure(path, &file).ok) {
      *problem = path + " cannot be read";
      return -1;
    }
    seal.addFile(file);
  }
  if (!platform::saveWholeFile(sealPath, seal.format(pathFileName(sealPath))).ok) {
    *problem = sealPath + " cannot be written";
    return -1;
  }
  return static_cast<int>(seal.getFiles().size());
}

std::string PatchSealer::checkSeal(int* count) const {
  *count = 0;
  PatchSeal seal;
  if (seal.read(sealPath).notFound) return "";
  std::string report;
  auto warn = [&](std::size_t line, const std::string& text) {
    report += sealPath + (line > 0 ? ":" + std::to_string(line) : std::string()) +
              ": warning: " + text + "\n";
    ++*count;
  };
  if (!seal.isIntact()) {
    warn(0, "the seal is damaged or cut short: seal the patch again");
    return report;
  }
  for (const PatchSeal::Mismatch& mismatch : seal.check(patchDir, profilePath)) {
    warn(mismatch.file->line, mismatch.file->name + " " + describe(mismatch.fault) +
                                  " since the patch was sealed: the installer refuses it; "
                                  "seal the patch again");
  }
  std::set<std::string> sealed;
  for (const PatchSeal::SealedFile& file : seal.getFiles()) sealed.insert(pathNameKey(file.name));
  for (const std::string& name : getFileNames()) {
    if (sealed.count(pathNameKey(name)) == 0) {
      warn(0, name +
                  " is not in the seal, so the installer does not check it; seal the patch "
                  "again");
    }
  }
  return report;
}
