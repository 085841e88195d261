#include "base/ascii_text.h"

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && beginsWithNoCase(a, b);
}

bool beginsWithNoCase(const std::string& text, const std::string& prefix, std::size_t start) {
  if (start > text.size() || text.size() - start < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (lowerAscii(text[start + i]) != lowerAscii(prefix[i])) return false;
  }
  return true;
}

int compareNoCase(const std::string& a, const std::string& b) {
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(lowerAscii(a[i]));
    unsigned char y = static_cast<unsigned char>(lowerAscii(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}
