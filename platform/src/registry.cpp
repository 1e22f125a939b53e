#include "platform/registry.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/error.h"
#include "platform/file_rewrite.h"
#include "platform/text.h"

namespace platform {

struct RegKeyAccess {
  static RegKey Make(RegistryRoot root, std::u16string subKey, uint32_t access) {
    return RegKey(root, std::move(subKey), access);
  }
};

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

struct RootName {
  RegistryRoot root;
  std::u16string_view name;
  std::u16string_view shortName;
};
constexpr RootName kRoots[] = {
    {RegistryRoot::LocalMachine, u"HKEY_LOCAL_MACHINE", u"HKLM"},
    {RegistryRoot::CurrentUser, u"HKEY_CURRENT_USER", u"HKCU"},
    {RegistryRoot::ClassesRoot, u"HKEY_CLASSES_ROOT", u"HKCR"},
    {RegistryRoot::Users, u"HKEY_USERS", u"HKU"},
};

// ---- Text form of the hive ----

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Up to maxDigits hex digits, at least one, and nothing else.
bool ParseHexNumber(std::string_view text, size_t maxDigits, uint32_t* value) {
  if (text.empty() || text.size() > maxDigits) return false;
  uint32_t result = 0;
  for (char c : text) {
    int digit = HexDigit(c);
    if (digit < 0) return false;
    result = result * 16 + static_cast<uint32_t>(digit);
  }
  *value = result;
  return true;
}

bool ParseHexBytes(std::string_view text, std::vector<uint8_t>* bytes) {
  bytes->clear();
  text = TrimBlanks(text);
  if (text.empty()) return true;
  while (true) {
    size_t comma = text.find(',');
    uint32_t byte = 0;
    if (!ParseHexNumber(TrimBlanks(text.substr(0, comma)), 2, &byte)) return false;
    bytes->push_back(static_cast<uint8_t>(byte));
    if (comma == std::string_view::npos) return true;
    text.remove_prefix(comma + 1);
  }
}

// A quoted text with the \\ and \" escapes; text starts at the opening quote. Answers the
// unescaped content and leaves text after the closing quote.
bool ParseQuoted(std::string_view* text, std::string* content) {
  content->clear();
  if (text->empty() || text->front() != '"') return false;
  size_t i = 1;
  while (i < text->size()) {
    char c = (*text)[i];
    if (c == '"') {
      text->remove_prefix(i + 1);
      return true;
    }
    if (c == '\\') {
      if (i + 1 >= text->size()) return false;
      char next = (*text)[i + 1];
      if (next != '\\' && next != '"') return false;
      content->push_back(next);
      i += 2;
      continue;
    }
    content->push_back(c);
    ++i;
  }
  return false;
}

std::string Quote(std::string_view text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') quoted.push_back('\\');
    quoted.push_back(c);
  }
  quoted.push_back('"');
  return quoted;
}

std::vector<uint8_t> Utf16Bytes(std::u16string_view text) {
  std::vector<uint8_t> bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t unit : text) {
    bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<uint8_t>(unit >> 8));
  }
  return bytes;
}

std::u16string Utf16FromBytes(const uint8_t* data, size_t size) {
  std::u16string text;
  text.reserve(size / 2);
  for (size_t i = 0; i + 1 < size; i += 2) {
    text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  return text;
}

std::vector<uint8_t> TextValueBytes(std::string_view utf8) {
  std::u16string wide = Utf8ToUtf16(utf8);
  wide.push_back(u'\0');
  return Utf16Bytes(wide);
}

bool ParseValueData(std::string_view data, RegistryValue* value) {
  if (!data.empty() && data.front() == '"') {
    std::string content;
    if (!ParseQuoted(&data, &content) || !TrimBlanks(data).empty()) return false;
    value->type = REG_SZ;
    value->data = TextValueBytes(content);
    return true;
  }
  if (data.starts_with("dword:")) {
    uint32_t number = 0;
    if (!ParseHexNumber(data.substr(6), 8, &number)) return false;
    value->type = REG_DWORD;
    value->data = {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
                   static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)};
    return true;
  }
  if (data.starts_with("hex:")) {
    value->type = REG_BINARY;
    return ParseHexBytes(data.substr(4), &value->data);
  }
  if (data.starts_with("hex(")) {
    size_t close = data.find("):");
    if (close == std::string_view::npos || !ParseHexNumber(data.substr(4, close - 4), 8, &value->type)) return false;
    return ParseHexBytes(data.substr(close + 2), &value->data);
  }
  return false;
}

bool ParseKeyPath(std::u16string_view path, RegistryRoot* root, std::u16string* subKey) {
  size_t slash = path.find(u'\\');
  if (!RegistryRootFromName(path.substr(0, slash), root)) return false;
  // Only the full root names appear in the file.
  if (path.substr(0, slash).size() != RegistryRootName(*root).size()) return false;
  subKey->clear();
  if (slash == std::u16string_view::npos) return true;
  std::u16string_view rest = path.substr(slash + 1);
  if (rest.empty() || rest.front() == u'\\' || rest.back() == u'\\' || rest.find(u"\\\\") != std::u16string_view::npos) {
    return false;
  }
  subKey->assign(rest);
  return true;
}

RegistryKeyRecord* FindRecord(RegistryHive& hive, RegistryRoot root, std::u16string_view subKey) {
  for (RegistryKeyRecord& record : hive.keys) {
    if (record.root == root && EqualsNoCase(record.subKey, subKey)) return &record;
  }
  return nullptr;
}

RegistryKeyRecord& FindOrAddRecord(RegistryHive& hive, RegistryRoot root, std::u16string_view subKey) {
  if (RegistryKeyRecord* record = FindRecord(hive, root, subKey)) return *record;
  hive.keys.push_back(RegistryKeyRecord{root, std::u16string(subKey), {}});
  return hive.keys.back();
}

RegistryValue* FindValue(RegistryKeyRecord& record, std::u16string_view name) {
  for (RegistryValue& value : record.values) {
    if (EqualsNoCase(value.name, name)) return &value;
  }
  return nullptr;
}

void PutValue(RegistryKeyRecord& record, RegistryValue value) {
  if (RegistryValue* existing = FindValue(record, value.name)) {
    existing->type = value.type;
    existing->data = std::move(value.data);
  } else {
    record.values.push_back(std::move(value));
  }
}

// Splits the text into logical lines: hex data may go on over several lines, each but the last
// ending with a backslash.
std::vector<std::string_view> LogicalLines(std::string_view text, std::vector<std::string>* joined) {
  std::vector<std::string_view> physical;
  while (!text.empty()) {
    size_t end = text.find('\n');
    physical.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  std::vector<std::string_view> lines;
  joined->reserve(physical.size());
  for (size_t i = 0; i < physical.size(); ++i) {
    std::string_view line = TrimBlanks(physical[i]);
    size_t equals = line.find("=hex");
    if (equals == std::string_view::npos || line.empty() || line.back() != '\\' || line.front() == '[') {
      lines.push_back(line);
      continue;
    }
    std::string whole(line.substr(0, line.size() - 1));
    while (i + 1 < physical.size()) {
      std::string_view next = TrimBlanks(physical[++i]);
      bool more = !next.empty() && next.back() == '\\';
      whole.append(next.substr(0, more ? next.size() - 1 : next.size()));
      if (!more) break;
    }
    joined->push_back(std::move(whole));
    lines.push_back(joined->back());
  }
  return lines;
}

bool ParseValueLine(std::string_view line, RegistryValue* value) {
  std::string name;
  if (line.front() == '@') {
    line.remove_prefix(1);
  } else if (!ParseQuoted(&line, &name)) {
    return false;
  }
  line = TrimBlanks(line);
  if (line.empty() || line.front() != '=') return false;
  value->name = Utf8ToUtf16(name);
  return ParseValueData(TrimBlanks(line.substr(1)), value);
}

bool IsTextStoredExactly(const RegistryValue& value, std::string* utf8) {
  if (value.type != REG_SZ || value.data.size() < 2 || value.data.size() % 2 != 0) return false;
  std::u16string wide = Utf16FromBytes(value.data.data(), value.data.size());
  if (wide.back() != u'\0') return false;
  wide.pop_back();
  for (char16_t unit : wide) {
    if (unit == u'\0' || unit == u'\r' || unit == u'\n') return false;
  }
  *utf8 = Utf16ToUtf8(wide);
  return Utf8ToUtf16(*utf8) == wide;  // lone surrogates do not survive UTF-8
}

std::string HexBytes(const std::vector<uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i != 0) text.push_back(',');
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 0xF]);
  }
  return text;
}

std::string FormatValue(const RegistryValue& value) {
  std::string line = value.name.empty() ? "@" : Quote(Utf16ToUtf8(value.name));
  line.push_back('=');
  std::string text;
  if (IsTextStoredExactly(value, &text)) {
    line += Quote(text);
  } else if (value.type == REG_DWORD && value.data.size() == 4) {
    uint32_t number = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                      (static_cast<uint32_t>(value.data[3]) << 24);
    line += StringFormatA("dword:%08x", number);
  } else if (value.type == REG_BINARY) {
    line += "hex:" + HexBytes(value.data);
  } else {
    line += StringFormatA("hex(%x):", value.type) + HexBytes(value.data);
  }
  return line;
}

// ---- Paths and keys ----

std::u16string JoinKey(std::u16string_view base, std::u16string_view sub) {
  if (base.empty()) return std::u16string(sub);
  if (sub.empty()) return std::u16string(base);
  std::u16string joined(base);
  joined.push_back(u'\\');
  joined.append(sub);
  return joined;
}

bool IsBelow(std::u16string_view subKey, std::u16string_view ancestor) {
  if (ancestor.empty()) return !subKey.empty();
  return subKey.size() > ancestor.size() && subKey[ancestor.size()] == u'\\' &&
         EqualsNoCase(subKey.substr(0, ancestor.size()), ancestor);
}

bool KeyExists(const RegistryHive& hive, RegistryRoot root, std::u16string_view subKey) {
  if (subKey.empty()) return true;
  return std::any_of(hive.keys.begin(), hive.keys.end(), [&](const RegistryKeyRecord& record) {
    return record.root == root && (EqualsNoCase(record.subKey, subKey) || IsBelow(record.subKey, subKey));
  });
}

bool HasSubKeys(const RegistryHive& hive, RegistryRoot root, std::u16string_view subKey) {
  return std::any_of(hive.keys.begin(), hive.keys.end(), [&](const RegistryKeyRecord& record) {
    return record.root == root && IsBelow(record.subKey, subKey);
  });
}

// Names that the file could not carry on one line are refused; so are texts that UTF-8 cannot
// carry exactly.
bool IsStorableName(std::u16string_view name) {
  for (char16_t unit : name) {
    if (unit < 0x20) return false;
  }
  return Utf8ToUtf16(Utf16ToUtf8(name)) == name;
}

// The full subkey path of parent + relative, checked.
uint32_t ResolveSubKey(const RegKey& parent, const char16_t* subKey, std::u16string* resolved) {
  if (!parent.Valid()) return ERROR_INVALID_HANDLE;
  std::u16string_view relative = subKey ? std::u16string_view(subKey) : std::u16string_view();
  while (!relative.empty() && relative.back() == u'\\') relative.remove_suffix(1);
  if (!relative.empty() && (relative.front() == u'\\' || relative.find(u"\\\\") != std::u16string_view::npos)) {
    return ERROR_BAD_PATHNAME;
  }
  if (!IsStorableName(relative)) return ERROR_INVALID_PARAMETER;
  *resolved = JoinKey(parent.SubKey(), relative);
  return ERROR_SUCCESS;
}

std::u16string_view NameOrDefault(const char16_t* name) {
  return name ? std::u16string_view(name) : std::u16string_view();
}

uint32_t LoadHive(RegistryHive* hive) {
  std::string text;
  uint32_t error = ReadWholeFile(RegistryFilePath(), &text);
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    hive->keys.clear();
    return ERROR_SUCCESS;
  }
  if (error != ERROR_SUCCESS) return error;
  return ParseRegistryHive(text, hive);
}

// Runs change on the current hive under the writers' lock and stores the result when change
// answers ERROR_SUCCESS.
template <typename Change>
uint32_t UpdateHive(Change change) {
  std::string path = RegistryFilePath();
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  FileRewrite rewrite;
  uint32_t error = rewrite.Lock(path);
  if (error != ERROR_SUCCESS) return error;
  RegistryHive hive;
  error = ParseRegistryHive(rewrite.Content(), &hive);
  if (error != ERROR_SUCCESS) return error;
  error = change(hive);
  if (error != ERROR_SUCCESS) return error;
  return rewrite.Replace(FormatRegistryHive(hive));
}

uint32_t CheckOpenKey(const RegKey& key, uint32_t neededAccess) {
  if (!key.Valid()) return ERROR_INVALID_HANDLE;
  if ((key.Access() & neededAccess) != neededAccess) return ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

// The value of an open key, or the reason there is none.
uint32_t FindKeyValue(RegistryHive& hive, const RegKey& key, std::u16string_view name, RegistryValue** value) {
  if (!KeyExists(hive, key.Root(), key.SubKey())) return ERROR_KEY_DELETED;
  RegistryKeyRecord* record = FindRecord(hive, key.Root(), key.SubKey());
  *value = record ? FindValue(*record, name) : nullptr;
  return *value ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

uint32_t CopyOut(const std::vector<uint8_t>& bytes, uint8_t* data, uint32_t* dataSize) {
  if (dataSize == nullptr) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
  uint32_t capacity = *dataSize;
  *dataSize = static_cast<uint32_t>(bytes.size());
  if (data == nullptr) return ERROR_SUCCESS;
  if (bytes.size() > capacity) return ERROR_MORE_DATA;
  std::copy(bytes.begin(), bytes.end(), data);
  return ERROR_SUCCESS;
}

bool IsTextType(uint32_t type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

uint32_t CopyNameOut(std::u16string_view source, char16_t* name, uint32_t* nameSize) {
  if (name == nullptr || nameSize == nullptr) return ERROR_INVALID_PARAMETER;
  if (source.size() + 1 > *nameSize) return ERROR_MORE_DATA;
  CopyBounded(name, *nameSize, source);
  *nameSize = static_cast<uint32_t>(source.size());
  return ERROR_SUCCESS;
}

std::u16string Wide(const char* text) { return Utf8ToUtf16(text ? std::string_view(text) : std::string_view()); }
const char16_t* WideOrNull(const char* text, const std::u16string& wide) { return text ? wide.c_str() : nullptr; }

}  // namespace

// ---- RegKey ----

RegKey::RegKey(RegistryRoot root) : m_valid(true), m_root(root), m_access(KEY_ALL_ACCESS) {}

void RegKey::Close() {
  m_valid = false;
  m_subKey.clear();
  m_access = 0;
}

std::string RegistryFilePath() {
  const char* path = ::getenv("VELMORA_REGISTRY");
  return path && *path ? std::string(path) : std::string("/etc/velmora/registry.reg");
}

std::u16string_view RegistryRootName(RegistryRoot root) {
  for (const RootName& entry : kRoots) {
    if (entry.root == root) return entry.name;
  }
  return {};
}

bool RegistryRootFromName(std::u16string_view name, RegistryRoot* root) {
  for (const RootName& entry : kRoots) {
    if (EqualsNoCase(name, entry.name) || EqualsNoCase(name, entry.shortName)) {
      *root = entry.root;
      return true;
    }
  }
  return false;
}

// ---- Hive text ----

uint32_t ParseRegistryHive(std::string_view text, RegistryHive* hive) {
  hive->keys.clear();
  if (text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
  std::vector<std::string> joined;
  std::vector<std::string_view> lines = LogicalLines(text, &joined);
  bool headerSeen = false;
  RegistryKeyRecord* current = nullptr;
  for (std::string_view line : lines) {
    if (line.empty() || line.front() == ';') continue;
    if (!headerSeen) {
      if (line != kHeader) return ERROR_REGISTRY_CORRUPT;
      headerSeen = true;
      continue;
    }
    if (line.front() == '[') {
      RegistryRoot root;
      std::u16string subKey;
      if (line.size() < 3 || line.back() != ']' ||
          !ParseKeyPath(Utf8ToUtf16(line.substr(1, line.size() - 2)), &root, &subKey)) {
        return ERROR_REGISTRY_CORRUPT;
      }
      current = &FindOrAddRecord(*hive, root, subKey);
      continue;
    }
    RegistryValue value;
    if (current == nullptr || (line.front() != '"' && line.front() != '@') || !ParseValueLine(line, &value)) {
      return ERROR_REGISTRY_CORRUPT;
    }
    PutValue(*current, std::move(value));
  }
  return ERROR_SUCCESS;
}

std::string FormatRegistryHive(const RegistryHive& hive) {
  std::string text(kHeader);
  text += "\n";
  for (const RegistryKeyRecord& record : hive.keys) {
    text += "\n[" + Utf16ToUtf8(JoinKey(RegistryRootName(record.root), record.subKey)) + "]\n";
    for (const RegistryValue& value : record.values) text += FormatValue(value) + "\n";
  }
  return text;
}

// ---- Calls ----

uint32_t RegOpenKeyExW(const RegKey& parent, const char16_t* subKey, uint32_t /*options*/, uint32_t access,
                       RegKey* result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  result->Close();
  std::u16string path;
  uint32_t error = ResolveSubKey(parent, subKey, &path);
  if (error != ERROR_SUCCESS) return error;
  RegistryHive hive;
  error = LoadHive(&hive);
  if (error != ERROR_SUCCESS) return error;
  if (!KeyExists(hive, parent.Root(), path)) return ERROR_FILE_NOT_FOUND;
  *result = RegKeyAccess::Make(parent.Root(), std::move(path), access);
  return ERROR_SUCCESS;
}

uint32_t RegCreateKeyExW(const RegKey& parent, const char16_t* subKey, uint32_t access, RegKey* result,
                         uint32_t* disposition) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  result->Close();
  std::u16string path;
  uint32_t error = ResolveSubKey(parent, subKey, &path);
  if (error != ERROR_SUCCESS) return error;
  bool created = false;
  error = UpdateHive([&](RegistryHive& hive) {
    if (!KeyExists(hive, parent.Root(), parent.SubKey())) return ERROR_KEY_DELETED;
    created = !KeyExists(hive, parent.Root(), path);
    // Every ancestor gets its own line, as an export writes them.
    for (size_t slash = path.find(u'\\'); slash != std::u16string::npos; slash = path.find(u'\\', slash + 1)) {
      FindOrAddRecord(hive, parent.Root(), std::u16string_view(path).substr(0, slash));
    }
    if (!path.empty()) FindOrAddRecord(hive, parent.Root(), path);
    return ERROR_SUCCESS;
  });
  if (error != ERROR_SUCCESS) return error;
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = RegKeyAccess::Make(parent.Root(), std::move(path), access);
  return ERROR_SUCCESS;
}

uint32_t RegQueryValueExW(const RegKey& key, const char16_t* valueName, uint32_t* /*reserved*/, uint32_t* type,
                          uint8_t* data, uint32_t* dataSize) {
  uint32_t error = CheckOpenKey(key, KEY_QUERY_VALUE);
  if (error != ERROR_SUCCESS) return error;
  RegistryHive hive;
  error = LoadHive(&hive);
  if (error != ERROR_SUCCESS) return error;
  RegistryValue* value = nullptr;
  error = FindKeyValue(hive, key, NameOrDefault(valueName), &value);
  if (error != ERROR_SUCCESS) return error;
  if (type) *type = value->type;
  return CopyOut(value->data, data, dataSize);
}

uint32_t RegQueryValueExA(const RegKey& key, const char* valueName, uint32_t* reserved, uint32_t* type,
                          uint8_t* data, uint32_t* dataSize) {
  std::u16string name = Wide(valueName);
  uint32_t valueType = REG_NONE;
  uint32_t size = 0;
  uint32_t error = RegQueryValueExW(key, name.c_str(), reserved, &valueType, nullptr, &size);
  if (error != ERROR_SUCCESS) return error;
  std::vector<uint8_t> bytes(size);
  error = RegQueryValueExW(key, name.c_str(), reserved, &valueType, bytes.data(), &size);
  if (error != ERROR_SUCCESS) return error;
  bytes.resize(size);
  if (type) *type = valueType;
  if (IsTextType(valueType)) {
    std::string narrow = Utf16ToUtf8(Utf16FromBytes(bytes.data(), bytes.size()));
    bytes.assign(narrow.begin(), narrow.end());
  }
  return CopyOut(bytes, data, dataSize);
}

uint32_t RegSetValueExW(const RegKey& key, const char16_t* valueName, uint32_t /*reserved*/, uint32_t type,
                        const uint8_t* data, uint32_t dataSize) {
  uint32_t error = CheckOpenKey(key, KEY_SET_VALUE);
  if (error != ERROR_SUCCESS) return error;
  if (data == nullptr && dataSize != 0) return ERROR_INVALID_PARAMETER;
  std::u16string_view name = NameOrDefault(valueName);
  if (!IsStorableName(name)) return ERROR_INVALID_PARAMETER;
  RegistryValue value{std::u16string(name), type, std::vector<uint8_t>(data, data + dataSize)};
  return UpdateHive([&](RegistryHive& hive) {
    if (!KeyExists(hive, key.Root(), key.SubKey())) return ERROR_KEY_DELETED;
    PutValue(FindOrAddRecord(hive, key.Root(), key.SubKey()), std::move(value));
    return ERROR_SUCCESS;
  });
}

uint32_t RegSetValueExA(const RegKey& key, const char* valueName, uint32_t reserved, uint32_t type,
                        const uint8_t* data, uint32_t dataSize) {
  if (data == nullptr && dataSize != 0) return ERROR_INVALID_PARAMETER;
  std::u16string name = Wide(valueName);
  std::vector<uint8_t> bytes(data, data + dataSize);
  if (IsTextType(type)) {
    bytes = Utf16Bytes(Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data), dataSize)));
  }
  return RegSetValueExW(key, name.c_str(), reserved, type, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

uint32_t RegDeleteValueW(const RegKey& key, const char16_t* valueName) {
  uint32_t error = CheckOpenKey(key, KEY_SET_VALUE);
  if (error != ERROR_SUCCESS) return error;
  std::u16string_view name = NameOrDefault(valueName);
  return UpdateHive([&](RegistryHive& hive) {
    RegistryValue* value = nullptr;
    uint32_t found = FindKeyValue(hive, key, name, &value);
    if (found != ERROR_SUCCESS) return found;
    std::vector<RegistryValue>& values = FindRecord(hive, key.Root(), key.SubKey())->values;
    values.erase(values.begin() + (value - values.data()));
    return ERROR_SUCCESS;
  });
}

uint32_t RegDeleteKeyW(const RegKey& parent, const char16_t* subKey) {
  std::u16string path;
  uint32_t error = ResolveSubKey(parent, subKey, &path);
  if (error != ERROR_SUCCESS) return error;
  if (path.empty()) return ERROR_ACCESS_DENIED;
  return UpdateHive([&](RegistryHive& hive) {
    if (!KeyExists(hive, parent.Root(), path)) return ERROR_FILE_NOT_FOUND;
    if (HasSubKeys(hive, parent.Root(), path)) return ERROR_ACCESS_DENIED;
    std::erase_if(hive.keys, [&](const RegistryKeyRecord& record) {
      return record.root == parent.Root() && EqualsNoCase(record.subKey, path);
    });
    return ERROR_SUCCESS;
  });
}

uint32_t RegDeleteTreeW(const RegKey& parent, const char16_t* subKey) {
  std::u16string path;
  uint32_t error = ResolveSubKey(parent, subKey, &path);
  if (error != ERROR_SUCCESS) return error;
  bool keepTop = subKey == nullptr || *subKey == u'\0';
  return UpdateHive([&](RegistryHive& hive) {
    if (!KeyExists(hive, parent.Root(), path)) return keepTop ? ERROR_KEY_DELETED : ERROR_FILE_NOT_FOUND;
    std::erase_if(hive.keys, [&](const RegistryKeyRecord& record) {
      if (record.root != parent.Root()) return false;
      return IsBelow(record.subKey, path) || (!keepTop && EqualsNoCase(record.subKey, path));
    });
    if (keepTop) {
      if (RegistryKeyRecord* top = FindRecord(hive, parent.Root(), path)) top->values.clear();
    }
    return ERROR_SUCCESS;
  });
}

uint32_t RegEnumKeyExW(const RegKey& key, uint32_t index, char16_t* name, uint32_t* nameSize) {
  uint32_t error = CheckOpenKey(key, KEY_ENUMERATE_SUB_KEYS);
  if (error != ERROR_SUCCESS) return error;
  RegistryHive hive;
  error = LoadHive(&hive);
  if (error != ERROR_SUCCESS) return error;
  if (!KeyExists(hive, key.Root(), key.SubKey())) return ERROR_KEY_DELETED;
  std::vector<std::u16string> children;
  size_t skip = key.SubKey().empty() ? 0 : key.SubKey().size() + 1;
  for (const RegistryKeyRecord& record : hive.keys) {
    if (record.root != key.Root() || !IsBelow(record.subKey, key.SubKey())) continue;
    std::u16string_view rest = std::u16string_view(record.subKey).substr(skip);
    std::u16string child(rest.substr(0, rest.find(u'\\')));
    bool known = std::any_of(children.begin(), children.end(),
                             [&](const std::u16string& other) { return EqualsNoCase(other, child); });
    if (!known) children.push_back(std::move(child));
  }
  if (index >= children.size()) return ERROR_NO_MORE_ITEMS;
  std::sort(children.begin(), children.end(),
            [](const std::u16string& a, const std::u16string& b) { return CompareNoCase(a, b) < 0; });
  return CopyNameOut(children[index], name, nameSize);
}

uint32_t RegEnumValueW(const RegKey& key, uint32_t index, char16_t* name, uint32_t* nameSize, uint32_t* type,
                       uint8_t* data, uint32_t* dataSize) {
  uint32_t error = CheckOpenKey(key, KEY_QUERY_VALUE);
  if (error != ERROR_SUCCESS) return error;
  RegistryHive hive;
  error = LoadHive(&hive);
  if (error != ERROR_SUCCESS) return error;
  if (!KeyExists(hive, key.Root(), key.SubKey())) return ERROR_KEY_DELETED;
  RegistryKeyRecord* record = FindRecord(hive, key.Root(), key.SubKey());
  if (record == nullptr || index >= record->values.size()) return ERROR_NO_MORE_ITEMS;
  const RegistryValue& value = record->values[index];
  error = CopyNameOut(value.name, name, nameSize);
  if (error != ERROR_SUCCESS) return error;
  if (type) *type = value.type;
  return CopyOut(value.data, data, dataSize);
}

uint32_t RegCloseKey(RegKey& key) {
  if (!key.Valid()) return ERROR_INVALID_HANDLE;
  key.Close();
  return ERROR_SUCCESS;
}

// ---- Narrow names ----

uint32_t RegOpenKeyExA(const RegKey& parent, const char* subKey, uint32_t options, uint32_t access,
                       RegKey* result) {
  std::u16string wide = Wide(subKey);
  return RegOpenKeyExW(parent, WideOrNull(subKey, wide), options, access, result);
}

uint32_t RegCreateKeyExA(const RegKey& parent, const char* subKey, uint32_t access, RegKey* result,
                         uint32_t* disposition) {
  std::u16string wide = Wide(subKey);
  return RegCreateKeyExW(parent, WideOrNull(subKey, wide), access, result, disposition);
}

uint32_t RegDeleteValueA(const RegKey& key, const char* valueName) {
  std::u16string wide = Wide(valueName);
  return RegDeleteValueW(key, WideOrNull(valueName, wide));
}

uint32_t RegDeleteKeyA(const RegKey& parent, const char* subKey) {
  std::u16string wide = Wide(subKey);
  return RegDeleteKeyW(parent, WideOrNull(subKey, wide));
}

}  // namespace platform
