#include "path/path_name.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Parts {
  std::string drive, dir, name, ext;
};

Parts split(const std::string& path) {
  Parts parts;
  pathSplit(path, &parts.drive, &parts.dir, &parts.name, &parts.ext);
  return parts;
}

void expectParts(const std::string& path, const char* drive, const char* dir, const char* name,
                 const char* ext) {
  Parts parts = split(path);
  EXPECT_EQ(parts.drive, drive) << path;
  EXPECT_EQ(parts.dir, dir) << path;
  EXPECT_EQ(parts.name, name) << path;
  EXPECT_EQ(parts.ext, ext) << path;
}

TEST(PathNameTest, SplitFollowsDriveDirectoryNameExtension) {
  expectParts("C:\\TAVRO\\BIN\\NEWDRV.DLL", "C:", "\\TAVRO\\BIN\\", "NEWDRV", ".DLL");
  expectParts("NEWDRV.DLL", "", "", "NEWDRV", ".DLL");
  expectParts("C:NEWDRV.DLL", "C:", "", "NEWDRV", ".DLL");
  expectParts("C:\\TAVRO\\", "C:", "\\TAVRO\\", "", "");
  expectParts("C:\\A.B\\NAME", "C:", "\\A.B\\", "NAME", "");
  expectParts("x\\archive.tar.gz", "", "x\\", "archive.tar", ".gz");
  expectParts("top/a\\b/c.txt", "", "top/a\\b/", "c", ".txt");
  expectParts("C:\\TAVRO\\..", "C:", "\\TAVRO\\..", "", "");
  expectParts(".", "", ".", "", "");
  expectParts("D:", "D:", "", "", "");
  expectParts("", "", "", "", "");

  std::string longDir = "\\" + std::string(400, 'd') + "\\";
  expectParts("E:" + longDir + std::string(300, 'n') + ".ext", "E:", longDir.c_str(),
              std::string(300, 'n').c_str(), ".ext");
}

TEST(PathNameTest, MergeTakesOwnPartsForMissingOnes) {
  EXPECT_EQ(pathMerge("C:\\A\\B.TXT", "D:", nullptr, nullptr, nullptr), "D:\\A\\B.TXT");
  EXPECT_EQ(pathMerge("C:\\A\\B.TXT", nullptr, "\\X", "Y", ""), "C:\\X\\Y");
  // A drive directly followed by a name becomes rooted.
  EXPECT_EQ(pathMerge("C:B.TXT", nullptr, nullptr, nullptr, nullptr), "C:\\B.TXT");
  // Only "\" ends the text.
  EXPECT_EQ(pathMerge("top/B.TXT", nullptr, nullptr, nullptr, ".OLD"), "top/\\B.OLD");
  // A bare name stays relative.
  EXPECT_EQ(pathMerge("B.TXT", nullptr, nullptr, nullptr, ".OLD"), "B.OLD");
  EXPECT_EQ(pathMergeFileName("C:\\A\\B.TXT", nullptr, "\\D\\", "x\\NEW"), "C:\\D\\NEW");
}

TEST(PathNameTest, SetExtReplacesOnlyLastExtension) {
  EXPECT_EQ(pathSetExt("C:\\TAVRO\\BIN\\NEWDRV.DLL", ".OLD"), "C:\\TAVRO\\BIN\\NEWDRV.OLD");
  EXPECT_EQ(pathSetExt("C:\\PATCH\\TVPAT32", ".MSG"), "C:\\PATCH\\TVPAT32.MSG");
  EXPECT_EQ(pathSetExt("C:\\PATCH\\A.B.EXE", ".DAT"), "C:\\PATCH\\A.B.DAT");
}

TEST(PathNameTest, SetFileNameAndFileName) {
  EXPECT_EQ(pathSetFileName("C:\\TAVRO\\BIN\\", "D:\\SRC\\NEWDRV.DLL"),
            "C:\\TAVRO\\BIN\\NEWDRV.DLL");
  EXPECT_EQ(pathSetFileName("C:\\TAVRO\\OLD.DLL", "NOEXT"), "C:\\TAVRO\\NOEXT");
  EXPECT_EQ(pathFileName("C:\\TAVRO\\ARCHIVE\\TEMP\\TV000123.TMP"), "TV000123.TMP");
  EXPECT_EQ(pathFileName("C:\\TAVRO\\"), "");
  EXPECT_EQ(pathFileName("/a/b/c.d"), "c.d");
}

TEST(PathNameTest, DriveDirEndsInBackslash) {
  EXPECT_EQ(pathDriveDir("C:\\PATCH\\TVPAT32.EXE"), "C:\\PATCH\\");
  EXPECT_EQ(pathDriveDir("C:\\TVPAT32.EXE"), "C:\\");
  EXPECT_EQ(pathDriveDir("/opt/patch/tvpat32"), "/opt/patch/\\");
  EXPECT_EQ(pathDriveDir("TVPAT32.EXE"), ".\\");
}

TEST(PathNameTest, JoinAddsBackslashOnlyWhenMissing) {
  EXPECT_EQ(pathJoin("C:\\WINDOWS", "TAVRO.INI"), "C:\\WINDOWS\\TAVRO.INI");
  EXPECT_EQ(pathJoin("C:\\WINDOWS\\", "TAVRO.INI"), "C:\\WINDOWS\\TAVRO.INI");
  EXPECT_EQ(pathJoin("", "TAVRO.INI"), "\\TAVRO.INI");
  EXPECT_EQ(pathJoin("D:\\BIN", ""), "D:\\BIN\\");
}

TEST(PathNameTest, NameKeyIsEqualForNamesWindowsTakesForOneFile) {
  const char* const same[][2] = {
      {"BIN\\A.DLL", "bin/a.dll"},     {"BIN\\A.DLL", "BIN\\\\A.DLL"},
      {"BIN\\A.DLL", ".\\BIN\\A.DLL"}, {"BIN\\A.DLL", "X\\..\\BIN\\A.DLL"},
      {"BIN\\A.DLL", "BIN\\A.DLL. "},  {"C:\\A", "c:/a/"},
      {"CAF\xC9.TXT", "caf\xE9.txt"},
  };
  for (const auto& pair : same) EXPECT_EQ(pathNameKey(pair[0]), pathNameKey(pair[1]));
  const char* const different[][2] = {
      {"BIN\\A.DLL", "BIN\\A.EXE"}, {"A", "\\A"}, {"..\\A", "A"}, {"C:\\A", "D:\\A"}};
  for (const auto& pair : different) EXPECT_NE(pathNameKey(pair[0]), pathNameKey(pair[1]));
}

}  // namespace
