#include "fileops/patch_seal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "support/temp_dir.h"

namespace {

class PatchSealTest : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return directory.getPath() + "/" + name; }
  void write(const std::string& name, const std::string& content) const {
    ASSERT_TRUE(platform::saveWholeFile(path(name), content).ok);
  }

  // A seal of A.DLL ("abc") and the profile, as tvpcheck writes it.
  std::string sealText() const {
    PatchSeal seal;
    seal.addFile({"A.DLL", 3, 0x352441C2u, 0});
    seal.addFile({"P.DAT", 9, 0xCBF43926u, 0});
    return seal.format("P.SUM");
  }

  TempDir directory;
};

TEST_F(PatchSealTest, ReadsWhatItWritesAndFindsEveryMismatch) {
  write("P.SUM", sealText());
  PatchSeal seal;
  ASSERT_TRUE(seal.read(path("P.SUM")).ok);
  ASSERT_TRUE(seal.isIntact());
  ASSERT_EQ(2u, seal.getFiles().size());
  EXPECT_EQ("A.DLL", seal.getFiles()[0].name);
  EXPECT_EQ(5u, seal.getFiles()[0].line);

  // The profile is looked for where the run reads it, not in the patch
  // directory.
  ASSERT_TRUE(platform::makeDirectory(path("ELSEWHERE")).ok);
  write("ELSEWHERE/P.DAT", "123456789");
  write("A.DLL", "abc");
  EXPECT_TRUE(seal.check(directory.getPath(), path("ELSEWHERE/P.DAT")).empty());
  write("A.DLL", "abd");
  std::vector<PatchSeal::Mismatch> mismatches = seal.check(directory.getPath(), path("P.DAT"));
  ASSERT_EQ(2u, mismatches.size());
  EXPECT_EQ(PatchSeal::Fault::kChanged, mismatches[0].fault);
  EXPECT_EQ(PatchSeal::Fault::kMissing, mismatches[1].fault);
  EXPECT_EQ("P.DAT", mismatches[1].file->name);
}

// A seal that is not whole trusts no file; none at all is no seal.
TEST_F(PatchSealTest, ASealThatIsNotWholeIsDamaged) {
  const std::string good = sealText();
  std::string edited = good;
  edited[edited.find("A.DLL")] = 'B';
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"cut at a line end", good.substr(0, good.find("P.DAT"))},
      {"cut inside the closing line", good.substr(0, good.size() - 3)},
      {"an edited name", edited},
      {"text after the closing line", good + "extra\r\n"},
      {"a malformed line", "12345678 x A.DLL\r\nEND 00000000\r\n"},
      {"a name outside the patch", "352441C2 3 ..\\A.DLL\r\n"},
      {"empty", ""},
  };
  for (const auto& c : cases) {
    write("P.SUM", c.text);
    PatchSeal seal;
    ASSERT_TRUE(seal.read(path("P.SUM")).ok) << c.what;
    EXPECT_FALSE(seal.isIntact()) << c.what;
    EXPECT_TRUE(seal.getFiles().empty()) << c.what;
  }
  PatchSeal none;
  EXPECT_TRUE(none.read(path("NONE.SUM")).notFound);
  EXPECT_TRUE(none.isIntact());
}

TEST(PatchSeal, ListsOnlyNamesInsideThePatchDirectory) {
  for (const char* name : {"VIEWER.EXE", "SUB\\A.DLL", "long name.txt", "CONFIG.SYS", "COM10"}) {
    EXPECT_TRUE(PatchSeal::isListableName(name)) << name;
  }
  for (const char* name : {"", "\\A.DLL", "/etc/passwd", "C:A.DLL", "..\\A.DLL", "SUB\\.\\A",
                           "A\\\\B", "*.DLL", "CON", "nul.txt", "LPT1", "SUB\\COM3.DAT"}) {
    EXPECT_FALSE(PatchSeal::isListableName(name)) << name;
  }
}

}  // namespace
