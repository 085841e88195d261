// Fuzzes a patch's seal as the installer reads it: arbitrary bytes. A seal
// read as whole lists only names inside the patch directory, and what it
// lists comes back the same when it is written again and read back; reading
// never fails but as "no seal".
#include <cstddef>
#include <cstdint>
#include <string>

#include "fileops/patch_seal.h"
#include "support/fuzz_check.h"
#include "support/temp_dir.h"

namespace {

const TempDir& scratch() {
  static TempDir directory;
  return directory;
}

void check(bool condition, const char* what) { fuzzCheck(condition, "fuzz_seal", what); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  scratch().write("P.SUM", std::string(reinterpret_cast<const char*>(data), size));
  PatchSeal seal;
  check(seal.read(scratch().file("P.SUM")).ok, "an existing seal not read");
  if (!seal.isIntact()) {
    check(seal.getFiles().empty(), "a damaged seal kept files");
    return 0;
  }
  for (const PatchSeal::SealedFile& file : seal.getFiles()) {
    check(PatchSeal::isListableName(file.name), "a name outside the patch directory listed");
  }
  scratch().write("AGAIN.SUM", seal.format("AGAIN.SUM"));
  PatchSeal again;
  check(again.read(scratch().file("AGAIN.SUM")).ok && again.isIntact(), "its own seal damaged");
  check(again.getFiles().size() == seal.getFiles().size(), "files lost on the way back");
  for (std::size_t i = 0; i < seal.getFiles().size() && i < again.getFiles().size(); ++i) {
    const PatchSeal::SealedFile& a = seal.getFiles()[i];
    const PatchSeal::SealedFile& b = again.getFiles()[i];
    check(a.name == b.name && a.size == b.size && a.crc == b.crc, "a file came back changed");
  }
  // The files need not exist; checking them must only report it.
  seal.check(scratch().getPath(), scratch().file("P.DAT"));
  return 0;
}
