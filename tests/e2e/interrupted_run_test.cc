// A run killed from outside in the middle of its work, then run again to its
// end: the rerun must complete what the killed run began.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include "e2e/machine.h"
#include "support/wait.h"

namespace fs = std::filesystem;

namespace {

// Large enough that copying it takes a while on either build, so that the
// kill lands during the copy.
constexpr std::size_t kLargeFileSize = 64 * 1024 * 1024;

std::string largeContent() {
  std::string content(kLargeFileSize, '\0');
  std::uint32_t state = 1;
  for (char& c : content) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 24);
  }
  return content;
}

// The size of the largest file in dir, 0 when it holds none.
std::uintmax_t largestFileIn(const std::string& dir) {
  std::uintmax_t largest = 0;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir, error)) {
    std::error_code sizeError;
    std::uintmax_t size = entry.file_size(sizeError);
    if (!sizeError && size > largest) largest = size;
  }
  return largest;
}

TEST(InterruptedRun, LargeCopyKilledHalfwayIsWholeAfterTheRerun) {
  Machine machine;
  const std::string content = largeContent();
  const std::string oldContent = "the installed version";
  const std::string bin = machine.getProductDir() + "/BIN";
  machine.writeFile(machine.getPatchDir() + "/LARGE.DAT", content);
  machine.setStamp(machine.getPatchDir() + "/LARGE.DAT", 2002, 6, 1, 12, 0, 0);
  machine.writeFile(bin + "/LARGE.DAT", oldContent);
  machine.setStamp(bin + "/LARGE.DAT", 2001, 3, 1, 12, 0, 0);
  machine.writeProductIni("[Version]\r\nLevel=2\r\n");
  machine.writeProfile(
      "[Patch]\r\nPatch=LARGE\r\nCondition0=Update,2,0,Version,Level,1\r\n\r\n"
      "[Update]\r\nFILE1=TAVRO,LARGE.DAT,BIN,,0,1\r\n");

  // The copy has visibly begun once some file in BIN holds more than the old
  // file did: the destination itself, or a new file beside it.
  machine.start();
  const bool copying = waitUntil([&] { return largestFileIn(bin) > oldContent.size(); }, 120);
  machine.kill();
  ASSERT_TRUE(copying) << "the copy never began";
  ASSERT_NE(machine.readFile(bin + "/LARGE.DAT"), content)
      << "the copy ended before the kill; nothing was cut";

  RunResult rerun = machine.run();
  EXPECT_EQ(rerun.exitCode, 0) << rerun.out << rerun.err;
  // Compared without gtest printing 64 MiB on a failure.
  std::optional<std::string> installed = machine.readFile(bin + "/LARGE.DAT");
  EXPECT_TRUE(installed == content)
      << "LARGE.DAT holds " << (installed ? std::to_string(installed->size()) : "no")
      << " bytes after the rerun:\n"
      << rerun.out;
  EXPECT_EQ(machine.readFile(bin + "/LARGE.OLD"), oldContent);
}

}  // namespace
