#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "e2e/machine.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// One hostile input: what the machine holds before the run, and what must be
// true after it. A case that hangs is caught by the test runner's timeout.
struct HostileCase {
  std::string name;
  bool nativeOnly;
  std::function<void(Machine&)> prepare;
  std::function<void(Machine&, const RunResult&)> check;
};

void walk(const std::vector<HostileCase>& cases) {
  for (const HostileCase& hostile : cases) {
    SCOPED_TRACE(hostile.name);
    Machine machine;
    if (hostile.nativeOnly && machine.isWine()) continue;
    hostile.prepare(machine);
    RunResult result = machine.run();
    // Killed by a signal shows as 128 and more.
    EXPECT_TRUE(result.exitCode == 0 || result.exitCode == 1) << result.exitCode << result.err;
    hostile.check(machine, result);
  }
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Bytes of every value, NUL, CR, LF and Ctrl-Z included, the same on every
// run.
std::string binaryBytes(std::size_t size, unsigned seed) {
  std::string bytes;
  for (std::size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    bytes += static_cast<char>((seed >> 16) & 0xFF);
  }
  return bytes;
}

// What the installer writes back for text it only passes through: every line
// end becomes CR LF and a last line without one gains it.
std::string asWrittenBack(const std::string& text) {
  std::string result;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::size_t length = end - start;
    if (length > 0 && text[end - 1] == '\r' && end < text.size()) --length;
    result += text.substr(start, length) + "\r\n";
    start = end + 1;
  }
  return result;
}

// A file beside the program as the installer names it.
std::string shownSource(const Machine& machine, const std::string& name) {
  return machine.shown(machine.getPatchDir()) + "\\" + name;
}

// A profile whose one condition group holds on the machine (Windows NT, the
// default kind of both builds) and carries out section S.
std::string profileWith(const std::string& entries) {
  return "[Patch]\r\nPatch=FIX1\r\nCondition0=S,2,0,Version,Level,1\r\n\r\n[S]\r\n" + entries;
}

void writePatch(Machine& machine, const std::string& entries) {
  machine.writeProductIni("[Version]\r\nLevel=2\r\n");
  machine.writeProfile(profileWith(entries));
}

// A last entry whose effect shows that the walk reached the end.
const char kLastEntry[] = "INI9=TAVRO,DONE.INI,S,K,V\r\n";
const char kDoneIni[] = "[S]\r\nK=V\r\n";
void expectWalkEnded(const Machine& machine) {
  EXPECT_EQ(machine.readFile(machine.getProductDir() + "/DONE.INI"), kDoneIni);
}

// Names as a Windows program writes them: Wine turns the ANSI code page's
// bytes (Latin-1 above 0xBF) into UTF-8 on the Linux side; the native build
// keeps the bytes.
std::string onDisk(const Machine& machine, const std::string& name) {
  if (!machine.isWine()) return name;
  std::string result;
  for (char c : name) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      result += c;
    } else {
      result += static_cast<char>(0xC0 | (byte >> 6));
      result += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return result;
}

// A directory under base whose path, as the program sees it, is exactly
// length characters long; made of components short enough for any file
// system.
std::string longDirectory(const Machine& machine, const std::string& base, std::size_t length) {
  std::string path = base;
  while (machine.shown(path).size() < length) {
    std::size_t missing = length - machine.shown(path).size() - 1;
    path += "/" + std::string(std::min<std::size_t>(missing, 200), 'P');
  }
  machine.makeDirectory(path);
  return path;
}

// The Linux path of the first `length` characters of path as the program
// sees it: where a text cut to that length would lead.
std::string cutPath(const Machine& machine, const std::string& path, std::size_t length) {
  std::string shown = machine.shown(path);
  std::string prefix = machine.shown(machine.getRoot());
  return machine.getRoot() + shown.substr(prefix.size(), length - prefix.size());
}

// The run ended with the critical report of error 21 for the file `name` of
// the product root, as it does for an INI file that cannot be written.
void expectCriticalWriteFailure(const Machine& machine, const RunResult& result,
                                const std::string& name) {
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(contains(result.err, "     Error Number:  21\n     Error Message: " +
                                       machine.shownProductDir() + "\\" + name + "\n"))
      << result.err;
}

std::vector<std::string> directoryEntries(const std::string& path) {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(path)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

void makeReadOnly(const std::string& path) {
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
}

// An INI entry for `name` of the product root that cannot write it: the
// product file `blocker` (name itself, or a file below it) stands in its way,
// read-only or not. The run ends with the critical report, leaves `blocker`
// as it was and nothing beside it.
HostileCase unwritableIniCase(const std::string& title, const std::string& name,
                              const std::string& blocker, const std::string& content,
                              bool readOnly) {
  return {title, false,
          [=](Machine& machine) {
            machine.writeFile(machine.getProductDir() + "/" + blocker, content);
            if (readOnly) makeReadOnly(machine.getProductDir() + "/" + blocker);
            writePatch(machine, "INI1=TAVRO," + name + ",S,K,new\r\n" + kLastEntry);
          },
          [=](Machine& machine, const RunResult& result) {
            expectCriticalWriteFailure(machine, result, name);
            EXPECT_EQ(machine.readFile(machine.getProductDir() + "/" + blocker), content);
            std::vector<std::string> expected = {"ARCHIVE", name, "TAVRO.INI"};
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(directoryEntries(machine.getProductDir()), expected);
          }};
}

TEST(HostileInputs, FilesOfAnyContentAndSize) {
  const std::string megabyte(1 << 20, 'm');
  const std::vector<HostileCase> cases = {
      {"binary installation profile", false,
       [](Machine& machine) { machine.writeProfile(binaryBytes(8192, 1)); },
       [](Machine& machine, const RunResult& result) {
         EXPECT_EQ(result.exitCode, 1);
         EXPECT_EQ(result.err,
                   "\n\aNone of the conditions of this patch is met.\nThe patch was not "
                   "installed: it does not apply to this machine or this product version.\n");
         EXPECT_EQ(directoryEntries(machine.getProductDir()), std::vector<std::string>{"ARCHIVE"});
       }},
      {"binary catalogue", false,
       [](Machine& machine) {
         machine.writeFile(machine.getPatchDir() + "/TVPAT32.MSG", binaryBytes(8192, 2));
         writePatch(machine, kLastEntry);
       },
       [](Machine& machine, const RunResult& result) {
         EXPECT_EQ(result.exitCode, 0);
         expectWalkEnded(machine);
       }},
      {"binary file as an INI entry's target", false,
       [](Machine& machine) {
         machine.writeFile(machine.getProductDir() + "/DATA.BIN", binaryBytes(8192, 3));
         writePatch(machine, std::string("INI1=TAVRO,DATA.BIN,Added,Key,Value\r\n") + kLastEntry);
       },
       [](Machine& machine, const RunResult& result) {
         EXPECT_EQ(result.exitCode, 0);
         // Every byte stays; only line ends are written the installer's way.
         EXPECT_EQ(machine.readFile(machine.getProductDir() + "/DATA.BIN"),
                   asWrittenBack(binaryBytes(8192, 3)) + "\r\n[Added]\r\nKey=Value\r\n");
         expectWalkEnded(machine);
       }},
      {"NUL bytes in lines", false,
       [](Machine& machine) {
         std::string catalogue = *machine.readFile(machine.getPatchDir() + "/TVPAT32.MSG");
         catalogue.replace(catalogue.find("Patch processing finished."), 5, "Patch\0"s);
         machine.writeFile(machine.getPatchDir() + "/TVPAT32.MSG", catalogue);
         writePatch(machine,
                    "INI1=TAVRO,A.INI,Sect,Key,val\0ue\r\n"
                    "; a comment \0 with a NUL\r\n"
                    "\0\r\n"
                    "FILE1=TAVRO,NE\0W.DLL\r\n"s +
                        kLastEntry);
       },
       [](Machine& machine, const RunResult& result) {
         EXPECT_EQ(result.exitCode, 1);
         // Texts end at a NUL, as they do for every C string of the system.
         EXPECT_EQ(machine.readFile(machine.getProductDir() + "/A.INI"), "[Sect]\r\nKey=val\r\n");
         EXPECT_TRUE(contains(result.out, "\nPatch\n")) << result.out;
         EXPECT_EQ(result.err,
                   "\n\aThe installation profile names a section that does not exist or holds an "
                   "entry that cannot be used.\n\n\aA file could not be copied: " +
                       shownSource(machine, "NE") + "\n" + kPatchNotRecordedLine);
         expectWalkEnded(machine);
       }},
      {"one-megabyte lines", false,
       [megabyte](Machine& machine) {
         std::string catalogue = *machine.readFile(machine.getPatchDir() + "/TVPAT32.MSG");
         catalogue.replace(catalogue.find("(unused)"), 8, megabyte);
         machine.writeFile(machine.getPatchDir() + "/TVPAT32.MSG", catalogue);
         machine.writeFile(machine.getPatchDir() + "/BIG.TXT",
                           megabyte + "\\TAVRO" + megabyte + "\\WINDOWS\r\n");
         writePatch(machine, "; " + megabyte + "\r\nINI1=TAVRO,A.INI,S,K," + megabyte +
                                 "\\\\TAVRO\r\nSUBST1=TAVRO,BIG.TXT\r\n" + kLastEntry);
       },
       [megabyte](Machine& machine, const RunResult& result) {
         EXPECT_EQ(result.exitCode, 0);
         EXPECT_EQ(result.err, "");
         EXPECT_TRUE(contains(result.out, "Tavro Patch Installer v2.00 Beta 6A\n"));
         EXPECT_EQ(machine.readFile(machine.getProductDir() + "/A.INI"),
                   "[S]\r\nK=" + megabyte + machine.shownProductDir() + "\r\n");
         EXPECT_EQ(
             machine.readFile(machine.getProductDir() + "/BIG.TXT"),
             megabyte + machine.shownProductDir() + megabyte + machine.shownWindowsDir() + "\r\n");
         expectWalkEnded(machine);
       }},
      {"10,000 entries in a section", false,
       [](Machine& machine) {
         // Withdrawn restarts and INI edits, then one request: only the
         // last request counts, so the walk must have reached it in order.
         std::string entries;
         for (int i = 0; i < 5000; ++i) entries += "REBOOT=0\r\nINI=TAVRO,A.INI,S,K,V\r\n";
         writePatch(machine, entries + "REBOOT=1\r\n" + kLastEntry);
       },
       [](Machine& machine, const RunResult& result) {
         EXPECT_EQ(result.exitCode, 0);
         EXPECT_TRUE(contains(result.out, "Please restart Windows")) << result.out;
         EXPECT_EQ(machine.readFile(machine.getProductDir() + "/A.INI"), "[S]\r\nK=V\r\n");
         expectWalkEnded(machine);
       }},
      {"10,000 condition groups", false,
       [](Machine& machine) {
         // Every group holds and carries out section S once more.
         std::string patch = "[Patch]\r\nPatch=FIX1\r\n";
         for (int i = 0; i < 10000; ++i) {
           patch += "Condition" + std::to_string(i) + "=S,2,0,Version,Level,1\r\n";
         }
         machine.writeProductIni("[Version]\r\nLevel=2\r\n");
         machine.writeProfile(patch + "\r\n[S]\r\nREBOOT=1\r\n");
       },
       [](Machine&, const RunResult& result) {
         EXPECT_EQ(result.exitCode, 0);
         EXPECT_EQ(result.err, "");
         EXPECT_TRUE(contains(result.out, "Please restart Windows")) << result.out;
       }},
  };
  walk(cases);
}

TEST(HostileInputs, LongAndStrangeNamesAndTrees) {
  std::vector<HostileCase> cases;
  for (std::size_t length : {300, 1000}) {
    // A root text is held to 259 characters; cut, it would name another
    // directory, here one that exists, which must never be written to.
    cases.push_back(
        {"product root of " + std::to_string(length) + " characters", false,
         [length](Machine& machine) {
           std::string root = longDirectory(machine, machine.getRoot() + "/long", length);
           std::string decoy = cutPath(machine, root, 259);
           machine.makeDirectory(decoy);
           machine.writeFile(machine.getPatchDir() + "/A.DLL", "new");
           for (const std::string& where : {root, decoy}) {
             machine.writeFile(where + "/TAVRO.INI", "[Version]\r\nLevel=2\r\n");
           }
           machine.writeWindowsIni("[Tavro]\r\nroot=" + machine.shown(root) + "\r\n");
           machine.writeProfile(profileWith(std::string("FILE1=TAVRO,A.DLL\r\n") + kLastEntry));
         },
         [length](Machine& machine, const RunResult& result) {
           std::string root = longDirectory(machine, machine.getRoot() + "/long", length);
           std::string decoy = cutPath(machine, root, 259);
           EXPECT_EQ(result.exitCode, 1);
           EXPECT_TRUE(contains(result.err, "\n\aA directory could not be created: "))
               << result.err;
           EXPECT_EQ(directoryEntries(decoy), std::vector<std::string>{"TAVRO.INI"});
           EXPECT_FALSE(machine.exists(root + "/A.DLL"));
         }});
    cases.push_back(
        {"names in entries and LogFile of " + std::to_string(length) + " characters", false,
         [length](Machine& machine) {
           const std::string name(length, 'N');
           machine.writeFile(machine.getProductDir() + "/A.DLL", "kept");
           machine.writeProductIni("[Version]\r\nLevel=2\r\n");
           machine.writeProfile("[Patch]\r\nPatch=FIX1\r\nLogFile=" + name +
                                "\r\nCondition0=S,2,0,Version,Level,1\r\n\r\n[S]\r\n"
                                "FILE1=TAVRO," +
                                name + "\r\nFILE2=TAVRO,A.DLL," + name + "\r\nCOPY1=TAVRO,A.DLL," +
                                name + "\r\nRENAME1=TAVRO,A.DLL," + name + "\r\nERASE1=TAVRO," +
                                name + "\r\n" + kLastEntry);
         },
         [length](Machine& machine, const RunResult& result) {
           const std::string name(length, 'N');
           EXPECT_EQ(result.exitCode, 1);
           EXPECT_TRUE(contains(
               result.err, "\n\aA file could not be copied: " + shownSource(machine, name) + "\n"))
               << result.err;
           EXPECT_EQ(machine.readFile(machine.getProductDir() + "/A.DLL"), "kept");
           // Nothing by that name was made; what the system could not do now
           // may wait for the restart, where it fails again.
           EXPECT_EQ(directoryEntries(machine.getProductDir()),
                     (std::vector<std::string>{"A.DLL", "ARCHIVE", "DONE.INI", "TAVRO.INI"}));
           expectWalkEnded(machine);
           // No log beside the program, its catalogue and its profile.
           EXPECT_EQ(directoryEntries(machine.getPatchDir()).size(), 3u);
         }});
  }
  cases.push_back({"Windows directory of 300 characters", true,
                   [](Machine& machine) {
                     std::string windows = longDirectory(machine, machine.getRoot() + "/win", 300);
                     machine.makeDirectory(cutPath(machine, windows, 259));
                     machine.setEnvironment("WINDIR", windows);
                     machine.writeFile(windows + "/TAVRO.INI",
                                       "[Tavro]\r\nroot=" + machine.shownProductDir() + "\r\n");
                     machine.writeFile(machine.getPatchDir() + "/A.DLL", "new");
                     writePatch(machine, "FILE1=WINDOWS,A.DLL\r\n");
                   },
                   [](Machine& machine, const RunResult& result) {
                     std::string windows = longDirectory(machine, machine.getRoot() + "/win", 300);
                     EXPECT_EQ(result.exitCode, 1);
                     EXPECT_EQ(result.err, "\aThe Windows directory could not be found.\n");
                     EXPECT_TRUE(directoryEntries(cutPath(machine, windows, 259)).empty());
                   }});
  cases.push_back(
      {"names with bytes above 127", false,
       [](Machine& machine) {
         machine.writeFile(machine.getPatchDir() + "/" + onDisk(machine, "CAF\xC9.DLL"), "new");
         machine.makeDirectory(machine.getProductDir() + "/" + onDisk(machine, "R\xC9P"));
         writePatch(machine,
                    "FILE1=TAVRO,CAF\xC9.DLL,R\xC9P\r\n"
                    "INI1=TAVRO,\xC9T\xC9.INI,Sect\xE9,K\xE9y,V\xE4lue\r\n" +
                        std::string(kLastEntry));
       },
       [](Machine& machine, const RunResult& result) {
         EXPECT_EQ(result.exitCode, 0);
         EXPECT_EQ(result.err, "");
         EXPECT_EQ(machine.readFile(machine.getProductDir() + "/" +
                                    onDisk(machine, "R\xC9P/CAF\xC9.DLL")),
                   "new");
         EXPECT_EQ(
             machine.readFile(machine.getProductDir() + "/" + onDisk(machine, "\xC9T\xC9.INI")),
             "[Sect\xE9]\r\nK\xE9y=V\xE4lue\r\n");
         expectWalkEnded(machine);
       }});
  cases.push_back({"FINDFILE tree 1,000 levels deep", false,
                   [](Machine& machine) {
                     std::string path = machine.getProductDir() + "/TREE";
                     machine.writeFile(machine.getPatchDir() + "/A.DLL", "new");
                     for (int level = 0; level <= 1000; ++level) {
                       if (level == 0 || level == 50 || level == 1000) {
                         machine.writeFile(path + "/A.DLL", "old");
                         machine.setStamp(path + "/A.DLL", 2000, 1, 1, 12, 0, 0);
                       }
                       path += "/D";
                     }
                     writePatch(machine,
                                std::string("FINDFILE1=TAVRO,A.DLL,TREE\r\n") + kLastEntry);
                   },
                   [](Machine& machine, const RunResult& result) {
                     // Under Wine the copies the walk finds too deep to replace fail
                     // the entry; natively every level is within reach.
                     EXPECT_EQ(result.exitCode, machine.isWine() ? 1 : 0) << result.err;
                     std::string path = machine.getProductDir() + "/TREE";
                     for (int level = 0; level < 1000; ++level) {
                       if (level == 0 || level == 50) {
                         EXPECT_EQ(machine.readFile(path + "/A.DLL"), "new");
                       }
                       path += "/D";
                     }
                     // Windows names no path beyond 259 characters: the deepest levels
                     // are out of its reach, and left alone.
                     EXPECT_EQ(machine.readFile(path + "/A.DLL"), machine.isWine() ? "old" : "new");
                     expectWalkEnded(machine);
                   }});
  cases.push_back({"FINDFILE tree with directory link loops", false,
                   [](Machine& machine) {
                     const std::string tree = machine.getProductDir() + "/TREE";
                     machine.writeFile(machine.getPatchDir() + "/A.DLL", "new");
                     for (const char* where : {"/A/A.DLL", "/B/C/A.DLL"}) {
                       machine.writeFile(tree + where, "old");
                       machine.setStamp(tree + where, 2000, 1, 1, 12, 0, 0);
                     }
                     fs::create_directory_symlink(tree, tree + "/A/UP");
                     fs::create_directory_symlink(tree + "/B", tree + "/B/C/BACK");
                     writePatch(machine,
                                std::string("FINDFILE1=TAVRO,A.DLL,TREE\r\n") + kLastEntry);
                   },
                   [](Machine& machine, const RunResult& result) {
                     EXPECT_EQ(result.exitCode, 0);
                     const std::string tree = machine.getProductDir() + "/TREE";
                     EXPECT_EQ(machine.readFile(tree + "/A/A.DLL"), "new");
                     EXPECT_EQ(machine.readFile(tree + "/B/C/A.DLL"), "new");
                     expectWalkEnded(machine);
                   }});
  walk(cases);
}

TEST(HostileInputs, LongPatchDirectoryIsRefusedNotCut) {
  Machine machine;
  // Wine names no program path beyond 259 characters.
  if (machine.isWine()) return;
  std::string patch = longDirectory(machine, machine.getRoot() + "/patch", 300);
  // Where the patch directory cut to 259 characters would lead.
  std::string decoy = cutPath(machine, patch, 259);
  machine.makeDirectory(decoy);
  machine.writeFile(decoy + "/A.DLL", "decoy");
  machine.writeFile(patch + "/A.DLL", "new");
  machine.writeFile(machine.getProductDir() + "/A.DLL", "old");
  machine.setStamp(machine.getProductDir() + "/A.DLL", 2000, 1, 1, 12, 0, 0);
  machine.writeProductIni("[Version]\r\nLevel=2\r\n");
  machine.writeFile(patch + "/tvpat32.DAT", profileWith("FILE1=TAVRO,A.DLL\r\n"));
  machine.writeFile(patch + "/tvpat32.MSG",
                    machine.readFile(machine.getPatchDir() + "/TVPAT32.MSG").value_or(""));
  machine.copyProgramTo(patch + "/tvpat32");

  RunResult result = machine.runProgramAt(patch + "/tvpat32", {});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "\aThe Windows directory could not be found.\n");
  EXPECT_EQ(machine.readFile(machine.getProductDir() + "/A.DLL"), "old");
}

TEST(HostileInputs, TargetsInTheWay) {
  const std::vector<HostileCase> cases = {
      // Nothing of the directory is touched.
      unwritableIniCase("INI entry's file is a directory", "CONF.INI", "CONF.INI/KEEP.TXT", "kept",
                        false),
      // Windows refuses to write a read-only file, whoever runs the installer.
      unwritableIniCase("INI entry's file is read-only", "APP.INI", "APP.INI", "[S]\r\nK=old\r\n",
                        true),
      {"read-only destination", false,
       [](Machine& machine) {
         machine.writeFile(machine.getPatchDir() + "/A.DLL", "new");
         for (const char* name : {"/A.DLL", "/B.DLL"}) {
           machine.writeFile(machine.getProductDir() + name, "old");
           machine.setStamp(machine.getProductDir() + name, 2000, 1, 1, 12, 0, 0);
           makeReadOnly(machine.getProductDir() + name);
         }
         // B.DLL without a backup: the old file stands in the way of the
         // new one until the restart.
         writePatch(machine, std::string("FILE1=TAVRO,A.DLL\r\nFILE2=TAVRO,A.DLL,,B.DLL,,0\r\n") +
                                 kLastEntry);
       },
       [](Machine& machine, const RunResult& result) {
         EXPECT_EQ(result.exitCode, 0);
         EXPECT_EQ(result.err, "");
         EXPECT_EQ(machine.readFile(machine.getProductDir() + "/A.DLL"), "new");
         EXPECT_EQ(machine.readFile(machine.getProductDir() + "/A.OLD"), "old");
         EXPECT_EQ(machine.readFile(machine.getProductDir() + "/B.DLL"), "old");
         EXPECT_TRUE(contains(result.out, "Please restart Windows")) << result.out;
         expectWalkEnded(machine);
       }},
      {"destination is a directory", false,
       [](Machine& machine) {
         machine.writeFile(machine.getPatchDir() + "/A.DLL", "new");
         machine.writeFile(machine.getProductDir() + "/A.DLL/KEEP.TXT", "kept");
         machine.writeFile(machine.getProductDir() + "/SRC.DLL", "source");
         writePatch(machine,
                    std::string("FILE1=TAVRO,A.DLL\r\nCOPY1=TAVRO,SRC.DLL,A.DLL\r\n") + kLastEntry);
       },
       [](Machine& machine, const RunResult& result) {
         EXPECT_EQ(result.exitCode, 1);
         const std::string target = machine.shownProductDir() + "\\A.DLL";
         EXPECT_EQ(result.err, "\n\aA file could not be copied: " + target +
                                   "\n\n\aA file could not be copied: " + target + "\n" +
                                   kPatchNotRecordedLine);
         EXPECT_EQ(machine.readFile(machine.getProductDir() + "/A.DLL/KEEP.TXT"), "kept");
         EXPECT_FALSE(machine.exists(machine.getProductDir() + "/A.OLD"));
         EXPECT_FALSE(contains(result.out, "Please restart")) << result.out;
         EXPECT_TRUE(machine.getPendingMoves().empty());
         expectWalkEnded(machine);
       }},
      {"patch directory lacks files the profile names", false,
       [](Machine& machine) {
         machine.writeFile(machine.getProductDir() + "/TREE/GONE.DLL", "old");
         machine.setStamp(machine.getProductDir() + "/TREE/GONE.DLL", 2000, 1, 1, 12, 0, 0);
         writePatch(machine, std::string("FILE1=TAVRO,GONE.DLL\r\nSUBST1=TAVRO,GONE.INI\r\n"
                                         "FINDFILE1=TAVRO,GONE.DLL,TREE\r\n") +
                                 kLastEntry);
       },
       [](Machine& machine, const RunResult& result) {
         EXPECT_EQ(result.exitCode, 1);
         const std::string message = "\n\aA file could not be copied: ";
         EXPECT_EQ(result.err, message + shownSource(machine, "GONE.DLL") + "\n" + message +
                                   shownSource(machine, "GONE.INI") + "\n" + message +
                                   shownSource(machine, "GONE.DLL") + "\n" + kPatchNotRecordedLine);
         EXPECT_EQ(machine.readFile(machine.getProductDir() + "/TREE/GONE.DLL"), "old");
         EXPECT_FALSE(machine.exists(machine.getProductDir() + "/TREE/GONE.OLD"));
         expectWalkEnded(machine);
       }},
      {"malformed registry file", true,
       [](Machine& machine) {
         machine.writeFile(
             machine.getWindowsDir() + "/REGISTRY.REG",
             "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\r\n\"x\"=\"1\r\n" + binaryBytes(512, 4));
         machine.writeProductIni("[Version]\r\nLevel=2\r\n");
         machine.writeProfile(
             "[Patch]\r\nPatch=FIX1\r\nCondition0=R,2,0,HKCU,Software,,1\r\n"
             "Condition1=S,2,0,Version,Level,1\r\n\r\n[S]\r\n"
             "REG1=HKCU,Software\\\\Tavro,Version,2.1\r\nREG2=HKCU,Software\r\n" +
             std::string(kLastEntry));
       },
       [](Machine& machine, const RunResult& result) {
         // The registry entries failed: FIX1 is not recorded.
         EXPECT_EQ(result.exitCode, 1);
         EXPECT_TRUE(contains(result.err, kPatchNotRecordedLine)) << result.err;
         EXPECT_EQ(
             machine.readFile(machine.getWindowsDir() + "/REGISTRY.REG"),
             "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\r\n\"x\"=\"1\r\n" + binaryBytes(512, 4));
         EXPECT_TRUE(contains(result.err, "A registry key could not be opened")) << result.err;
         EXPECT_TRUE(contains(result.err, "A registry key could not be created")) << result.err;
         expectWalkEnded(machine);
       }},
  };
  walk(cases);
}

}  // namespace
