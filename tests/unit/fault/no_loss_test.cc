// Every file operation that replaces, renames or erases a file, and every INI
// save, is run again and again with one platform call failing: the first
// call of a kind, then the second, and so on until the operation finishes
// without reaching the fault. After each run, and again after a simulated
// restart has carried out what was deferred, no content may be lost.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/error.h"
#include "config/config_data.h"
#include "fileops/file_install.h"
#include "platform/files.h"
#include "platform/posix/test_hooks.h"
#include "profile/profile.h"
#include "support/environment_guard.h"
#include "support/fault_hooks.h"
#include "support/stamped_file.h"
#include "support/temp_dir.h"
#include "tvprestart/restart_simulation.h"

namespace {

using platform::testing::Call;

// Fails the occurrence-th consultation of one call with EIO.
struct Injection {
  Call call;
  int occurrence;
  int seen = 0;
  std::string faultedPath;
  bool reached() const { return seen >= occurrence; }
};

void arm(FaultHooks& hooks, Injection* injection) {
  hooks.set([injection](Call call, const std::string& path) {
    if (call != injection->call || ++injection->seen != injection->occurrence) return 0;
    injection->faultedPath = path;
    return EIO;
  });
}

const std::vector<Call> kFileCalls = {
    Call::kOpenFileForReading, Call::kCreateNewFile,
    Call::kReadFile,           Call::kWriteFile,
    Call::kCloseFile,          Call::kFlushFile,
    Call::kGetFileStamp,       Call::kSetFileStamp,
    Call::kGetFileInfo,        Call::kTestPath,
    Call::kRenameFile,         Call::kReplaceFile,
    Call::kDeleteFile,         Call::kScheduleMoveAtRestart,
};

const std::string kOldContent = "old content of the installed file\r\n";
const std::string kEarlierBackup = "earlier backup\r\n";
// More than one copy block, so that a fault can strike between two blocks.
const std::string kNewContent = std::string(5000, 'n') + "\r\n";
// WININIT.INI as another program left it: deferrals add to it, never cut it.
constexpr const char* kWininit = "[Other]\r\nkeep=1\r\n\r\n[rename]\r\n";
constexpr const char* kIniBefore = "[A]\r\nk=1\r\n; remark\r\n\r\n[B]\r\nx=2\r\n";
constexpr const char* kIniAfter = "[A]\r\nk=1\r\n; remark\r\nn=v\r\n\r\n[B]\r\nx=2\r\n";

// One scratch machine per run: a Windows directory, an installed file in
// DEST with an earlier backup and an INI file, its replacement in SRC, and a
// temporary directory.
class Scratch {
 public:
  explicit Scratch(int platformKind) {
    dir.write("WIN/WININIT.INI", kWininit);
    dir.write("TEMP/.keep", "");
    dir.write("SRC/.keep", "");
    dir.write("DEST/APP.INI", kIniBefore);
    config.setWindowsDir(dir.file("WIN"));
    config.setPlatform(platformKind);
    environment.set("WINDIR", dir.file("WIN"));
    // The earlier backup is erased, by design, before a new one is made.
    put("DEST/NEWDRV.DLL", kOldContent, 1996);
    put("DEST/NEWDRV.OLD", kEarlierBackup, 1995);
    put("SRC/NEWDRV.DLL", kNewContent, 1997);
  }

  // Writes a file with a last-write time in June of the given year.
  void put(const std::string& relative, const std::string& content, int year) {
    writeStampedFile(dir.file(relative), content, makeDosStamp(year));
  }

  std::optional<std::string> read(const std::string& relative) const { return dir.read(relative); }
  bool holds(const std::string& relative, const std::string& content) const {
    return dir.read(relative) == content;
  }

  EnvironmentGuard environment;
  TempDir dir;
  ConfigData config;
};

using Check = std::function<void(Scratch&, bool raised, bool restarted, const Injection&)>;

// One operation of the walk: what it does, and what must hold after any
// fault (raised: it raised Error; restarted: the deferred steps are done).
struct Operation {
  const char* name;
  int platformKind;
  std::function<void(Scratch&)> act;
  Check check;
};

// The checks of an operation on the installed file DEST/NEWDRV.DLL. The new
// content is never lost (the source stays until a rename moves it); with
// keepsOriginal the old content is always whole in place or as the backup;
// WININIT.INI only ever grows. Once an operation that raised no error is
// carried out by the restart, the installed file and its backup hold
// finalFile and finalBackup (nullopt: absent).
Check fileCheck(bool keepsOriginal, std::optional<std::string> finalFile,
                std::optional<std::string> finalBackup) {
  return [=](Scratch& s, bool raised, bool restarted, const Injection& fault) {
    EXPECT_TRUE(s.holds("SRC/NEWDRV.DLL", kNewContent) || s.holds("DEST/NEWDRV.DLL", kNewContent));
    // A destination that cannot be opened for reading counts as absent and
    // is replaced without a backup: the one replacement the installer makes
    // on purpose without keeping the original.
    bool countedAbsent = fault.call == Call::kOpenFileForReading &&
                         fault.faultedPath.find("DEST") != std::string::npos &&
                         fault.faultedPath.find(".OLD") == std::string::npos;
    if (!restarted || !countedAbsent) {
      bool inPlace = s.holds("DEST/NEWDRV.DLL", kOldContent);
      EXPECT_TRUE(inPlace || (keepsOriginal && s.holds("DEST/NEWDRV.OLD", kOldContent)) ||
                  (restarted && s.holds("DEST/NEWDRV.DLL", kNewContent)));
    }
    if (restarted && !raised) {
      EXPECT_EQ(finalFile, s.read("DEST/NEWDRV.DLL"));
      if (!countedAbsent) {
        EXPECT_EQ(finalBackup, s.read("DEST/NEWDRV.OLD"));
      }
    }
    if (!restarted) {
      EXPECT_EQ(0u, s.read("WIN/WININIT.INI").value_or("").rfind(kWininit, 0));
    }
  };
}

std::vector<Operation> operations() {
  std::vector<Operation> list;
  for (int kind : {kPlatformWindows95, kPlatformWindowsNt}) {
    list.push_back({"copy over an older file without backup (deferred)", kind,
                    [](Scratch& s) {
                      copyFileByPath(s.dir.file("SRC/NEWDRV.DLL"), s.dir.file("DEST/NEWDRV.DLL"),
                                     s.dir.file("TEMP").c_str(), &s.config, 0, 0);
                    },
                    fileCheck(false, kNewContent, kEarlierBackup)});
    list.push_back({"copy over an older file with backup", kind,
                    [](Scratch& s) {
                      copyFileByPath(s.dir.file("SRC/NEWDRV.DLL"), s.dir.file("DEST/NEWDRV.DLL"),
                                     s.dir.file("TEMP").c_str(), &s.config, 0, 1);
                    },
                    fileCheck(true, kNewContent, kOldContent)});
    list.push_back({"rename over a file with backup", kind,
                    [](Scratch& s) {
                      moveFileByPath(s.dir.file("SRC/NEWDRV.DLL"), s.dir.file("DEST/NEWDRV.DLL"),
                                     &s.config, 0, 1);
                    },
                    fileCheck(true, kNewContent, kOldContent)});
    list.push_back({"erase with backup", kind,
                    [](Scratch& s) { eraseFile(s.dir.file("DEST/NEWDRV.DLL"), &s.config, 1); },
                    fileCheck(true, std::nullopt, kOldContent)});
  }
  list.push_back({"INI save", kPlatformWindowsNt,
                  [](Scratch& s) {
                    Profile ini(s.dir.file("DEST/APP.INI"));
                    ini.writeString("A", "n", "v");
                  },
                  [](Scratch& s, bool raised, bool, const Injection&) {
                    std::string content = s.read("DEST/APP.INI").value_or("<absent>");
                    EXPECT_TRUE(content == kIniBefore || content == kIniAfter) << content;
                    if (!raised) {
                      EXPECT_EQ(kIniAfter, content);
                    }
                  }});
  return list;
}

class NoLossTest : public ::testing::Test {
 protected:
  FaultHooks hooks;
};

TEST_F(NoLossTest, NoFaultAtAnyStepLosesAFileOrCutsAnIniFile) {
  std::set<Call> reachedCalls;
  for (const Operation& operation : operations()) {
    for (Call call : kFileCalls) {
      for (int occurrence = 1;; ++occurrence) {
        SCOPED_TRACE(std::string(operation.name) + ", platform " +
                     std::to_string(operation.platformKind) + ", call " +
                     std::to_string(static_cast<int>(call)) + " #" + std::to_string(occurrence));
        Scratch scratch(operation.platformKind);
        Injection fault{call, occurrence, 0, std::string()};
        arm(hooks, &fault);
        bool raised = false;
        try {
          operation.act(scratch);
        } catch (const Error& error) {
          raised = true;
          EXPECT_FALSE(error.getErrorMessage().empty());
        }
        hooks.clear();
        operation.check(scratch, raised, false, fault);
        std::vector<std::string> report;
        tvprestart::carryOutRestart(scratch.dir.file("WIN"), &report);
        operation.check(scratch, raised, true, fault);
        if (::testing::Test::HasFailure()) return;
        if (!fault.reached()) break;
        reachedCalls.insert(call);
      }
    }
  }
  // The walk only proves something for the calls the operations make.
  EXPECT_EQ(std::set<Call>(kFileCalls.begin(), kFileCalls.end()), reachedCalls);
}

}  // namespace
