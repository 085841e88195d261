#include "base/error.h"

Error::Error(int number, unsigned long bytes, const char* module, int line)
    : errorNumber(number), size(bytes), errorMessage(), sourceFile(module), sourceLine(line) {}

Error::Error(int number, const std::string& message, const char* module, int line)
    : errorNumber(number), size(0), errorMessage(message), sourceFile(module), sourceLine(line) {}
