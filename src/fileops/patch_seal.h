// PatchSeal is the seal of a patch: a text file beside the installation
// profile, named after it with the extension .SUM, that lists every file of
// the patch directory a run takes (the program, its catalogue, the profile,
// the files its entries install) with its size and CRC-32. The patch
// author's checker writes it; the installer reads it before it changes
// anything and refuses a patch whose files are missing or differ, as after a
// download cut short or on a bad disk.
//
// The text holds comment lines (";"), a line "CRC SIZE NAME" per file (the
// CRC-32 in eight hex digits, the size in decimal bytes, the name relative
// to the patch directory), and a closing line "END CRC" with the CRC-32 of
// everything before it, so that a seal cut short or damaged is known as
// such. A PatchSeal is read from such a file or built up to write one; its
// owner keeps it as long as it needs it.
#ifndef SRC_FILEOPS_PATCH_SEAL_H_
#define SRC_FILEOPS_PATCH_SEAL_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/status.h"

class PatchSeal {
 public:
  struct SealedFile {
    std::string name;
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
    // The line of the seal that lists the file, counted from 1; 0 for a file
    // not read from a seal.
    std::size_t line = 0;
  };

  enum class Fault { kMissing, kChanged, kUnreadable };

  // A listed file that is not as sealed.
  struct Mismatch {
    const SealedFile* file;
    // Where the file was looked for.
    std::string path;
    Fault fault;
  };

  // The seal's path beside the profile at profilePath.
  static std::string getPathFor(const std::string& profilePath);

  // Size and CRC-32 of the file at path, read once from start to end.
  // Fails as opening or reading the file fails.
  static platform::Status measure(const std::string& path, SealedFile* file);

  // Whether a name may be listed: a relative path inside the patch
  // directory, with no drive, no "." or ".." level, no wildcard and no
  // device name, so that reading it reads a file there.
  static bool isListableName(const std::string& name);

  // Where the run reads the listed file `name`: in patchDir, except the
  // profile's own name, which is read at profilePath (a profile that /p
  // names elsewhere).
  static std::string getFilePath(const std::string& name, const std::string& patchDir,
                                 const std::string& profilePath);

  // Reads the seal at path. notFound when there is none; ok otherwise, with
  // isIntact() false when the file could not be read, is damaged or was cut
  // short (no file of it is then to be trusted).
  platform::Status read(const std::string& path);
  bool isIntact() const { return intact; }

  // Adds a file to a seal that is being built.
  void addFile(const SealedFile& file) { files.push_back(file); }
  const std::vector<SealedFile>& getFiles() const { return files; }

  // The seal's text, with CR LF line ends; headerName names the seal in its
  // first comment line.
  std::string format(const std::string& headerName) const;

  // Every listed file that is missing, cannot be read or differs in size or
  // CRC-32, in the seal's order, each looked for at getFilePath. Reads every
  // file once.
  std::vector<Mismatch> check(const std::string& patchDir, const std::string& profilePath) const;

 private:
  std::vector<SealedFile> files;
  bool intact = true;
};

#endif  // SRC_FILEOPS_PATCH_SEAL_H_
