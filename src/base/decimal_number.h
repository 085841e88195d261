// The one reader of decimal numbers in texts the run reads (condition fields,
// entry option fields, INI values): white space, an optional sign and
// decimal digits, anything after the digits ignored. A number beyond the
// range of int is held at the nearer limit, never wrapped, so a text reads
// the same on every build whatever the width of long.
#ifndef SRC_BASE_DECIMAL_NUMBER_H_
#define SRC_BASE_DECIMAL_NUMBER_H_

// Reads the number `text` begins with into *number and returns true; returns
// false, leaving *number alone, when no digit follows the blanks and sign.
// `text` is zero-terminated and not null.
bool readDecimalNumber(const char* text, int* number);

#endif  // SRC_BASE_DECIMAL_NUMBER_H_
