// The report of a critical error: four fixed lines on standard error that do
// not depend on the message catalogue, so they work before it is loaded and
// after it is gone. The report never reaches the log.
#ifndef SRC_DRIVER_REPORT_ERROR_H_
#define SRC_DRIVER_REPORT_ERROR_H_

#include <cstdio>
#include <string>

class Error;

// Writes the four-line report of error to stream (standard error in the
// program), flushing after every piece.
void reportError(const Error& error, std::FILE* stream = stderr);

// The same report as one text, for a console that is not a stream.
std::string formatErrorReport(const Error& error);

#endif  // SRC_DRIVER_REPORT_ERROR_H_
