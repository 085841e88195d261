// Fuzzes the REGEDIT4 file behind the POSIX registry: the input's first bytes
// become the file, the rest drives a sequence of registry calls on it. A file
// that cannot be read as REGEDIT4 must make every call fail and stay byte for
// byte as it was; on a readable one, what a call writes must read back and
// the saved file must stay readable.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "support/fuzz_check.h"
#include "support/temp_dir.h"

namespace {

using platform::RegistryKey;
using platform::Status;

const TempDir& scratch() {
  static TempDir directory;
  static const bool pointed = [] {
    setenv("TVPAT_REGISTRY", directory.file("REGISTRY.REG").c_str(), 1);
    setenv("WINDIR", directory.getPath().c_str(), 1);
    return true;
  }();
  (void)pointed;
  return directory;
}

void check(bool condition, const char* what) { fuzzCheck(condition, "fuzz_registry", what); }

// A name for a call, or null (the default value, the key itself).
const char* nameOrNull(const std::string& text, bool isNull) {
  return isNull ? nullptr : text.c_str();
}

class Session {
 public:
  explicit Session(FuzzedDataProvider* input) : input(input) {
    for (int root = 0; root < 4; ++root) {
      keys.push_back(platform::getRootKey(static_cast<platform::RegistryRoot>(root)));
    }
  }

  ~Session() {
    // The table of open keys outlives the input; every key opened goes.
    for (std::size_t i = 4; i < keys.size(); ++i) platform::closeRegistryKey(keys[i]);
  }

  RegistryKey pickKey() {
    // Now and then a handle that was never given, which must fail cleanly.
    if (input->ConsumeIntegralInRange<int>(0, 15) == 0) return RegistryKey{999};
    return keys[input->ConsumeIntegralInRange<std::size_t>(0, keys.size() - 1)];
  }

  // Runs one call; true when it succeeded.
  bool step(bool wellFormed) {
    int call = input->ConsumeIntegralInRange<int>(0, 8);
    RegistryKey key = pickKey();
    bool isNull = input->ConsumeIntegralInRange<int>(0, 3) == 0;
    std::string text = input->ConsumeRandomLengthString(32);
    const char* name = nameOrNull(text, isNull);
    Status status;
    switch (call) {
      case 0: {
        RegistryKey opened;
        platform::RegistryAccess access = input->ConsumeBool()
                                              ? platform::RegistryAccess::kRead
                                              : platform::RegistryAccess::kAllAccess;
        status = platform::openRegistryKey(key, name, access, &opened);
        if (status.ok) keys.push_back(opened);
        break;
      }
      case 1: {
        RegistryKey created;
        status = platform::createRegistryKey(key, name, &created);
        if (status.ok) {
          keys.push_back(created);
          RegistryKey again;
          check(platform::openRegistryKey(key, name, platform::RegistryAccess::kRead, &again).ok,
                "a created key cannot be opened");
          keys.push_back(again);
        }
        break;
      }
      case 2: {
        std::string value;
        std::size_t capacity = input->ConsumeIntegralInRange<std::size_t>(0, 80);
        status = platform::queryRegistryDefaultValue(key, name, capacity, &value);
        if (status.ok) check(value.size() < capacity, "a value longer than its buffer");
        break;
      }
      case 3: {
        std::string value = input->ConsumeRandomLengthString(64);
        status = platform::setRegistryString(key, name, value);
        if (status.ok && name == nullptr) {
          std::string stored;
          check(platform::queryRegistryDefaultValue(key, nullptr, value.size() + 1, &stored).ok,
                "a value just set cannot be read");
          check(stored == value, "a value did not read back as set");
        }
        break;
      }
      case 4:
        status = platform::deleteRegistryValue(key, name);
        break;
      case 5:
        status = platform::deleteRegistryKey(key, name);
        break;
      case 6: {
        unsigned long count = 0;
        status = platform::countRegistrySubkeys(key, &count);
        if (status.ok) {
          std::string subkey;
          for (unsigned long index = 0; index < count; ++index) {
            check(platform::enumerateRegistrySubkey(key, index, 4096, &subkey).ok,
                  "a counted subkey cannot be listed");
          }
          check(platform::enumerateRegistrySubkey(key, count, 4096, &subkey).notFound,
                "a subkey beyond the count");
        }
        break;
      }
      case 7: {
        std::string subkey;
        unsigned long index = input->ConsumeIntegralInRange<unsigned long>(0, 8);
        std::size_t capacity = input->ConsumeIntegralInRange<std::size_t>(0, 40);
        status = platform::enumerateRegistrySubkey(key, index, capacity, &subkey);
        if (status.ok) check(subkey.size() < capacity, "a name longer than its buffer");
        break;
      }
      case 8: {
        if (keys.size() <= 4) return false;
        std::size_t index = input->ConsumeIntegralInRange<std::size_t>(4, keys.size() - 1);
        status = platform::closeRegistryKey(keys[index]);
        check(status.ok, "an open key cannot be closed");
        keys.erase(keys.begin() + static_cast<std::ptrdiff_t>(index));
        return true;
      }
    }
    if (!wellFormed) check(!status.ok, "a call succeeded on a malformed file");
    return status.ok;
  }

 private:
  FuzzedDataProvider* input;
  std::vector<RegistryKey> keys;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  std::string path = scratch().file("REGISTRY.REG");
  std::size_t fileLength = input.ConsumeIntegralInRange<std::size_t>(0, input.remaining_bytes());
  std::string original = input.ConsumeBytesAsString(fileLength);
  scratch().write("REGISTRY.REG", original);

  unsigned long count = 0;
  RegistryKey machine = platform::getRootKey(platform::RegistryRoot::kLocalMachine);
  bool wellFormed = platform::countRegistrySubkeys(machine, &count).ok;
  {
    Session session(&input);
    for (int step = 0; step < 24 && input.remaining_bytes() > 0; ++step) {
      session.step(wellFormed);
      if (wellFormed) {
        check(platform::countRegistrySubkeys(machine, &count).ok, "a saved file cannot be read");
      }
    }
  }
  if (!wellFormed)
    check(readBytes(path).value_or("") == original, "a malformed file was rewritten");
  scratch().clear();
  return 0;
}
