// PatchPlanner is the dry run of tvpcheck: it reads the machine the way the
// installer would (the Windows directory, both TAVRO.INI files, the ledger,
// the registry, the kind of Windows) and works out, in the order a run would
// carry them out, what each entry of the installation profile would do here,
// without changing anything: no file, time stamp, directory or registry key
// is written. Later entries see the planned effects of earlier ones. The
// caller owns the Profile, which must outlive the planner; one planner makes
// one plan.
#ifndef TOOLS_TVPCHECK_PATCH_PLANNER_H_
#define TOOLS_TVPCHECK_PATCH_PLANNER_H_

#include <cstddef>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "driver/startup.h"
#include "engine/entry_line.h"
#include "platform/files.h"

class ConfigData;
class Profile;
class SubstituteClass;
struct ConditionLine;

class PatchPlanner {
 public:
  struct PlanLine {
    // The profile line the step comes from, counted from 1; 0 for a step of
    // the run as a whole.
    std::size_t line = 0;
    std::string text;
  };

  // profilePath is the profile as the installer would be given it; patchDir
  // stands for the installer's own directory, where the patch's files are.
  PatchPlanner(Profile* profile, const std::string& profilePath, const std::string& patchDir);
  ~PatchPlanner();

  PatchPlanner(const PatchPlanner&) = delete;
  PatchPlanner& operator=(const PatchPlanner&) = delete;

  // Works out the plan. Raises Error only where the installer would (memory).
  void plan();

  const std::vector<PlanLine>& getLines() const { return lines; }

  // One "NAME:LINE: plan: TEXT" (or "NAME: plan: TEXT") line per step.
  std::string format(const std::string& profileName) const;

 private:
  // What the planner knows of one path: the machine's state, or the state
  // an earlier planned step left.
  struct FileState {
    bool exists = false;
    bool isDirectory = false;
    // A file that is there but cannot be opened counts as absent to a copy.
    bool readable = false;
    platform::DosStamp stamp;
  };

  // Plans every condition group of [Patch], each holding group's section
  // before the next group; returns the number of groups that hold.
  int planConditionGroups();
  // The ledger and the restart, after the groups.
  void planEnd(const std::string& patch, int nextPatch);
  bool evaluateCondition(const std::string& line, std::string* reason);
  void planSection(const std::string& section);
  void planEntry(std::size_t position, const std::string& line, SubstituteClass& substitutes);
  void planIniEntry(std::size_t position, const std::string& line, SubstituteClass& substitutes);
  void planRegEntry(std::size_t position, const std::string& line);
  void planFileEntry(std::size_t position, const std::string& line, EntryKind kind);
  // The directories of the tree that FINDFILE would copy into, or a line
  // saying there are none.
  void planFindFile(std::size_t position, const std::string& targetDir, const std::string& name,
                    int force, int backup, int compress);
  void planLocalEntry(std::size_t position, const std::string& line, EntryKind kind);
  void planErase(std::size_t position, const std::string& sourcePath, int backup);
  void planRename(std::size_t position, const std::string& sourcePath,
                  const std::string& destinationPath, int force, int backup);
  void planRebootEntry(const std::string& line);

  // The outcome of one copy as the file operations would make it, ending the
  // text that head starts; sets *deferred when the copy waits for the
  // restart.
  std::string planCopy(const std::string& sourcePath, const std::string& targetPath, int force,
                       int backup, bool* deferred);

  bool baseDirectory(const EntryField& field, std::string* directory) const;
  FileState fileAt(const std::string& path);
  void setFile(const std::string& path, const FileState& state);
  bool isDirectoryHere(const std::string& path);
  // Why a copy or rename into the directory path fails.
  std::string missingDirectory(const std::string& path);
  // The value of an INI key as the run would find it at this point; false
  // when there is none.
  bool iniValue(const std::string& path, const std::string& section, const std::string& key,
                std::string* value);
  bool registryKeyExists(const std::string& root, const std::string& path);
  void deferred(bool wasDeferred);

  void add(std::size_t position, const std::string& text);

  Profile* profile;
  std::string profilePath;
  std::string patchDir;
  std::unique_ptr<ConfigData> config;
  TavroProfiles tavroProfiles;
  std::vector<PlanLine> lines;
  std::map<std::string, FileState> files;
  // INI keys set (value) or deleted (no value) by planned entries, by file,
  // section and key; sections deleted by file and section.
  std::map<std::string, std::pair<bool, std::string>> iniKeys;
  std::set<std::string> deletedIniSections;
  // Registry keys created (true) or deleted with their trees (false), in
  // the order the entries would do it.
  std::vector<std::pair<std::string, bool>> registryChanges;
};

#endif  // TOOLS_TVPCHECK_PATCH_PLANNER_H_
