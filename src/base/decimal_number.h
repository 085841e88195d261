// The one reader of decimal numbers in texts the run reads (condition fields,
// entry option fields, INI values): white space, an optional sign and
// decimal digits, anything after the digits ignored. A number beyond the
// range of int is held at the nearer limit, never wrapped, so a text reads
// the same on every build whatever the width of long.
#ifndef SRC_BASE_DECIMAL_NUMBER_H_
#define SRC_BASE_DECIMAL_NUMBER_H_

#include <cstdint>
#include <string>

// Reads the number `text` begins with into *number and returns true; returns
// false, leaving *number alone, when no digit follows the blanks and sign.
// `text` is zero-terminated and not null.
bool readDecimalNumber(const char* text, int* number);

// Reads a field of the program's own records (the run journal, a seal),
// which holds decimal digits and nothing else: false, leaving *number
// alone, for any other text and for a number beyond 64 bits.
bool readFieldNumber(const std::string& text, std::uint64_t* number);

#endif  // SRC_BASE_DECIMAL_NUMBER_H_
