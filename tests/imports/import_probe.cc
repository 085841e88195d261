// A Windows program as small as one can be, for the tests of
// scripts/check-imports.sh: it asks for its own attributes, through
// GetFileAttributesExA (Windows 98 and NT 4.0 on) when built with
// TVPAT_PROBE_USES_EX defined, else through GetFileAttributesA (Windows 95
// and NT 3.1 on).
#include <windows.h>

int main(int, char** argv) {
#ifdef TVPAT_PROBE_USES_EX
  WIN32_FILE_ATTRIBUTE_DATA data;
  return GetFileAttributesExA(argv[0], GetFileExInfoStandard, &data) ? 0 : 1;
#else
  return GetFileAttributesA(argv[0]) != INVALID_FILE_ATTRIBUTES ? 0 : 1;
#endif
}
