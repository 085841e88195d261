// Files with a chosen last-write time, for tests of the rules that compare
// time stamps. The stamp is set through the platform layer, in local time
// and in the two-second steps of a DOS stamp, as the installer reads it.
#ifndef TESTS_SUPPORT_STAMPED_FILE_H_
#define TESTS_SUPPORT_STAMPED_FILE_H_

#include <string>

#include "platform/files.h"

// The DOS stamp of the given local date and time; seconds round down to an
// even number.
platform::DosStamp makeDosStamp(int year, int month = 6, int day = 1, int hour = 12, int minute = 0,
                                int second = 0);

// The stamp as one number, date word first, for comparing two stamps.
unsigned long stampValue(platform::DosStamp stamp);

// Writes content to path in place of any file there and gives it stamp;
// raises std::runtime_error when a step fails.
void writeStampedFile(const std::string& path, const std::string& content,
                      platform::DosStamp stamp);

// The stamp of the file at path as stampValue gives it, or 0 when it cannot
// be read.
unsigned long readStampValue(const std::string& path);

#endif  // TESTS_SUPPORT_STAMPED_FILE_H_
