// An INI file held by Profile: loading it, reading a value near its end, and
// an edit (which saves the whole file and makes it reach the disk), on files
// of 10, 1,000 and 10,000 lines.
#include <benchmark/benchmark.h>

#include <string>

#include "bench_support.h"
#include "profile/profile.h"

namespace {

// A file of about `lines` lines in sections of ten.
std::string makeIniFile(long lines) {
  std::string text;
  for (long i = 0; i < lines; ++i) {
    if (i % 10 == 0) text += "[Section" + std::to_string(i / 10) + "]\r\n";
    text += "Key" + std::to_string(i) + "=value " + std::to_string(i) + "\r\n";
  }
  return text;
}

std::string prepare(const benchmark::State& state) {
  std::string name = "P" + std::to_string(state.range(0)) + ".INI";
  writeBenchFile(name, makeIniFile(state.range(0)));
  return benchDirectory() + "/" + name;
}

void BM_ProfileLoad(benchmark::State& state) {
  const std::string path = prepare(state);
  for (auto _ : state) {
    Profile profile(path);
    benchmark::DoNotOptimize(profile.lineCount());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ProfileLoad)->Arg(10)->Arg(1000)->Arg(10000);

void BM_ProfileGetString(benchmark::State& state) {
  const std::string path = prepare(state);
  Profile profile(path);
  const long last = state.range(0) - 1;
  const std::string section = "Section" + std::to_string(last / 10);
  const std::string key = "Key" + std::to_string(last);
  for (auto _ : state) {
    benchmark::DoNotOptimize(profile.getString(section, key, ""));
  }
}
BENCHMARK(BM_ProfileGetString)->Arg(10)->Arg(1000)->Arg(10000);

void BM_ProfileWriteString(benchmark::State& state) {
  const std::string path = prepare(state);
  Profile profile(path);
  const std::string section = "Section" + std::to_string((state.range(0) - 1) / 10);
  long round = 0;
  for (auto _ : state) {
    std::string value = std::to_string(++round);
    profile.writeString(section, "Written", value.c_str());
  }
}
BENCHMARK(BM_ProfileWriteString)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace
