// The text work done for every entry line: the field splitter, the
// placeholder substitution of INI values, and path split and join.
#include <benchmark/benchmark.h>

#include <string>

#include "engine/entry_line.h"
#include "fileops/substitute_class.h"
#include "path/path_name.h"

namespace {

void BM_SplitEntryFields(benchmark::State& state) {
  const std::string line = "FILE12=TAVRO,VIEWER.EXE,BIN\\\\SUB,VIEWER2.EXE,1,0,0";
  for (auto _ : state) {
    benchmark::DoNotOptimize(splitEntryFields(line, 7));
  }
}
BENCHMARK(BM_SplitEntryFields);

void BM_SubstituteLine(benchmark::State& state) {
  SubstituteClass substitutes('\\');
  substitutes.addEntry("TAVRO", "C:\\PROGRAM FILES\\TAVRO");
  substitutes.addEntry("WINDOWS", "C:\\WINDOWS");
  const std::string line = "Path=\\TAVRO\\BIN;\\WINDOWS\\SYSTEM;\\TAVRO\\HELP\\INDEX.HLP";
  for (auto _ : state) {
    std::string text = line;
    substitutes.substituteLine(text);
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_SubstituteLine);

void BM_PathSplit(benchmark::State& state) {
  const std::string path = "C:\\PROGRAM FILES\\TAVRO\\LANG\\DE\\LANG.TBL";
  std::string drive, dir, name, ext;
  for (auto _ : state) {
    pathSplit(path, &drive, &dir, &name, &ext);
    benchmark::DoNotOptimize(name);
  }
}
BENCHMARK(BM_PathSplit);

void BM_PathJoin(benchmark::State& state) {
  const std::string dir = "C:\\PROGRAM FILES\\TAVRO\\LANG";
  for (auto _ : state) {
    benchmark::DoNotOptimize(pathJoin(dir, "DE\\LANG.TBL"));
  }
}
BENCHMARK(BM_PathJoin);

}  // namespace
