#include "base/decimal_number.h"

#include <climits>
#include <cstdint>

#include "base/ascii_text.h"

bool readDecimalNumber(const char* text, int* number) {
  const char* position = text;
  while (isBlank(*position)) ++position;
  bool negative = *position == '-';
  if (*position == '-' || *position == '+') ++position;
  if (*position < '0' || *position > '9') return false;
  // The magnitude stops growing just past INT_MAX + 1, so a thousand digits
  // cannot overflow it; the limit it then passes is what the text means.
  long long magnitude = 0;
  for (; *position >= '0' && *position <= '9'; ++position) {
    if (magnitude <= static_cast<long long>(INT_MAX) + 1) {
      magnitude = magnitude * 10 + (*position - '0');
    }
  }
  long long value = negative ? -magnitude : magnitude;
  if (value > INT_MAX) value = INT_MAX;
  if (value < INT_MIN) value = INT_MIN;
  *number = static_cast<int>(value);
  return true;
}

bool readFieldNumber(const std::string& text, std::uint64_t* number) {
  if (text.empty()) return false;
  std::uint64_t value = 0;
  for (char c : text) {
    const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (c < '0' || c > '9' || value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  *number = value;
  return true;
}
