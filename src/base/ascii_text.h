// Comparisons of 8-bit texts without regard to the case of ASCII letters, as
// section names, keys, entry keywords and registry root names compare. Other
// bytes compare as they are.
#ifndef SRC_BASE_ASCII_TEXT_H_
#define SRC_BASE_ASCII_TEXT_H_

#include <cstddef>
#include <string>

// Space, tab, carriage return, line feed, vertical tab and form feed.
bool isBlank(char c);

char lowerAscii(char c);

bool equalsNoCase(const std::string& a, const std::string& b);

// True when text, from position start on, begins with prefix.
bool beginsWithNoCase(const std::string& text, const std::string& prefix, std::size_t start = 0);

// Text order, character by character (not numeric: "10" sorts before "9");
// negative, zero or positive.
int compareNoCase(const std::string& a, const std::string& b);

#endif  // SRC_BASE_ASCII_TEXT_H_
