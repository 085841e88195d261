// A scratch directory for one benchmark program: made on first use under
// TMPDIR (or /tmp) and removed with everything in it when the program ends.
// WINDIR points at it, so that the registry stand-in keeps its file there.
#ifndef BENCH_BENCH_SUPPORT_H_
#define BENCH_BENCH_SUPPORT_H_

#include <string>

// The scratch directory's path, without a trailing separator.
const std::string& benchDirectory();

// Writes content to the file `name` of the scratch directory, replacing it.
void writeBenchFile(const std::string& name, const std::string& content);

#endif  // BENCH_BENCH_SUPPORT_H_
