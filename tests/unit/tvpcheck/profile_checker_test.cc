#include "profile_checker.h"

#include <gtest/gtest.h>

#include <string>

#include "path/path_name.h"
#include "profile/profile.h"
#include "support/temp_dir.h"

namespace {

// A section [Patch] whose one condition group names [S], and the header of
// [S]: entries written after it stand on line 5.
const char kPreamble[] = "[Patch]\nPatch=P1\nCondition0=S,2,1,Version,Level,1\n[S]\n";

struct Row {
  const char* profile;
  const char* expected;
};

// One line of a profile and the diagnostic expected of it, null for none.
struct LineRow {
  const char* line;
  const char* diagnostic;
};

class ProfileCheckerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    temp.write("patch/A.DLL", "dll");
    temp.write("patch/A.EXE", "exe");
    temp.write("patch/NOTES.TXT", "Root=\\TAVRO\r\n");
    temp.write("patch/DATA.BIN", std::string("MZ\0\0binary", 10));
  }

  // The diagnostics of a profile, as tvpcheck prints them for P.DAT.
  std::string check(const std::string& text) {
    temp.write("P.DAT", text);
    Profile profile(temp.file("P.DAT"));
    ProfileChecker checker(&profile, temp.file("patch"));
    checker.check();
    return checker.format("P.DAT");
  }

  void expectRows(const Row* rows, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      EXPECT_EQ(rows[i].expected, check(rows[i].profile)) << rows[i].profile;
    }
  }

  // Checks each row's line alone between before and after; a diagnostic is
  // expected after `location` ("P.DAT:5: ") and ends the output.
  void expectLineRows(const std::string& before, const std::string& after,
                      const std::string& location, const LineRow* rows, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      std::string expected = rows[i].diagnostic ? location + rows[i].diagnostic + "\n" : "";
      EXPECT_EQ(expected, check(before + rows[i].line + after)) << rows[i].line;
    }
  }

  TempDir temp;
};

TEST_F(ProfileCheckerTest, PatchSectionAndConditionGroups) {
  const Row rows[] = {
      {"", "P.DAT:1: error: no section [Patch]: the installer finds no condition and stops\n"},
      {"[Patch]\nCondition0=S,2,1,Version,Level,1\n[S]\n",
       "P.DAT:1: warning: no key Patch in [Patch]: the patch is carried out on every run and "
       "never recorded in the ledger\n"},
      {"[Patch]\nPatch=P\nCondition0=S,2,1,V,L,1\nCondition2=S,2,1,V,L,1\nCondition3=T,2,1,V,L,"
       "1\n[S]\n[T]\n",
       "P.DAT:4: warning: condition groups 2, 3 never evaluated: the numbering stops at the "
       "missing Condition1\n"
       "P.DAT:7: warning: the section [T] is never carried out: no condition group that is "
       "evaluated names it\n"},
      {"[Patch]\nPatch=P\nCondition0=S,2,1,V,L,1\nCondition1 =S,1,1,V,L,1\n  "
       "Condition1=S,1,1,V,L,1\nCondition01=S,1,1,V,L,1\n[S]\n",
       "P.DAT:4: warning: a blank before \"=\": this line belongs to no condition group\n"
       "P.DAT:5: warning: a blank before \"Condition\": this line belongs to no condition group\n"
       "P.DAT:6: warning: a group number with a leading zero: this line belongs to no condition "
       "group\n"},
      {"[Patch]\nPatch=P\nCondition0=Missing,2,1,V,L,1\nCondition0=Other,2,1,V,L,1\n",
       "P.DAT:3: error: Condition0 names the section [Missing], which does not exist\n"},
      {"[Patch]\nPatch=P\nCondition0=s,2,1,V,L,1\n[S]\n[s]\n[Patch]\n",
       "P.DAT:5: warning: a second section [s]: the installer only ever uses the first, on line 4\n"
       "P.DAT:6: warning: a second section [Patch]: the installer only ever uses the first, on "
       "line 1\n"},
      {"\xEF\xBB\xBF[Patch]\nPatch=P\n",
       "P.DAT:1: error: a UTF-8 byte order mark before [Patch] hides the section from the "
       "installer: save the profile without it\n"},
      {"[Patch]\nPatch=P\nCondition0=S,2,1,V,L,2.0   ; NT, L is 2.0\n[S]\n",
       "P.DAT:3: warning: the comment \"; NT, L is 2.0\" is read as part of field 6: write it on "
       "a line of its own\n"},
  };
  expectRows(rows, std::size(rows));
}

TEST_F(ProfileCheckerTest, ConditionFields) {
  const LineRow rows[] = {
      {"Condition0=S,2,1,Version",
       "Condition0 has 4 fields, the INI form needs 6: SECTION,OS,MODE,INISECTION,KEY,START[,END]"},
      {"Condition0=S,2,1,HKLM,Software,Key",
       "Condition0 has 6 fields, the registry form needs 7: "
       "SECTION,OS,MODE,ROOT,PATH,SUBKEY,START[,END]"},
      {"Condition0=S,2,1,Version,Level,",
       "Condition0: the field START is empty: the condition never holds"},
      {"Condition0=S,,1,Version,Level,1",
       "Condition0: the field OS is empty: the condition never holds"},
      {"Condition0=S,3,1,Version,Level,1",
       "Condition0: OS \"3\" is none of 1 (Windows 95 family), 2 (Windows NT) and 4 (Win32s)"},
      {"Condition0=S,2,7,Version,Level,1",
       "Condition0: mode \"7\" is not 0 to 4: the installer compares as mode 2 (at or after "
       "START)"},
      {"Condition0=S,2,,Version,Level,1",
       "Condition0: mode \"\" is not 0 to 4: the installer compares as mode 2 (at or after "
       "START)"},
      {"Condition0=S,2,1,HKEY_LOCAL_MACHINE,Software,,1",
       "Condition0: \"HKEY_LOCAL_MACHINE\" is not a registry root (HKLM, HKCU, HKCR or HKU): the "
       "installer takes it for a section of TAVRO.INI"},
      {"Condition0=S,2,1,HKLMX,Software,,1,",
       "Condition0: \"HKLMX\" is not a registry root (HKLM, HKCU, HKCR or HKU): the installer "
       "reads it as the root it begins with"},
      {"Condition0=S,2,4,Version,Level,2.0,1.5",
       "Condition0: the range ends (1.5) before it starts (2.0): the condition never holds"},
      {"Condition0=S,2,4,Version,Level,1.5, 2.0", nullptr},
      {"Condition0=S,4,0,HKCU,,,x", nullptr},
  };
  expectLineRows("[Patch]\nPatch=P\n", "\n[S]\n", "P.DAT:3: error: ", rows, std::size(rows));
}

TEST_F(ProfileCheckerTest, EntryKindsAndEscapes) {
  const LineRow rows[] = {
      {"FILE1 =TAVRO,A.DLL",
       "error: a blank before \"=\" makes this a line of no known kind: write FILE1=..."},
      {"findfile\t=TAVRO,A.DLL",
       "error: a blank before \"=\" makes this a line of no known kind: write findfile=..."},
      {"FIEL1=TAVRO,A.DLL",
       "error: unknown entry keyword \"FIEL\": known are INI, REG, SUBST, FILE, FINDFILE, RENAME, "
       "COPY, ERASE and REBOOT"},
      {"just some words", "error: a line of no known kind: an entry is KEYWORD[N]=FIELDS"},
      {"REG1=HKCU,Software\\Vendor,Name,1",
       "warning: a backslash before \"V\" is dropped (escape rule): write \\\\ for a backslash"},
      {"INI1=TAVRO,A.INI,Sect,Key,C:\\",
       "warning: a backslash at the end of the line is dropped: write \\\\ for a backslash"},
      {"REG1=HKCU,Software\\\\Vendor,Name,a\\,b", nullptr},
      // A backslash in the comment is for the comment's diagnostic to deal with.
      {"FILE1=TAVRO,A.DLL,BIN // in BIN\\OLD",
       "warning: the comment \"// in BIN\\OLD\" is read as part of field 3: write it on a line "
       "of its own"},
      {"INI1=TAVRO,A.INI,Paths,Share,//server/share;x", nullptr},
      {"; FILE1 =commented out", nullptr},
  };
  expectLineRows(kPreamble, "\n", "P.DAT:5: ", rows, std::size(rows));
}

TEST_F(ProfileCheckerTest, EntryFields) {
  const LineRow rows[] = {
      {"FILE1=TAVRO", "error: FILE entry without its file name (field 2)"},
      {"SUBST1=,NOTES.TXT,", "error: SUBST entry without its base directory (field 1)"},
      {"FILE1=C:,A.DLL", "error: FILE: the base directory \"C:\" is neither WINDOWS nor TAVRO"},
      {"RENAME1=TAVRO,A.DLL", "error: RENAME entry without its destination (field 3)"},
      {"COPY1=WINDOWS,,B.DLL", "error: COPY entry without its source (field 2)"},
      {"ERASE1=TAVRO", "error: ERASE entry without its file name (field 2)"},
      {"INI1=TAVRO,A.INI", "error: INI entry without its section (field 3)"},
      {"INI1=TAVRO,A.INI,Sect",
       "warning: INI entry with three fields deletes the whole section [Sect] of A.INI"},
      {"INI1=TAVRO,A.INI,Sect,Key",
       "warning: INI entry with four fields deletes the key Key of [Sect] in A.INI"},
      {"INI1=TAVRO,A.INI,Sect,Key,", nullptr},
      {"REG1=HKEY_CURRENT_USER,Software",
       "error: REG: \"HKEY_CURRENT_USER\" is not a registry root (HKLM, HKCU, HKCR or HKU)"},
      {"REG1=,Software", "error: REG entry without its registry root (field 1)"},
      {"REG1=hkcu,,,value",
       "error: REG entry with neither a key path nor a value name: the installer refuses it"},
      {"REG1=HKCU,Software", nullptr},
      {"FILE1=TAVRO,A.DLL,,,yes",
       "warning: FILE: the option force \"yes\" is not a number: the default is used"},
      {"FINDFILE1=TAVRO,A.DLL,,1,0,x",
       "warning: FINDFILE: the option compress \"x\" is not a number: the default is used"},
      {"ERASE1=TAVRO,A.DLL, -1", nullptr},
      {"REBOOT1=2",
       "warning: REBOOT 2 neither asks for a restart (1) nor withdraws the request (0): no "
       "restart is asked for"},
      {"REBOOT1=", "error: REBOOT entry without its number (field 1)"},
      {"REBOOT1=0,RESTART.EXE", nullptr},
  };
  expectLineRows(kPreamble, "\n", "P.DAT:5: ", rows, std::size(rows));
}

TEST_F(ProfileCheckerTest, PatchFilesTargetsAndBackups) {
  const Row rows[] = {
      {"FILE1=TAVRO,MISSING.DLL\n",
       "P.DAT:5: error: FILE: MISSING.DLL is not in the patch directory\n"},
      {"FINDFILE1=TAVRO,MISSING.LNG\n",
       "P.DAT:5: warning: FINDFILE: MISSING.LNG is not in the patch directory: the entry fails "
       "where a directory of the tree holds it\n"},
      {"FILE1=TAVRO,sub\\\\a.dll,BIN\n", ""},
      {"SUBST1=TAVRO,DATA.BIN,CONFIG\n",
       "P.DAT:5: warning: SUBST on DATA.BIN, which is not text (a NUL byte in its first 4 KiB)\n"},
      {"SUBST1=TAVRO,NOTES.TXT,CONFIG\n", ""},
      {"RENAME1=TAVRO,BIN\\\\A.DLL,bin/./a.dll.\n",
       "P.DAT:5: error: RENAME: the destination bin/./a.dll. names the same file as the source "
       "BIN\\A.DLL\n"},
      {"COPY1=TAVRO,BIN\\\\A.DLL,OLD\\\\..\\\\BIN\\\\A.DLL,1\n",
       "P.DAT:5: error: COPY: the destination OLD\\..\\BIN\\A.DLL names the same file as the "
       "source BIN\\A.DLL\n"},
      {"COPY1=TAVRO,A.DLL,A.OLD\n",
       "P.DAT:5: warning: the target A.OLD has the extension .OLD: it gets no backup, and a "
       "backup of another file may replace it\n"},
      {"FILE1=TAVRO,A.DLL,BIN\nFILE2=TAVRO,A.EXE,bin\n",
       "P.DAT:6: warning: the backup bin\\A.OLD of bin\\A.EXE is also the backup of BIN\\A.DLL "
       "(line 5): the second backup erases the first\n"},
      {"FILE1=TAVRO,A.DLL,BIN\nERASE1=TAVRO,BIN\\\\A.EXE\n",
       "P.DAT:6: warning: the backup BIN\\A.OLD of BIN\\A.EXE is also the backup of BIN\\A.DLL "
       "(line 5): the second backup erases the first\n"},
      // No backup, another base directory, or the same target twice share
      // nothing that could be lost.
      {"FILE1=TAVRO,A.DLL,BIN\nFILE2=TAVRO,A.EXE,BIN,,,0\n", ""},
      {"FILE1=TAVRO,A.DLL,BIN\nFILE2=WINDOWS,A.EXE,BIN\n", ""},
      {"FILE1=TAVRO,A.DLL,BIN\nFILE2=TAVRO,A.DLL,BIN,,1\n", ""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.expected, check(std::string(kPreamble) + row.profile)) << row.profile;
  }
}

TEST_F(ProfileCheckerTest, DefaultBackupOffSharesNoBackupName) {
  EXPECT_EQ("", check("[Patch]\nPatch=P\nBackup=0\nCondition0=S,2,1,V,L,1\n[S]\n"
                      "FILE1=TAVRO,A.DLL\nFILE2=TAVRO,A.EXE\n"));
}

TEST_F(ProfileCheckerTest, CountsAndFileOrder) {
  temp.write("P.DAT", std::string(kPreamble) + "FILE1=TAVRO\nREBOOT1=5\n");
  Profile profile(temp.file("P.DAT"));
  ProfileChecker checker(&profile, temp.file("patch"));
  checker.check();
  EXPECT_EQ(1, checker.getErrorCount());
  EXPECT_EQ(1, checker.getWarningCount());
  ASSERT_EQ(2u, checker.getDiagnostics().size());
  EXPECT_EQ(5u, checker.getDiagnostics()[0].line);
  EXPECT_EQ(6u, checker.getDiagnostics()[1].line);
}

}  // namespace
