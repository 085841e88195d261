#include "platform/registry.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "support/environment_guard.h"
#include "support/fault_hooks.h"
#include "support/temp_dir.h"

namespace {

using platform::RegistryAccess;
using platform::RegistryKey;
using platform::RegistryRoot;
using platform::Status;

class PosixRegistry : public ::testing::Test {
 protected:
  PosixRegistry() {
    environment.set("WINDIR", dir.getPath().c_str());
    environment.set("TVPAT_REGISTRY", nullptr);
  }

  RegistryKey create(const char* path) {
    RegistryKey key;
    EXPECT_TRUE(
        platform::createRegistryKey(platform::getRootKey(RegistryRoot::kCurrentUser), path, &key)
            .ok);
    return key;
  }

  Status open(const char* path, RegistryKey* key) {
    return platform::openRegistryKey(platform::getRootKey(RegistryRoot::kCurrentUser), path,
                                     RegistryAccess::kAllAccess, key);
  }

  std::string registryFile() { return dir.read("REGISTRY.REG").value_or("<absent>"); }

  TempDir dir;
  EnvironmentGuard environment;
};

TEST_F(PosixRegistry, MissingFileIsAnEmptyRegistryWithTheFourRoots) {
  RegistryKey key;
  EXPECT_TRUE(open("Software", &key).notFound);
  EXPECT_TRUE(platform::openRegistryKey(platform::getRootKey(RegistryRoot::kUsers), nullptr,
                                        RegistryAccess::kRead, &key)
                  .ok);
  std::string value = "x";
  EXPECT_TRUE(platform::queryRegistryDefaultValue(key, nullptr, 256, &value).ok);
  EXPECT_EQ(value, "");
  EXPECT_TRUE(platform::closeRegistryKey(key).ok);
  EXPECT_FALSE(dir.exists("REGISTRY.REG"));
}

TEST_F(PosixRegistry, CreatesNestedKeysAndWritesRegeditText) {
  RegistryKey app = create("Software\\Vendor\\App");
  ASSERT_TRUE(platform::setRegistryString(app, nullptr, "C:\\Program \"Files\"").ok);
  ASSERT_TRUE(platform::setRegistryString(app, "Path", "a\\\\b").ok);
  ASSERT_TRUE(platform::closeRegistryKey(app).ok);
  EXPECT_EQ(registryFile(),
            "REGEDIT4\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software]\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Vendor]\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Vendor\\App]\r\n"
            "@=\"C:\\\\Program \\\"Files\\\"\"\r\n"
            "\"Path\"=\"a\\\\\\\\b\"\r\n\r\n");

  RegistryKey vendor;
  ASSERT_TRUE(open("SOFTWARE\\vendor", &vendor).ok);
  std::string value;
  ASSERT_TRUE(platform::queryRegistryDefaultValue(vendor, "APP", 256, &value).ok);
  EXPECT_EQ(value, "C:\\Program \"Files\"");
  // 18 characters need 19 bytes with the terminator.
  EXPECT_FALSE(platform::queryRegistryDefaultValue(vendor, "App", 18, &value).ok);
  EXPECT_TRUE(platform::queryRegistryDefaultValue(vendor, "App", 19, &value).ok);
  EXPECT_TRUE(platform::queryRegistryDefaultValue(vendor, "Other", 256, &value).notFound);
  ASSERT_TRUE(platform::closeRegistryKey(vendor).ok);
}

TEST_F(PosixRegistry, ReadsHandWrittenFilesAndEnumeratesInFileOrder) {
  dir.write("REGISTRY.REG",
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Soft\\Zeta]\n\"N\"=dword:00000001\n"
            "[hkey_local_machine\\SOFT\\alpha\\\xE9t\xE9] \n@=\"d\"\t\n\n"
            "[HKEY_LOCAL_MACHINE\\Soft\\Mid]\n");
  RegistryKey soft;
  ASSERT_TRUE(platform::openRegistryKey(platform::getRootKey(RegistryRoot::kLocalMachine), "soft",
                                        RegistryAccess::kRead, &soft)
                  .ok);
  unsigned long count = 0;
  ASSERT_TRUE(platform::countRegistrySubkeys(soft, &count).ok);
  EXPECT_EQ(count, 3u);
  std::string name;
  ASSERT_TRUE(platform::enumerateRegistrySubkey(soft, 0, 50, &name).ok);
  EXPECT_EQ(name, "Zeta");
  ASSERT_TRUE(platform::enumerateRegistrySubkey(soft, 1, 50, &name).ok);
  EXPECT_EQ(name, "alpha");
  ASSERT_TRUE(platform::enumerateRegistrySubkey(soft, 2, 50, &name).ok);
  EXPECT_EQ(name, "Mid");
  EXPECT_FALSE(platform::enumerateRegistrySubkey(soft, 2, 3, &name).ok);
  EXPECT_TRUE(platform::enumerateRegistrySubkey(soft, 3, 50, &name).notFound);
  std::string value;
  // Accented letters of the code page fold as in file names.
  ASSERT_TRUE(platform::queryRegistryDefaultValue(soft, "Alpha\\\xC9T\xC9", 256, &value).ok);
  EXPECT_EQ(value, "d");
  // A key opened for reading takes no changes.
  EXPECT_EQ(platform::setRegistryString(soft, "x", "y").systemError,
            static_cast<unsigned long>(EACCES));
  ASSERT_TRUE(platform::closeRegistryKey(soft).ok);
}

TEST_F(PosixRegistry, KeysWithSubkeysAreNotDeleted) {
  RegistryKey app = create("Software\\Vendor\\App");
  RegistryKey vendor;
  ASSERT_TRUE(open("Software\\Vendor", &vendor).ok);
  EXPECT_FALSE(platform::deleteRegistryKey(vendor, "").ok);
  ASSERT_TRUE(platform::setRegistryString(app, "v", "1").ok);
  ASSERT_TRUE(platform::deleteRegistryValue(app, "V").ok);
  EXPECT_TRUE(platform::deleteRegistryValue(app, "V").notFound);
  ASSERT_TRUE(platform::deleteRegistryKey(app, "").ok);
  EXPECT_TRUE(platform::setRegistryString(app, "v", "1").notFound);
  ASSERT_TRUE(platform::closeRegistryKey(app).ok);
  ASSERT_TRUE(platform::deleteRegistryKey(vendor, "").ok);
  ASSERT_TRUE(platform::closeRegistryKey(vendor).ok);
  RegistryKey software;
  ASSERT_TRUE(open("Software", &software).ok);
  unsigned long count = 1;
  ASSERT_TRUE(platform::countRegistrySubkeys(software, &count).ok);
  EXPECT_EQ(count, 0u);
  ASSERT_TRUE(platform::closeRegistryKey(software).ok);
}

TEST_F(PosixRegistry, MalformedFileFailsEveryCallAndStaysAsItWas) {
  const std::string broken = "REGEDIT4\r\n\r\n\"orphan\"=\"value\"\r\n";
  dir.write("REGISTRY.REG", broken);
  RegistryKey key;
  Status status = platform::createRegistryKey(platform::getRootKey(RegistryRoot::kCurrentUser),
                                              "Software", &key);
  EXPECT_FALSE(status.ok);
  EXPECT_FALSE(status.notFound);
  EXPECT_FALSE(
      platform::setRegistryString(platform::getRootKey(RegistryRoot::kCurrentUser), "name", "value")
          .ok);
  EXPECT_EQ(registryFile(), broken);
  dir.write("REGISTRY.REG", "Windows Registry Editor Version 5.00\r\n");
  EXPECT_FALSE(open(nullptr, &key).ok);
  dir.write("REGISTRY.REG", "REGEDIT4\r\n[HKEY_CURRENT_USER\\A]\r\n\"x\"=\"bad\\n\"\r\n");
  EXPECT_FALSE(open("A", &key).ok);
}

TEST_F(PosixRegistry, RegistryFileCanBeNamedAndHookSeesKeyPaths) {
  environment.set("TVPAT_REGISTRY", dir.file("other.reg").c_str());
  std::string seen;
  FaultHooks hooks;
  hooks.set([&](platform::testing::Call call, const std::string& path) {
    if (call != platform::testing::Call::kSetRegistryString) return 0;
    seen = path;
    return EACCES;
  });
  RegistryKey app = create("Software\\App");
  EXPECT_FALSE(platform::setRegistryString(app, "Name", "v").ok);
  hooks.clear();
  ASSERT_TRUE(platform::closeRegistryKey(app).ok);
  EXPECT_EQ(seen, "HKEY_CURRENT_USER\\Software\\App\\Name");
  EXPECT_TRUE(dir.exists("other.reg"));
  EXPECT_FALSE(dir.exists("REGISTRY.REG"));
}

// The registry is read at every call, so a change another program makes
// between two calls is seen by the second, even one of the same size.
TEST_F(PosixRegistry, SeesEveryChangeMadeBetweenCalls) {
  RegistryKey app = create("Software\\App");
  ASSERT_TRUE(platform::setRegistryString(app, nullptr, "1").ok);
  std::string value;
  ASSERT_TRUE(platform::queryRegistryDefaultValue(app, nullptr, 256, &value).ok);
  EXPECT_EQ(value, "1");

  std::string edited = registryFile();
  edited.replace(edited.find("@=\"1\""), 5, "@=\"2\"");
  dir.write("REGISTRY.REG", edited);
  ASSERT_TRUE(platform::queryRegistryDefaultValue(app, nullptr, 256, &value).ok);
  EXPECT_EQ(value, "2");

  dir.write("REGISTRY.REG", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software]\r\n\r\n");
  EXPECT_TRUE(platform::queryRegistryDefaultValue(app, nullptr, 256, &value).notFound);
  RegistryKey software;
  ASSERT_TRUE(open("Software", &software).ok);
  unsigned long count = 1;
  ASSERT_TRUE(platform::countRegistrySubkeys(software, &count).ok);
  EXPECT_EQ(count, 0u);

  const std::string broken = "REGEDIT4\r\n\"orphan\"=\"value\"\r\n";
  dir.write("REGISTRY.REG", broken);
  EXPECT_FALSE(platform::countRegistrySubkeys(software, &count).ok);
  EXPECT_FALSE(platform::setRegistryString(software, "x", "y").ok);
  EXPECT_EQ(registryFile(), broken);
  ASSERT_TRUE(platform::closeRegistryKey(software).ok);
  ASSERT_TRUE(platform::closeRegistryKey(app).ok);
}

// A change whose save failed is not the registry: the next call answers from
// the file, which still holds the registry as it was.
TEST_F(PosixRegistry, ChangeWhoseSaveFailedIsForgotten) {
  RegistryKey app = create("Software\\App");
  ASSERT_TRUE(platform::setRegistryString(app, nullptr, "old").ok);
  const std::string saved = registryFile();
  for (platform::testing::Call failing :
       {platform::testing::Call::kFlushFile, platform::testing::Call::kReplaceFile}) {
    platform::testing::setFaultHook([failing](platform::testing::Call call, const std::string&) {
      return call == failing ? EIO : 0;
    });
    EXPECT_FALSE(platform::setRegistryString(app, nullptr, "new").ok);
    RegistryKey added;
    EXPECT_FALSE(platform::createRegistryKey(app, "Added", &added).ok);
    EXPECT_FALSE(platform::deleteRegistryKey(app, "").ok);
    platform::testing::setFaultHook(nullptr);

    std::string value;
    ASSERT_TRUE(platform::queryRegistryDefaultValue(app, nullptr, 256, &value).ok);
    EXPECT_EQ(value, "old");
    unsigned long count = 1;
    ASSERT_TRUE(platform::countRegistrySubkeys(app, &count).ok);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(registryFile(), saved);
  }
  ASSERT_TRUE(platform::closeRegistryKey(app).ok);
}

// Deleting a key moves the keys after it; each must still be found, and a
// key made again goes to the end.
TEST_F(PosixRegistry, KeysAfterADeletedOneStayFindable) {
  for (const char* name : {"Software\\A", "Software\\B", "Software\\C"}) {
    RegistryKey key = create(name);
    ASSERT_TRUE(platform::setRegistryString(key, nullptr, name).ok);
    ASSERT_TRUE(platform::closeRegistryKey(key).ok);
  }
  RegistryKey software;
  ASSERT_TRUE(open("Software", &software).ok);
  ASSERT_TRUE(platform::deleteRegistryKey(software, "b").ok);
  std::string value;
  ASSERT_TRUE(platform::queryRegistryDefaultValue(software, "c", 256, &value).ok);
  EXPECT_EQ(value, "Software\\C");
  EXPECT_TRUE(platform::queryRegistryDefaultValue(software, "B", 256, &value).notFound);
  RegistryKey again = create("Software\\b");
  ASSERT_TRUE(platform::closeRegistryKey(again).ok);
  const char* const expected[] = {"A", "C", "b"};
  for (unsigned long i = 0; i < 3; ++i) {
    std::string name;
    ASSERT_TRUE(platform::enumerateRegistrySubkey(software, i, 50, &name).ok);
    EXPECT_EQ(name, expected[i]);
  }
  ASSERT_TRUE(platform::closeRegistryKey(software).ok);
  EXPECT_EQ(registryFile(),
            "REGEDIT4\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software]\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\A]\r\n@=\"Software\\\\A\"\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\C]\r\n@=\"Software\\\\C\"\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\b]\r\n\r\n");
}

// Typed values go to the file in regedit's forms, and come back as they were
// set from a fresh read of that file, by name and listed in key order. A
// string value whose bytes are not one zero-terminated line is kept as hex.
TEST_F(PosixRegistry, TypedValuesRoundTripThroughTheFile) {
  struct Case {
    const char* name;
    platform::RegistryValue value;
    const char* line;
  };
  const Case cases[] = {
      {"Str", {platform::kRegistryString, std::string("a\\b\0", 4)}, "\"Str\"=\"a\\\\b\""},
      {"Exp",
       {platform::kRegistryExpandString, std::string("%A%\0", 4)},
       "\"Exp\"=hex(2):25,41,25,00"},
      {"Bin", {platform::kRegistryBinary, "\x01\xff"}, "\"Bin\"=hex:01,ff"},
      {"Num",
       {platform::kRegistryDword, std::string("\x2a\x01\0\x80", 4)},
       "\"Num\"=dword:8000012a"},
      {"Multi",
       {platform::kRegistryMultiString, std::string("a\0b\0\0", 5)},
       "\"Multi\"=hex(7):61,00,62,00,00"},
      {"Empty", {platform::kRegistryBinary, ""}, "\"Empty\"=hex:"},
      {"", {platform::kRegistryString, std::string("d\0", 2)}, "@=\"d\""},
      {"Raw", {platform::kRegistryString, std::string("a\0b\0", 4)}, "\"Raw\"=hex(1):61,00,62,00"},
      {"Odd", {11, "\x01"}, "\"Odd\"=hex(b):01"},
  };
  RegistryKey app = create("Software\\App");
  std::string text =
      "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software]\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\App]\r\n";
  for (const Case& c : cases) {
    ASSERT_TRUE(platform::setRegistryValue(app, c.name, c.value).ok) << c.name;
    text += std::string(c.line) + "\r\n";
  }
  EXPECT_EQ(registryFile(), text + "\r\n");
  // A copy under another name is parsed afresh, then saved again by a string
  // call.
  dir.write("copy.reg", text);
  environment.set("TVPAT_REGISTRY", dir.file("copy.reg").c_str());
  ASSERT_TRUE(platform::setRegistryString(app, "Later", "x").ok);
  std::string defaultValue;
  ASSERT_TRUE(platform::queryRegistryDefaultValue(app, nullptr, 256, &defaultValue).ok);
  EXPECT_EQ(defaultValue, "d");
  EXPECT_EQ(dir.read("copy.reg"), text + "\"Later\"=\"x\"\r\n\r\n");

  unsigned long index = 0;
  for (const Case& c : cases) {
    platform::RegistryValue byName;
    platform::RegistryValue listed;
    std::string name = "?";
    ASSERT_TRUE(platform::queryRegistryValue(app, c.name, &byName).ok) << c.name;
    ASSERT_TRUE(platform::enumerateRegistryValue(app, index++, &name, &listed).ok) << c.name;
    EXPECT_EQ(name, c.name);
    for (const platform::RegistryValue* read : {&byName, &listed}) {
      EXPECT_EQ(read->type, c.value.type) << c.name;
      EXPECT_EQ(read->data, c.value.data) << c.name;
    }
  }
  platform::RegistryValue value;
  std::string name;
  EXPECT_TRUE(platform::queryRegistryValue(app, "Absent", &value).notFound);
  ASSERT_TRUE(platform::enumerateRegistryValue(app, index, &name, &value).ok);
  EXPECT_EQ(name, "Later");
  EXPECT_TRUE(platform::enumerateRegistryValue(app, index + 1, &name, &value).notFound);
  ASSERT_TRUE(platform::closeRegistryKey(app).ok);
}

// regedit breaks long hex values over lines that end in "\". A value cut
// short makes the file malformed; one that is not hex fails only its reads.
TEST_F(PosixRegistry, ReadsHexValuesContinuedOverLines) {
  dir.write("REGISTRY.REG",
            "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n\"M\"=hex(7):61,00,\\\r\n  62,00,\\\r\n"
            "  00\r\n\"Bad\"=hex:zz\r\n");
  RegistryKey key;
  ASSERT_TRUE(open("A", &key).ok);
  platform::RegistryValue value;
  ASSERT_TRUE(platform::queryRegistryValue(key, "m", &value).ok);
  EXPECT_EQ(value.type, platform::kRegistryMultiString);
  EXPECT_EQ(value.data, std::string("a\0b\0\0", 5));
  Status bad = platform::queryRegistryValue(key, "Bad", &value);
  EXPECT_FALSE(bad.ok || bad.notFound);
  ASSERT_TRUE(platform::closeRegistryKey(key).ok);
  dir.write("REGISTRY.REG", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n\"M\"=hex:61,\\\r\n\r\n");
  EXPECT_FALSE(open("A", &key).ok);
}

// Two registry files with the same bytes are still two files: a change goes
// to the file named when it is made.
TEST_F(PosixRegistry, EachCallUsesTheFileNamedAtThatTime) {
  const std::string content = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software]\r\n\r\n";
  dir.write("first.reg", content);
  dir.write("second.reg", content);
  environment.set("TVPAT_REGISTRY", dir.file("first.reg").c_str());
  RegistryKey software;
  ASSERT_TRUE(open("Software", &software).ok);
  ASSERT_TRUE(platform::setRegistryString(software, "Where", "first").ok);
  environment.set("TVPAT_REGISTRY", dir.file("second.reg").c_str());
  ASSERT_TRUE(platform::setRegistryString(software, "Where", "second").ok);
  ASSERT_TRUE(platform::closeRegistryKey(software).ok);
  EXPECT_EQ(dir.read("first.reg"),
            content.substr(0, content.size() - 2) + "\"Where\"=\"first\"\r\n\r\n");
  EXPECT_EQ(dir.read("second.reg"),
            content.substr(0, content.size() - 2) + "\"Where\"=\"second\"\r\n\r\n");
}

}  // namespace
