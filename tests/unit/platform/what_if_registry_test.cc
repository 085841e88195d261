#include "platform/what_if_backend.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/backend.h"
#include "platform/registry.h"
#include "support/environment_guard.h"
#include "support/temp_dir.h"

namespace {

using platform::FileHandle;
using platform::RegistryAccess;
using platform::RegistryKey;
using platform::RegistryRoot;
using platform::RegistryValue;
using platform::Status;

std::string describe(const Status& status) {
  if (status.ok) return "ok";
  return (status.notFound ? "absent " : "failed ") + std::to_string(status.systemError);
}

// A sequence of registry calls such as a run makes, through the backend in
// force; run gives what each call answered, a line each.
class Script {
 public:
  std::string run();

 private:
  void note(const std::string& call, const Status& status) {
    log += call + ": " + describe(status) + "\n";
  }
  RegistryKey open(RegistryKey parent, const char* subkey, RegistryAccess access);
  RegistryKey create(const char* subkey);
  void listValues(RegistryKey key, const std::string& path);
  void listSubkeys(RegistryKey key, const std::string& path);
  // Deletes everything below key as the engine does, bottom up, always
  // taking the first subkey left.
  void deleteTree(RegistryKey key, const std::string& path);

  std::string log;
};

RegistryKey Script::open(RegistryKey parent, const char* subkey, RegistryAccess access) {
  RegistryKey key;
  note(std::string("open ") + subkey, platform::openRegistryKey(parent, subkey, access, &key));
  return key;
}

RegistryKey Script::create(const char* subkey) {
  RegistryKey key;
  note(std::string("create ") + subkey,
       platform::createRegistryKey(platform::getRootKey(RegistryRoot::kCurrentUser), subkey, &key));
  return key;
}

void Script::listValues(RegistryKey key, const std::string& path) {
  for (unsigned long index = 0;; ++index) {
    std::string name;
    RegistryValue value;
    Status listed = platform::enumerateRegistryValue(key, index, &name, &value);
    std::string bytes;
    for (char c : value.data) bytes += std::to_string(static_cast<unsigned char>(c)) + ",";
    note("value of " + path + " " + name + "=" + std::to_string(value.type) + ":" + bytes, listed);
    if (!listed.ok) return;
  }
}

void Script::listSubkeys(RegistryKey key, const std::string& path) {
  unsigned long count = 0;
  Status counted = platform::countRegistrySubkeys(key, &count);
  note("count below " + path + " " + std::to_string(count), counted);
  for (unsigned long index = 0;; ++index) {
    std::string name;
    Status listed = platform::enumerateRegistrySubkey(key, index, 256, &name);
    note("below " + path + " " + name, listed);
    if (!listed.ok) return;
  }
}

void Script::deleteTree(RegistryKey key, const std::string& path) {
  unsigned long count = 0;
  note("count below " + path, platform::countRegistrySubkeys(key, &count));
  for (;;) {
    std::string name;
    Status listed = platform::enumerateRegistrySubkey(key, 0, 256, &name);
    note("first below " + path + " " + name, listed);
    if (!listed.ok) return;
    RegistryKey subkey = open(key, name.c_str(), RegistryAccess::kAllAccess);
    deleteTree(subkey, path + "\\" + name);
    Status deleted = platform::deleteRegistryKey(subkey, "");
    note("delete " + path + "\\" + name, deleted);
    note("close", platform::closeRegistryKey(subkey));
    if (!deleted.ok) return;
  }
}

std::string Script::run() {
  log.clear();
  const RegistryKey user = platform::getRootKey(RegistryRoot::kCurrentUser);
  RegistryKey vendor = open(user, "SOFTWARE\\vendor", RegistryAccess::kAllAccess);
  std::string text;
  Status status = platform::queryRegistryDefaultValue(vendor, nullptr, 4, &text);
  note("default in 4 bytes " + text, status);
  note("set swap", platform::setRegistryString(vendor, "swap", "new"));
  note("delete Gone", platform::deleteRegistryValue(vendor, "Gone"));
  note("delete GONE", platform::deleteRegistryValue(vendor, "GONE"));
  note("delete Back", platform::deleteRegistryValue(vendor, "Back"));
  note("set Back", platform::setRegistryValue(
                       vendor, "Back", {platform::kRegistryDword, std::string("\x07\0\0\0", 4)}));
  note("set Added", platform::setRegistryString(vendor, "Added", "a"));
  note("set default", platform::setRegistryString(vendor, nullptr, "fresh"));
  status = platform::queryRegistryDefaultValue(vendor, nullptr, 5, &text);
  note("default in 5 bytes", status);
  status = platform::queryRegistryDefaultValue(vendor, nullptr, 6, &text);
  note("default in 6 bytes " + text, status);
  listValues(vendor, "Vendor");
  RegistryValue value;
  note("query Gone", platform::queryRegistryValue(vendor, "Gone", &value));
  note("delete default", platform::deleteRegistryValue(vendor, ""));
  status = platform::queryRegistryDefaultValue(vendor, nullptr, 1, &text);
  note("default in 1 byte " + text, status);

  RegistryKey other = open(vendor, "Other", RegistryAccess::kRead);
  note("set on read-only", platform::setRegistryString(other, "x", "y"));
  note("delete value on read-only", platform::deleteRegistryValue(other, "x"));
  note("delete read-only", platform::deleteRegistryKey(other, ""));
  note("close", platform::closeRegistryKey(other));
  note("bad name", platform::openRegistryKey(vendor, "a\\\\b", RegistryAccess::kRead, &other));

  RegistryKey deep = create("Software\\Vendor\\New\\Deep");
  note("set in made key", platform::setRegistryString(deep, "v", "1"));
  note("close", platform::closeRegistryKey(deep));
  status = platform::queryRegistryDefaultValue(vendor, "new\\deep", 256, &text);
  note("default of made key " + text, status);

  RegistryKey tree = open(vendor, "Tree", RegistryAccess::kAllAccess);
  RegistryKey stale = open(vendor, "Tree\\Stem", RegistryAccess::kRead);
  status = platform::enumerateRegistrySubkey(tree, 0, 6, &text);
  note("first below Tree in 6", status);
  note("delete Tree with subkeys", platform::deleteRegistryKey(vendor, "Tree"));
  note("delete Missing", platform::deleteRegistryKey(vendor, "Missing"));
  note("delete root", platform::deleteRegistryKey(user, ""));
  deleteTree(tree, "Tree");
  note("delete Tree", platform::deleteRegistryKey(tree, ""));
  note("set in deleted", platform::setRegistryString(tree, "x", "y"));
  note("query in deleted", platform::queryRegistryValue(stale, "x", &value));
  unsigned long count = 0;
  note("count in deleted", platform::countRegistrySubkeys(stale, &count));
  note("close", platform::closeRegistryKey(tree));
  open(vendor, "Tree", RegistryAccess::kRead);
  listSubkeys(vendor, "Vendor");
  status = platform::enumerateRegistrySubkey(vendor, 0, 5, &text);
  note("first below Vendor in 5", status);

  tree = create("Software\\Vendor\\tree\\Stem");
  note("close", platform::closeRegistryKey(tree));
  tree = open(vendor, "Tree", RegistryAccess::kAllAccess);
  listValues(tree, "tree");
  listSubkeys(tree, "tree");
  note("query Leaf", platform::queryRegistryValue(tree, "Leaf", &value));
  note("count in stale", platform::countRegistrySubkeys(stale, &count));
  listSubkeys(vendor, "Vendor");
  for (RegistryKey key : {tree, stale, vendor}) note("close", platform::closeRegistryKey(key));
  return log;
}

class WhatIfRegistry : public ::testing::Test {
 protected:
  WhatIfRegistry() {
    environment.set("WINDIR", dir.getPath().c_str());
    environment.set("TVPAT_REGISTRY", nullptr);
  }

  void TearDown() override { platform::setBackend(nullptr); }

  TempDir dir;
  EnvironmentGuard environment;
};

const char kMachineRegistry[] =
    "REGEDIT4\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Vendor]\r\n"
    "@=\"old\"\r\n\"Keep\"=\"k\"\r\n\"Gone\"=dword:00000001\r\n\"Swap\"=\"s\"\r\n"
    "\"Back\"=\"b\"\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Vendor\\Tree]\r\n\"Leaf\"=\"x\"\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Vendor\\Tree\\Branch]\r\n\"Twig\"=hex:01,02\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Vendor\\Tree\\Branch\\Bud]\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Vendor\\Tree\\Stem]\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Vendor\\Other]\r\n\r\n";

// The dry run must take the path the run takes: every call answers as it
// does once the changes are made for real, while the machine stays as it
// was.
TEST_F(WhatIfRegistry, AnswersAsTheRunWouldWithoutChangingTheMachine) {
  struct Case {
    const char* name;
    std::optional<std::string> file;
  };
  const Case cases[] = {
      {"machine registry", std::string(kMachineRegistry)},
      {"no registry file", std::nullopt},
      {"malformed file", std::string("REGEDIT4\r\n\"orphan\"=\"value\"\r\n")},
  };
  for (const Case& c : cases) {
    dir.clear();
    if (c.file) dir.write("REGISTRY.REG", *c.file);
    platform::WhatIfBackend whatIf(platform::getSystemBackend());
    platform::setBackend(&whatIf);
    const std::string dryRun = Script().run();
    platform::setBackend(nullptr);
    EXPECT_EQ(dir.read("REGISTRY.REG"), c.file) << c.name;

    EXPECT_EQ(dryRun, Script().run()) << c.name;
  }
}

TEST_F(WhatIfRegistry, ListsEachChangedKeyAndValueOnceAsFirstNamed) {
  dir.write("REGISTRY.REG", kMachineRegistry);
  platform::WhatIfBackend whatIf(platform::getSystemBackend());
  platform::setBackend(&whatIf);
  whatIf.setTag(7);
  Script().run();
  std::string listed;
  for (const platform::WhatIfBackend::ChangedKey& changed : whatIf.getChangedKeys()) {
    listed += changed.keyPath;
    if (changed.isValue) listed += " [" + changed.valueName + "]";
    listed += " " + std::to_string(changed.tag) + "\n";
  }
  EXPECT_EQ(listed,
            "HKEY_CURRENT_USER\\SOFTWARE\\vendor [swap] 7\n"
            "HKEY_CURRENT_USER\\SOFTWARE\\vendor [Gone] 7\n"
            "HKEY_CURRENT_USER\\SOFTWARE\\vendor [Back] 7\n"
            "HKEY_CURRENT_USER\\SOFTWARE\\vendor [Added] 7\n"
            "HKEY_CURRENT_USER\\SOFTWARE\\vendor [] 7\n"
            "HKEY_CURRENT_USER\\SOFTWARE\\vendor\\New 7\n"
            "HKEY_CURRENT_USER\\SOFTWARE\\vendor\\New\\Deep 7\n"
            "HKEY_CURRENT_USER\\SOFTWARE\\vendor\\New\\Deep [v] 7\n"
            "HKEY_CURRENT_USER\\SOFTWARE\\vendor\\Tree\\Branch\\Bud 7\n"
            "HKEY_CURRENT_USER\\SOFTWARE\\vendor\\Tree\\Branch 7\n"
            "HKEY_CURRENT_USER\\SOFTWARE\\vendor\\Tree\\Stem 7\n"
            "HKEY_CURRENT_USER\\SOFTWARE\\vendor\\Tree 7\n");
}

}  // namespace
