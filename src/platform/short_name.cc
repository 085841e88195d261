#include "platform/short_name.h"

#include <cstddef>
#include <cstring>

#include "platform/name_case.h"

namespace platform {

namespace {

constexpr std::size_t kStemLength = 8;
constexpr std::size_t kExtensionLength = 3;
constexpr unsigned long kLastNumber = 999999;

// Characters a long name may hold and an 8.3 name may not, besides the dot
// and the blank, which an alias drops.
bool isBarredFromShortNames(char c) {
  return static_cast<unsigned char>(c) < 0x20 || std::strchr("\"*+,/:;<=>?[\\]|", c) != nullptr;
}

bool isShortNamePart(const std::string& part, std::size_t maxLength) {
  if (part.empty() || part.size() > maxLength) return false;
  for (char c : part) {
    if (c == ' ' || c == '.' || isBarredFromShortNames(c)) return false;
  }
  return true;
}

}  // namespace

bool isShortName(const std::string& name) {
  std::size_t dot = name.find('.');
  if (dot == std::string::npos) return isShortNamePart(name, kStemLength);
  return isShortNamePart(name.substr(0, dot), kStemLength) &&
         isShortNamePart(name.substr(dot + 1), kExtensionLength);
}

bool isShortPath(const std::string& path) {
  std::size_t start = 0;
  // A drive letter is no name of the file system.
  if (path.size() >= 2 && path[1] == ':') start = 2;
  while (start <= path.size()) {
    std::size_t end = path.find_first_of("\\/", start);
    if (end == std::string::npos) end = path.size();
    std::string component = path.substr(start, end - start);
    if (!component.empty() && component != "." && component != ".." && !isShortName(component)) {
      return false;
    }
    start = end + 1;
  }
  return true;
}

bool getShortNameBasis(const std::string& longName, std::string* stem, std::string* extension) {
  std::string kept;
  for (char c : longName) {
    if (c == ' ' || (c == '.' && kept.empty())) continue;
    kept += c == '.' ? c : isBarredFromShortNames(c) ? '_' : upperNameCase(c);
  }
  std::size_t lastDot = kept.find_last_of('.');
  stem->clear();
  extension->clear();
  for (std::size_t i = 0; i < kept.size() && i < lastDot && stem->size() < kStemLength; ++i) {
    if (kept[i] != '.') *stem += kept[i];
  }
  if (lastDot != std::string::npos) *extension = kept.substr(lastDot + 1, kExtensionLength);
  return !stem->empty();
}

std::string numberShortName(const std::string& stem, const std::string& extension,
                            const std::set<std::string>& taken) {
  const std::string tail = extension.empty() ? std::string() : "." + extension;
  for (unsigned long number = 1; number <= kLastNumber; ++number) {
    std::string suffix = "~" + std::to_string(number);
    std::string alias = stem.substr(0, kStemLength - suffix.size()) + suffix + tail;
    if (taken.count(alias) == 0) return alias;
  }
  return std::string();
}

}  // namespace platform
