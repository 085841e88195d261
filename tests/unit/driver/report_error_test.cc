#include "driver/report_error.h"

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "base/error.h"

namespace {

std::string reportOf(const Error& error) {
  std::FILE* stream = std::tmpfile();
  reportError(error, stream);
  std::string text;
  std::rewind(stream);
  for (int c = std::fgetc(stream); c != EOF; c = std::fgetc(stream)) text += static_cast<char>(c);
  std::fclose(stream);
  return text;
}

TEST(ReportErrorTest, AllocationFailureShowsAnEmptyMessageLine) {
  EXPECT_EQ(
      "\aCritical ERROR Occured on line 142 of file tvpat32\n"
      "     Error Number:  1\n"
      "     Error Message: \n"
      "     Size:          4000000000\n",
      reportOf(Error(kErrorNoMemory, 4000000000UL, kModuleDriver, 142)));
}

TEST(ReportErrorTest, FileFailureShowsThePathAndSizeZero) {
  EXPECT_EQ(
      "\aCritical ERROR Occured on line -3 of file tvpfile\n"
      "     Error Number:  20\n"
      "     Error Message: C:\\PATCH\\NEWDRV.DLL\n"
      "     Size:          0\n",
      reportOf(Error(kErrorSourceOpen, std::string("C:\\PATCH\\NEWDRV.DLL"), kModuleFileOps, -3)));
}

}  // namespace
