// The registry stand-in over a file of 10,000 keys: a read (open, query,
// close) and a change (saved whole and flushed before the call returns).
#include <benchmark/benchmark.h>

#include <string>

#include "bench_support.h"
#include "platform/registry.h"

namespace {

constexpr int kKeyCount = 10000;

void writeRegistry() {
  std::string text = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software]\r\n\r\n";
  for (int i = 0; i < kKeyCount; ++i) {
    text += "[HKEY_CURRENT_USER\\Software\\Key" + std::to_string(i) + "]\r\n@=\"value " +
            std::to_string(i) + "\"\r\n\r\n";
  }
  writeBenchFile("REGISTRY.REG", text);
}

void BM_RegistryQuery(benchmark::State& state) {
  writeRegistry();
  const platform::RegistryKey root = platform::getRootKey(platform::RegistryRoot::kCurrentUser);
  const std::string subkey = "Software\\Key" + std::to_string(kKeyCount - 1);
  for (auto _ : state) {
    platform::RegistryKey key;
    if (!platform::openRegistryKey(root, subkey.c_str(), platform::RegistryAccess::kRead, &key)
             .ok) {
      state.SkipWithError("open failed");
      break;
    }
    std::string value;
    benchmark::DoNotOptimize(platform::queryRegistryDefaultValue(key, nullptr, 256, &value));
    platform::closeRegistryKey(key);
  }
}
BENCHMARK(BM_RegistryQuery)->Unit(benchmark::kMicrosecond);

void BM_RegistrySetString(benchmark::State& state) {
  writeRegistry();
  const platform::RegistryKey root = platform::getRootKey(platform::RegistryRoot::kCurrentUser);
  platform::RegistryKey key;
  if (!platform::createRegistryKey(root, "Software\\Key5000", &key).ok) {
    state.SkipWithError("create failed");
    return;
  }
  long round = 0;
  for (auto _ : state) {
    if (!platform::setRegistryString(key, "Written", std::to_string(++round)).ok) {
      state.SkipWithError("set failed");
      break;
    }
  }
  platform::closeRegistryKey(key);
}
BENCHMARK(BM_RegistrySetString)->Unit(benchmark::kMillisecond);

}  // namespace
