#include "fileops/patch_seal.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/ascii_text.h"
#include "base/crc32.h"
#include "base/decimal_number.h"
#include "path/path_name.h"
#include "platform/files.h"
#include "platform/system.h"

namespace {

// Large reads keep the system's per-call cost small beside the CRC, which
// runs at several bytes a cycle.
constexpr std::size_t kReadSize = 256 * 1024;

const char kEndKeyword[] = "END ";

// Windows 95 and NT 4.0 do not save the vector registers when they switch
// tasks, so a program may use them only from NT 5.0 (Windows 2000) on. The
// Windows 98 family could, but its version tells too little to be sure.
bool systemSavesVectorRegisters() {
  const unsigned long version = platform::getVersionNumber();
  const bool isNt = (version & 0x80000000UL) == 0;
  return isNt && (version & 0xFFUL) >= 5;
}

bool isDeviceName(const std::string& level) {
  std::string stem = level.substr(0, level.find('.'));
  for (const char* device : {"CON", "PRN", "AUX", "NUL"}) {
    if (equalsNoCase(stem, device)) return true;
  }
  return stem.size() == 4 && (beginsWithNoCase(stem, "COM") || beginsWithNoCase(stem, "LPT")) &&
         stem[3] >= '1' && stem[3] <= '9';
}

bool parseHex32(const std::string& text, std::uint32_t* value) {
  if (text.size() != 8) return false;
  std::uint32_t result = 0;
  for (char c : text) {
    int digit = (c >= '0' && c <= '9')   ? c - '0'
                : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                                         : -1;
    if (digit < 0) return false;
    result = result << 4 | static_cast<std::uint32_t>(digit);
  }
  *value = result;
  return true;
}

std::string hex32(std::uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
  return text;
}

std::uint32_t crcOf(const std::string& text, std::size_t size) {
  Crc32 crc;
  crc.add(text.data(), size);
  return crc.get();
}

// "CRC SIZE NAME", split at the first two spaces; the name may hold more.
bool parseFileLine(const std::string& line, PatchSeal::SealedFile* file) {
  const std::size_t first = line.find(' ');
  if (first == std::string::npos) return false;
  const std::size_t second = line.find(' ', first + 1);
  if (second == std::string::npos) return false;
  file->name = line.substr(second + 1);
  return parseHex32(line.substr(0, first), &file->crc) &&
         readFieldNumber(line.substr(first + 1, second - first - 1), &file->size) &&
         PatchSeal::isListableName(file->name);
}

}  // namespace

std::string PatchSeal::getPathFor(const std::string& profilePath) {
  return pathSetExt(profilePath, ".SUM");
}

std::string PatchSeal::getFilePath(const std::string& name, const std::string& patchDir,
                                   const std::string& profilePath) {
  return equalsNoCase(name, pathFileName(profilePath)) ? profilePath : pathJoin(patchDir, name);
}

platform::Status PatchSeal::measure(const std::string& path, SealedFile* file) {
  platform::FileHandle handle;
  platform::Status status = platform::openFileForReading(path, &handle);
  if (!status.ok) return status;
  std::unique_ptr<char[]> buffer(new char[kReadSize]);
  Crc32 crc(systemSavesVectorRegisters());
  std::uint64_t size = 0;
  for (;;) {
    std::size_t got = 0;
    status = platform::readFile(handle, buffer.get(), kReadSize, &got);
    if (!status.ok || got == 0) break;
    crc.add(buffer.get(), got);
    size += got;
  }
  platform::closeFile(handle);
  if (!status.ok) return status;
  file->size = size;
  file->crc = crc.get();
  return status;
}

bool PatchSeal::isListableName(const std::string& name) {
  if (name.empty() || name[0] == '\\' || name[0] == '/') return false;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = name.find_first_of("\\/", start);
    std::string level = name.substr(start, end == std::string::npos ? end : end - start);
    if (level.empty() || level == "." || level == ".." || isDeviceName(level) ||
        level.find_first_of(":*?\"<>|") != std::string::npos) {
      return false;
    }
    for (char c : level) {
      if (static_cast<unsigned char>(c) < 0x20) return false;
    }
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

platform::Status PatchSeal::read(const std::string& path) {
  files.clear();
  intact = true;
  std::string text;
  platform::Status status = platform::readFileAsIs(path, &text);
  if (status.notFound) return status;
  // From here on, anything but a whole seal leaves no file to trust.
  intact = false;
  if (!status.ok) return platform::Status::success();
  std::size_t lineStart = 0;
  std::size_t lineNumber = 0;
  std::size_t end;
  while ((end = text.find('\n', lineStart)) != std::string::npos) {
    ++lineNumber;
    std::string line = text.substr(lineStart, end - lineStart);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, sizeof kEndKeyword - 1, kEndKeyword) == 0) {
      std::uint32_t sealed = 0;
      intact = parseHex32(line.substr(sizeof kEndKeyword - 1), &sealed) &&
               sealed == crcOf(text, lineStart) && end + 1 == text.size();
      break;
    }
    if (!line.empty() && line[0] != ';') {
      SealedFile file;
      file.line = lineNumber;
      if (!parseFileLine(line, &file)) break;
      files.push_back(file);
    }
    lineStart = end + 1;
  }
  if (!intact) files.clear();
  return platform::Status::success();
}

std::string PatchSeal::format(const std::string& headerName) const {
  std::string text = "; " + headerName +
                     ": the seal of this patch, written by tvpcheck --seal.\r\n"
                     "; CRC-32, size in bytes and name of each file of the patch. The installer\r\n"
                     "; refuses to change anything when one is missing or differs. Seal the\r\n"
                     "; patch again after every change; do not edit this file.\r\n";
  for (const SealedFile& file : files) {
    text += hex32(file.crc) + " " + std::to_string(file.size) + " " + file.name + "\r\n";
  }
  text += kEndKeyword + hex32(crcOf(text, text.size())) + "\r\n";
  return text;
}

std::vector<PatchSeal::Mismatch> PatchSeal::check(const std::string& patchDir,
                                                  const std::string& profilePath) const {
  std::vector<Mismatch> mismatches;
  for (const SealedFile& file : files) {
    std::string path = getFilePath(file.name, patchDir, profilePath);
    SealedFile found;
    platform::Status status = measure(path, &found);
    if (!status.ok) {
      mismatches.push_back({&file, path, status.notFound ? Fault::kMissing : Fault::kUnreadable});
    } else if (found.size != file.size || found.crc != file.crc) {
      mismatches.push_back({&file, path, Fault::kChanged});
    }
  }
  return mismatches;
}
