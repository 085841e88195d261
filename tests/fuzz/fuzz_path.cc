// Fuzzes the path helpers. The split must cut a path into parts that put
// together give the path back; replacing a name or extension must leave
// exactly that name and extension at the end of the result, for any name a
// Windows file can have.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "path/path_name.h"
#include "support/fuzz_check.h"

namespace {

void check(bool condition, const char* what) { fuzzCheck(condition, "fuzz_path", what); }

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// A final component that a file can carry: no separator, no drive colon, and
// not one of the directory names "." and "..".
bool isFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string("\\/:\0", 4)) == std::string::npos;
}

void checkSplit(const std::string& path) {
  std::string drive, dir, name, ext;
  pathSplit(path, &drive, &dir, &name, &ext);
  check(drive + dir + name + ext == path, "the parts do not make the path");
  check(drive.empty() || (drive.size() == 2 && drive[1] == ':'), "drive is not a letter and colon");
  check((name + ext).find_first_of("\\/") == std::string::npos, "the name holds a separator");
  check(ext.empty() || (ext[0] == '.' && ext.find('.', 1) == std::string::npos),
        "the extension is not one dot and what follows");
  if (!(name + ext).empty()) {
    check(dir.empty() || isSeparator(dir.back()), "the directory does not end at a separator");
  }
  check(pathFileName(path) == name + ext, "pathFileName differs from the split");
  std::string driveDir = pathDriveDir(path);
  check(!driveDir.empty() && driveDir.back() == '\\', "pathDriveDir does not end in a separator");

  std::string none;
  pathSplit(path, nullptr, nullptr, &none, nullptr);
  check(none == name, "a null output changed the split");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  std::string path = input.ConsumeRandomLengthString(300);
  std::string other = input.ConsumeRandomLengthString(300);
  std::string ext = input.ConsumeRandomLengthString(8);
  checkSplit(path);
  checkSplit(other);

  std::string name, oldExt;
  pathSplit(path, nullptr, nullptr, &name, &oldExt);
  if (ext.find_first_of(std::string(".\\/:\0", 5)) == std::string::npos) {
    std::string dotted = "." + ext;
    std::string changed = pathSetExt(path, dotted);
    if (isFileName(name + dotted)) {
      check(pathFileName(changed) == name + dotted, "pathSetExt lost the name or extension");
    }
  }

  std::string fromName = pathFileName(other);
  std::string renamed = pathSetFileName(path, other);
  if (isFileName(fromName)) {
    check(pathFileName(renamed) == fromName, "pathSetFileName lost the name");
    check(renamed.size() >= fromName.size() &&
              renamed.compare(renamed.size() - fromName.size(), fromName.size(), fromName) == 0,
          "pathSetFileName did not end in the name");
  }

  std::string joined = pathJoin(path, other);
  check(joined.compare(0, path.size(), path) == 0, "pathJoin lost the directory");
  check(joined.size() >= other.size() &&
            joined.compare(joined.size() - other.size(), other.size(), other) == 0,
        "pathJoin lost the name");
  if (isFileName(other)) check(pathFileName(joined) == other, "pathJoin hid the name");
  return 0;
}
