#include "platform/native_calls.h"

#include "platform/registry.h"

#include <cerrno>
#include <cstdlib>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/ascii_text.h"
#include "base/line_reader.h"
#include "platform/files.h"
#include "platform/posix/posix_support.h"

namespace platform {
namespace native {

namespace {

using testing::Call;

const char* const kRootNames[] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_CLASSES_ROOT",
                                  "HKEY_USERS"};
constexpr std::intptr_t kRootCount = 4;
// Handles of open keys start above the four root handles (1 to 4); 0 is no
// key at all, as a null HKEY is.
constexpr std::intptr_t kFirstOpenKey = 16;

struct Value {
  // Empty for the default value "@".
  std::string name;
  // A string value holds its text unescaped; any other kind (dword:, hex:)
  // keeps its right-hand side as read, continuation lines joined, so that a
  // save writes it back unchanged but for the line breaks.
  bool isString = true;
  std::string data;
};

struct Key {
  // The full path with the canonical spelling of the root and of every level
  // as first written, e.g. HKEY_CURRENT_USER\Software\Vendor.
  std::string path;
  std::vector<Value> values;
};

// Keys in file order, and where each is by its path in upper case (key names
// compare as file names do, upperNameCase), so that finding a key does not
// cost a pass over every key: the file is parsed with one look-up per header
// line.
struct Hive {
  std::vector<Key> keys;
  std::unordered_map<std::string, std::size_t> positions;
};

struct OpenKey {
  bool isUsed = false;
  bool isWritable = false;
  std::string path;
};

std::vector<OpenKey>& openKeys() {
  static std::vector<OpenKey> keys;
  return keys;
}

Status failure(int error) { return posix::failureFromErrno(error); }

std::string foldedPath(const std::string& path) {
  std::string folded = path;
  for (char& c : folded) c = upperNameCase(c);
  return folded;
}

bool isRootPath(const std::string& path) {
  for (const char* name : kRootNames) {
    if (equalsIgnoringNameCase(path, name)) return true;
  }
  return false;
}

// Splits at "\". Empty levels (a leading, doubled or trailing "\") make the
// name invalid, except that one trailing "\" is tolerated as Windows does.
bool splitLevels(std::string text, std::vector<std::string>* levels) {
  levels->clear();
  if (text.empty()) return true;
  if (text.back() == '\\') text.pop_back();
  std::size_t start = 0;
  for (;;) {
    std::size_t end = text.find('\\', start);
    std::string level = text.substr(start, end == std::string::npos ? end : end - start);
    // A line end inside a name would break the file's one-line headers.
    if (level.empty() || level.find_first_of("\r\n") != std::string::npos) return false;
    levels->push_back(level);
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

int findKey(const Hive& hive, const std::string& path) {
  auto found = hive.positions.find(foldedPath(path));
  return found == hive.positions.end() ? -1 : static_cast<int>(found->second);
}

void appendKey(Hive* hive, const std::string& path) {
  hive->positions[foldedPath(path)] = hive->keys.size();
  Key key;
  key.path = path;
  hive->keys.push_back(std::move(key));
}

void eraseKey(Hive* hive, std::size_t position) {
  hive->keys.erase(hive->keys.begin() + static_cast<std::ptrdiff_t>(position));
  hive->positions.clear();
  for (std::size_t i = 0; i < hive->keys.size(); ++i) {
    hive->positions[foldedPath(hive->keys[i].path)] = i;
  }
}

bool keyExists(const Hive& hive, const std::string& path) {
  return isRootPath(path) || findKey(hive, path) >= 0;
}

bool hasSubkeys(const Hive& hive, const std::string& path) {
  std::string prefix = path + "\\";
  for (const Key& key : hive.keys) {
    if (key.path.size() > prefix.size() && beginsWithIgnoringNameCase(key.path, prefix)) {
      return true;
    }
  }
  return false;
}

// Adds the key at the end unless it exists, with every missing level above
// it first, so that a parent always precedes its children in the file and
// subkeys enumerate in the order their headers first appeared. Returns the
// key's canonical path.
std::string addKey(Hive* hive, const std::vector<std::string>& levels, bool* added) {
  std::string path;
  for (const char* name : kRootNames) {
    if (equalsIgnoringNameCase(levels[0], name)) path = name;
  }
  for (std::size_t i = 1; i < levels.size(); ++i) {
    std::string next = path + "\\" + levels[i];
    int found = findKey(*hive, next);
    if (found >= 0) {
      path = hive->keys[static_cast<std::size_t>(found)].path;
      continue;
    }
    appendKey(hive, next);
    path = next;
    if (added != nullptr) *added = true;
  }
  if (levels.size() == 1 && findKey(*hive, path) < 0) {
    // A root appears in the file only when it holds values of its own.
    appendKey(hive, path);
    if (added != nullptr) *added = true;
  }
  return path;
}

Key* keyAt(Hive* hive, const std::string& path, bool create) {
  int found = findKey(*hive, path);
  if (found >= 0) return &hive->keys[static_cast<std::size_t>(found)];
  if (!create || !isRootPath(path)) return nullptr;
  addKey(hive, {path}, nullptr);
  return &hive->keys.back();
}

// Reads a quoted string starting at text[*position] == '"'; leaves
// *position after the closing quote. REGEDIT4 escapes only "\" and '"'.
bool readQuoted(const std::string& text, std::size_t* position, std::string* result) {
  result->clear();
  std::size_t i = *position + 1;
  while (i < text.size()) {
    char c = text[i];
    if (c == '"') {
      *position = i + 1;
      return true;
    }
    if (c == '\\') {
      if (i + 1 >= text.size() || (text[i + 1] != '\\' && text[i + 1] != '"')) return false;
      c = text[i + 1];
      ++i;
    }
    result->push_back(c);
    ++i;
  }
  return false;
}

// Reads the value that starts at lines[*index]. A value other than a string
// may go on over the following lines, each line but the last ending in "\",
// as regedit breaks long hex: values; *index is left on its last line.
bool parseValue(const std::vector<std::string>& lines, std::size_t* index, Value* value) {
  const std::string& line = lines[*index];
  std::size_t position = 0;
  if (line[0] == '@') {
    value->name.clear();
    position = 1;
  } else if (!readQuoted(line, &position, &value->name) || value->name.empty()) {
    return false;
  }
  if (position >= line.size() || line[position] != '=') return false;
  ++position;
  if (position < line.size() && line[position] == '"') {
    value->isString = true;
    return readQuoted(line, &position, &value->data) && position == line.size();
  }
  value->isString = false;
  value->data = line.substr(position);
  while (!value->data.empty() && value->data.back() == '\\') {
    value->data.pop_back();
    if (++*index >= lines.size()) return false;
    // regedit indents a continuation and puts only bytes on it. Anything
    // else (a blank line, a header) means the value was cut short, and
    // reading on would take the next line into it.
    const std::string& next = lines[*index];
    std::size_t start = next.find_first_not_of(" \t");
    if (start == std::string::npos) return false;
    std::size_t end = next.find_first_not_of("0123456789abcdefABCDEF,", start);
    if (end != std::string::npos && (end + 1 != next.size() || next[end] != '\\')) return false;
    value->data.append(next, start, std::string::npos);
  }
  return !value->data.empty();
}

// A hexadecimal number of one to eight digits, all of text.
bool parseHexNumber(const std::string& text, unsigned long* number) {
  if (text.empty() || text.size() > 8) return false;
  *number = 0;
  for (char c : text) {
    c = lowerAscii(c);
    unsigned long digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned long>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned long>(c - 'a' + 10);
    } else {
      return false;
    }
    *number = (*number << 4) | digit;
  }
  return true;
}

// The type and bytes that the right-hand side of a value other than a string
// stands for: dword:XXXXXXXX, hex:bytes or hex(type):bytes, the type in
// hexadecimal as regedit writes it. False for any other text: a file holding
// such a value still loads, and only reading that value fails.
bool decodeData(const std::string& text, RegistryValue* value) {
  value->data.clear();
  unsigned long number = 0;
  if (beginsWithNoCase(text, "dword:")) {
    if (!parseHexNumber(text.substr(6), &number)) return false;
    value->type = kRegistryDword;
    for (int i = 0; i < 4; ++i) {
      value->data.push_back(static_cast<char>((number >> (8 * i)) & 0xFF));
    }
    return true;
  }
  if (!beginsWithNoCase(text, "hex")) return false;
  std::size_t position = 3;
  value->type = kRegistryBinary;
  if (position < text.size() && text[position] == '(') {
    std::size_t close = text.find(')', position);
    if (close == std::string::npos ||
        !parseHexNumber(text.substr(position + 1, close - position - 1), &value->type)) {
      return false;
    }
    position = close + 1;
  }
  if (position >= text.size() || text[position] != ':') return false;
  if (++position == text.size()) return true;
  for (;;) {
    std::size_t comma = text.find(',', position);
    std::size_t end = comma == std::string::npos ? text.size() : comma;
    if (end - position > 2 || !parseHexNumber(text.substr(position, end - position), &number)) {
      return false;
    }
    value->data.push_back(static_cast<char>(number));
    if (comma == std::string::npos) return true;
    position = comma + 1;
  }
}

bool decodeValue(const Value& stored, RegistryValue* value) {
  if (!stored.isString) return decodeData(stored.data, value);
  // The system keeps a string with its terminating zero.
  value->type = kRegistryString;
  value->data = stored.data;
  value->data.push_back('\0');
  return true;
}

void appendHexByte(unsigned char byte, std::string* out) {
  const char* const digits = "0123456789abcdef";
  out->push_back(digits[byte >> 4]);
  out->push_back(digits[byte & 0xF]);
}

// The value as the file keeps it. Only a string with exactly one zero, its
// last byte, can be a quoted string, and only without a line end, since each
// value starts on a line of its own; any other takes regedit's hex form,
// which holds every byte.
Value encodeValue(const std::string& name, const RegistryValue& value) {
  Value stored;
  stored.name = name;
  const std::string& data = value.data;
  if (value.type == kRegistryString && !data.empty() && data.find('\0') == data.size() - 1 &&
      data.find_first_of("\r\n") == std::string::npos) {
    stored.data.assign(data, 0, data.size() - 1);
    return stored;
  }
  stored.isString = false;
  if (value.type == kRegistryDword && data.size() == 4) {
    // Little-endian bytes, most significant digit first.
    stored.data = "dword:";
    for (int i = 3; i >= 0; --i) appendHexByte(static_cast<unsigned char>(data[i]), &stored.data);
    return stored;
  }
  stored.data = "hex";
  if (value.type != kRegistryBinary) {
    std::string type;
    unsigned long rest = value.type;
    do {
      type.insert(type.begin(), "0123456789abcdef"[rest & 0xF]);
      rest >>= 4;
    } while (rest != 0);
    stored.data += "(" + type + ")";
  }
  stored.data += ':';
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (i > 0) stored.data += ',';
    appendHexByte(static_cast<unsigned char>(data[i]), &stored.data);
  }
  return stored;
}

void putValue(Key* key, const Value& value) {
  for (Value& existing : key->values) {
    if (equalsIgnoringNameCase(existing.name, value.name)) {
      existing = value;
      return;
    }
  }
  key->values.push_back(value);
}

bool parseHive(const std::string& content, Hive* hive) {
  std::vector<std::string> lines;
  LineReader reader(content, content.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0);
  std::string line;
  while (reader.next(&line)) {
    // regedit ignores blanks after a header or value, and so does this.
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
      line.pop_back();
    }
    lines.push_back(line);
  }
  if (lines.empty()) return true;
  if (lines[0] != "REGEDIT4") return false;
  Key* current = nullptr;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      std::vector<std::string> levels;
      if (line.back() != ']' || !splitLevels(line.substr(1, line.size() - 2), &levels) ||
          levels.empty() || !isRootPath(levels[0])) {
        return false;
      }
      std::string path = addKey(hive, levels, nullptr);
      current = &hive->keys[static_cast<std::size_t>(findKey(*hive, path))];
      continue;
    }
    Value value;
    if (current == nullptr || !parseValue(lines, &i, &value)) return false;
    putValue(current, value);
  }
  return true;
}

void appendQuoted(const std::string& text, std::string* out) {
  out->push_back('"');
  for (char c : text) {
    if (c == '\\' || c == '"') out->push_back('\\');
    out->push_back(c);
  }
  out->push_back('"');
}

std::string formatHive(const Hive& hive) {
  // regedit's own layout: CR LF line ends and a blank line after every key.
  std::size_t size = 12;
  for (const Key& key : hive.keys) {
    size += key.path.size() + 6;
    for (const Value& value : key.values) size += 2 * (value.name.size() + value.data.size()) + 8;
  }
  std::string text;
  text.reserve(size);
  text += "REGEDIT4\r\n\r\n";
  for (const Key& key : hive.keys) {
    text += '[';
    text += key.path;
    text += "]\r\n";
    for (const Value& value : key.values) {
      if (value.name.empty()) {
        text += '@';
      } else {
        appendQuoted(value.name, &text);
      }
      text += '=';
      if (value.isString) {
        appendQuoted(value.data, &text);
      } else {
        text += value.data;
      }
      text += "\r\n";
    }
    text += "\r\n";
  }
  return text;
}

Status hiveFilePath(std::string* path) {
  const char* named = std::getenv("TVPAT_REGISTRY");
  if (named != nullptr && *named != '\0') {
    *path = posix::resolvePath(named);
    return Status::success();
  }
  std::string windowsDirectory;
  Status status = posix::readWindowsDirectory(&windowsDirectory);
  if (!status.ok) return status;
  if (windowsDirectory.back() != '/' && windowsDirectory.back() != '\\') windowsDirectory += '/';
  *path = posix::resolvePath(windowsDirectory + "REGISTRY.REG");
  return Status::success();
}

// The registry as this process last read or wrote it: the file's path, its
// bytes and what they parse to. A call reads the file again, since another
// program may have changed it, but parses it only when its bytes differ from
// these; a patch of many REG entries would otherwise parse the whole file
// once per entry.
struct StoredHive {
  bool isKnown = false;
  std::string path;
  std::string content;
  Hive hive;
};

StoredHive& storedHive() {
  static StoredHive stored;
  return stored;
}

// Makes the stored hive the registry as the file holds it now; a missing
// file is an empty registry.
Status loadHive() {
  StoredHive& stored = storedHive();
  std::string path;
  Status status = hiveFilePath(&path);
  if (!status.ok) return status;
  std::string content;
  // Read as saveWholeFile leaves it: a save the Windows 95 family cut short
  // between its renames has the registry under the aside name alone, and the
  // system's registry never goes missing.
  status = readWholeFile(path, &content);
  if (status.notFound) {
    content.clear();
  } else if (!status.ok) {
    return status;
  }
  if (stored.isKnown && stored.path == path && stored.content == content) {
    return Status::success();
  }
  stored.isKnown = false;
  stored.hive = Hive();
  if (!parseHive(content, &stored.hive)) {
    stored.hive = Hive();
    return failure(EINVAL);
  }
  stored.path = std::move(path);
  stored.content = std::move(content);
  stored.isKnown = true;
  return Status::success();
}

// Writes the stored hive, changed by the caller, to its file.
Status saveHive() {
  StoredHive& stored = storedHive();
  std::string text = formatHive(stored.hive);
  // Every change is on disk before the call returns, and the file holds the
  // old registry or all of the new one at every moment, as the system's own
  // registry does.
  Status status = saveWholeFile(stored.path, text);
  if (status.ok) {
    stored.content = std::move(text);
  } else {
    // The file may hold the old registry still: the next call parses it.
    stored.isKnown = false;
  }
  return status;
}

// The full path and access of a handle; EBADF for one that is not open.
bool lookUpHandle(RegistryKey key, std::string* path, bool* isWritable) {
  if (key.value >= 1 && key.value <= kRootCount) {
    *path = kRootNames[key.value - 1];
    *isWritable = true;
    return true;
  }
  std::vector<OpenKey>& table = openKeys();
  std::intptr_t index = key.value - kFirstOpenKey;
  if (index < 0 || index >= static_cast<std::intptr_t>(table.size())) return false;
  const OpenKey& entry = table[static_cast<std::size_t>(index)];
  if (!entry.isUsed) return false;
  *path = entry.path;
  *isWritable = entry.isWritable;
  return true;
}

RegistryKey addHandle(const std::string& path, bool isWritable) {
  std::vector<OpenKey>& table = openKeys();
  std::size_t index = 0;
  while (index < table.size() && table[index].isUsed) ++index;
  if (index == table.size()) table.emplace_back();
  table[index].isUsed = true;
  table[index].isWritable = isWritable;
  table[index].path = path;
  RegistryKey key;
  key.value = kFirstOpenKey + static_cast<std::intptr_t>(index);
  return key;
}

// The hook's path for a call on `base` naming `name` (null or empty: none).
int registryFault(Call call, const std::string& base, const char* name) {
  if (!posix::faultHookInstalled) return 0;
  std::string path = base;
  if (name != nullptr && *name != '\0') path += std::string("\\") + name;
  return posix::consultFaultHook(call, path);
}

// Everything a call on an open key starts with: the handle's path, the
// hook, and the registry as stored now, which the call may change and then
// save. The installer runs on one thread, so no call overlaps another.
struct Context {
  std::string path;
  bool isWritable = false;
  Hive& hive = storedHive().hive;
};

Status begin(Call call, RegistryKey key, const char* name, Context* context) {
  if (!lookUpHandle(key, &context->path, &context->isWritable)) return failure(EBADF);
  if (int fault = registryFault(call, context->path, name)) return failure(fault);
  Status status = loadHive();
  if (!status.ok) return status;
  // A key deleted while open answers nothing more, as Windows reports
  // ERROR_KEY_DELETED.
  if (!keyExists(context->hive, context->path)) return failure(ENOENT);
  int found = findKey(context->hive, context->path);
  if (found >= 0) context->path = context->hive.keys[static_cast<std::size_t>(found)].path;
  return Status::success();
}

// The canonical path of the existing key `subkey` below `base`.
Status findBelow(const Hive& hive, const std::string& base, const char* subkey, std::string* path) {
  std::vector<std::string> levels;
  if (!splitLevels(subkey == nullptr ? std::string() : subkey, &levels)) return failure(EINVAL);
  *path = base;
  for (const std::string& level : levels) {
    int found = findKey(hive, *path + "\\" + level);
    if (found < 0) return failure(ENOENT);
    *path = hive.keys[static_cast<std::size_t>(found)].path;
  }
  return Status::success();
}

// begin, then the path of the key that subkey names below the handle's key.
Status beginBelow(Call call, RegistryKey key, const char* subkey, Context* context,
                  std::string* path) {
  Status status = begin(call, key, subkey, context);
  if (!status.ok) return status;
  return findBelow(context->hive, context->path, subkey, path);
}

std::vector<std::string> childNames(const Hive& hive, const std::string& path) {
  std::vector<std::string> names;
  std::string prefix = path + "\\";
  for (const Key& key : hive.keys) {
    if (key.path.size() <= prefix.size() || !beginsWithIgnoringNameCase(key.path, prefix)) {
      continue;
    }
    if (key.path.find('\\', prefix.size()) == std::string::npos) {
      names.push_back(key.path.substr(prefix.size()));
    }
  }
  return names;
}

}  // namespace

RegistryKey getRootKey(RegistryRoot root) {
  RegistryKey key;
  key.value = static_cast<std::intptr_t>(root) + 1;
  return key;
}

Status openRegistryKey(RegistryKey parent, const char* subkey, RegistryAccess access,
                       RegistryKey* key) {
  Context context;
  std::string path;
  Status status = beginBelow(Call::kOpenRegistryKey, parent, subkey, &context, &path);
  if (!status.ok) return status;
  *key = addHandle(path, access == RegistryAccess::kAllAccess);
  return Status::success();
}

Status createRegistryKey(RegistryKey parent, const char* subkey, RegistryKey* key) {
  Context context;
  Status status = begin(Call::kCreateRegistryKey, parent, subkey, &context);
  if (!status.ok) return status;
  std::vector<std::string> levels;
  if (!splitLevels(subkey == nullptr ? std::string() : subkey, &levels)) return failure(EINVAL);
  bool added = false;
  std::string path = context.path;
  if (!levels.empty()) {
    std::vector<std::string> all;
    if (!splitLevels(context.path, &all)) return failure(EINVAL);
    all.insert(all.end(), levels.begin(), levels.end());
    path = addKey(&context.hive, all, &added);
    if (added) {
      status = saveHive();
      if (!status.ok) return status;
    }
  }
  *key = addHandle(path, true);
  return Status::success();
}

Status queryRegistryDefaultValue(RegistryKey key, const char* subkey, std::size_t capacity,
                                 std::string* value) {
  Context context;
  std::string path;
  Status status = beginBelow(Call::kQueryRegistryDefaultValue, key, subkey, &context, &path);
  if (!status.ok) return status;
  std::string data;
  const Key* found = keyAt(&context.hive, path, false);
  if (found != nullptr) {
    for (const Value& stored : found->values) {
      if (!stored.name.empty()) continue;
      if (!stored.isString) return failure(EINVAL);
      data = stored.data;
    }
  }
  // An unset default value reads as an empty string, as RegQueryValueA
  // gives it; a value too long for the buffer is ERROR_MORE_DATA.
  if (data.size() + 1 > capacity) return failure(ERANGE);
  *value = data;
  return Status::success();
}

Status setRegistryString(RegistryKey key, const char* name, const std::string& value) {
  Context context;
  Status status = begin(Call::kSetRegistryString, key, name, &context);
  if (!status.ok) return status;
  if (!context.isWritable) return failure(EACCES);
  Value stored;
  stored.name = name == nullptr ? std::string() : name;
  stored.data = value;
  // Each value takes one line of the file.
  if ((stored.name + value).find_first_of("\r\n") != std::string::npos) return failure(EINVAL);
  putValue(keyAt(&context.hive, context.path, true), stored);
  return saveHive();
}

Status deleteRegistryValue(RegistryKey key, const char* name) {
  Context context;
  Status status = begin(Call::kDeleteRegistryValue, key, name, &context);
  if (!status.ok) return status;
  if (!context.isWritable) return failure(EACCES);
  std::string wanted = name == nullptr ? std::string() : name;
  Key* found = keyAt(&context.hive, context.path, false);
  if (found != nullptr) {
    for (std::size_t i = 0; i < found->values.size(); ++i) {
      if (!equalsIgnoringNameCase(found->values[i].name, wanted)) continue;
      found->values.erase(found->values.begin() + static_cast<std::ptrdiff_t>(i));
      return saveHive();
    }
  }
  return failure(ENOENT);
}

// The typed calls ask the hook as the calls they widen do (a read as
// kQueryRegistryDefaultValue, a listing as kEnumerateRegistrySubkey, a change
// as kSetRegistryString), so a hook that refuses registry reads or changes
// refuses these as well.
Status queryRegistryValue(RegistryKey key, const char* name, RegistryValue* value) {
  Context context;
  Status status = begin(Call::kQueryRegistryDefaultValue, key, name, &context);
  if (!status.ok) return status;
  std::string wanted = name == nullptr ? std::string() : name;
  const Key* found = keyAt(&context.hive, context.path, false);
  if (found != nullptr) {
    for (const Value& stored : found->values) {
      if (!equalsIgnoringNameCase(stored.name, wanted)) continue;
      RegistryValue read;
      if (!decodeValue(stored, &read)) return failure(EINVAL);
      *value = std::move(read);
      return Status::success();
    }
  }
  return failure(ENOENT);
}

Status enumerateRegistryValue(RegistryKey key, unsigned long index, std::string* name,
                              RegistryValue* value) {
  Context context;
  Status status = begin(Call::kEnumerateRegistrySubkey, key, nullptr, &context);
  if (!status.ok) return status;
  const Key* found = keyAt(&context.hive, context.path, false);
  if (found == nullptr || index >= found->values.size()) return failure(ENOENT);
  const Value& stored = found->values[index];
  RegistryValue read;
  if (!decodeValue(stored, &read)) return failure(EINVAL);
  *name = stored.name;
  *value = std::move(read);
  return Status::success();
}

Status setRegistryValue(RegistryKey key, const char* name, const RegistryValue& value) {
  Context context;
  Status status = begin(Call::kSetRegistryString, key, name, &context);
  if (!status.ok) return status;
  if (!context.isWritable) return failure(EACCES);
  Value stored = encodeValue(name == nullptr ? std::string() : name, value);
  // The name shares the value's line.
  if (stored.name.find_first_of("\r\n") != std::string::npos) return failure(EINVAL);
  putValue(keyAt(&context.hive, context.path, true), stored);
  return saveHive();
}

Status deleteRegistryKey(RegistryKey key, const char* subkey) {
  Context context;
  std::string path;
  Status status = beginBelow(Call::kDeleteRegistryKey, key, subkey, &context, &path);
  if (!status.ok) return status;
  if (subkey == nullptr || *subkey == '\0') {
    if (!context.isWritable) return failure(EACCES);
  }
  // The roots cannot go, and neither can a key that still has subkeys.
  if (isRootPath(path) || hasSubkeys(context.hive, path)) return failure(EACCES);
  eraseKey(&context.hive, static_cast<std::size_t>(findKey(context.hive, path)));
  return saveHive();
}

Status countRegistrySubkeys(RegistryKey key, unsigned long* count) {
  Context context;
  Status status = begin(Call::kCountRegistrySubkeys, key, nullptr, &context);
  if (!status.ok) return status;
  *count = static_cast<unsigned long>(childNames(context.hive, context.path).size());
  return Status::success();
}

Status enumerateRegistrySubkey(RegistryKey key, unsigned long index, std::size_t capacity,
                               std::string* name) {
  Context context;
  Status status = begin(Call::kEnumerateRegistrySubkey, key, nullptr, &context);
  if (!status.ok) return status;
  std::vector<std::string> names = childNames(context.hive, context.path);
  if (index >= names.size()) return failure(ENOENT);
  if (names[index].size() + 1 > capacity) return failure(ERANGE);
  *name = names[index];
  return Status::success();
}

Status closeRegistryKey(RegistryKey key) {
  std::string path;
  bool isWritable = false;
  if (!lookUpHandle(key, &path, &isWritable)) return failure(EBADF);
  if (int fault = registryFault(Call::kCloseRegistryKey, path, nullptr)) return failure(fault);
  if (key.value <= kRootCount) return Status::success();
  OpenKey& entry = openKeys()[static_cast<std::size_t>(key.value - kFirstOpenKey)];
  entry.isUsed = false;
  entry.path.clear();
  return Status::success();
}

}  // namespace native
}  // namespace platform
