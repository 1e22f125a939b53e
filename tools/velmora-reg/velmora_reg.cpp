// velmora-reg: edits the registry hive from the shell, with the registry console tool's commands
// and switches:
//   velmora-reg add KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]
//   velmora-reg query KEY [/v NAME | /ve] [/s]
//   velmora-reg delete KEY [/v NAME | /ve | /va] [/f]
// Exit code 0 on success, 1 on any failure.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

using namespace platform;

struct TypeName {
  uint32_t type;
  const char* name;
};
constexpr TypeName kTypes[] = {
    {REG_SZ, "REG_SZ"},           {REG_EXPAND_SZ, "REG_EXPAND_SZ"}, {REG_MULTI_SZ, "REG_MULTI_SZ"},
    {REG_DWORD, "REG_DWORD"},     {REG_QWORD, "REG_QWORD"},         {REG_BINARY, "REG_BINARY"},
    {REG_NONE, "REG_NONE"},
};

struct Options {
  std::string command;
  RegistryRoot root = HKEY_LOCAL_MACHINE;
  std::u16string subKey;
  std::string keyText;
  std::optional<std::u16string> valueName;  // /v NAME, or empty for /ve
  bool allValues = false;                   // /va
  std::string typeName = "REG_SZ";
  std::optional<std::string> data;
  bool force = false;
  bool recursive = false;
};

int Usage() {
  std::cerr << "ERROR: Invalid syntax.\n"
               "Usage:\n"
               "  velmora-reg add KEY [/v NAME | /ve] [/t REG_SZ|REG_DWORD|REG_BINARY|...] [/d DATA] [/f]\n"
               "  velmora-reg query KEY [/v NAME | /ve] [/s]\n"
               "  velmora-reg delete KEY [/v NAME | /ve | /va] [/f]\n";
  return 1;
}

int Fail(const std::string& message) {
  std::cerr << "ERROR: " << message << "\n";
  return 1;
}

int FailWithCode(uint32_t error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_KEY_DELETED:
      return Fail("The system was unable to find the specified registry key or value.");
    case ERROR_ACCESS_DENIED:
      return Fail("Access is denied.");
    case ERROR_REGISTRY_CORRUPT:
      return Fail("The registry file " + RegistryFilePath() +
                  " is not in the registry editor's export format; it was left as it is.");
    case ERROR_INVALID_PARAMETER:
    case ERROR_BAD_PATHNAME:
      return Fail("Invalid key or value name.");
    default:
      return Fail("The operation failed (error " + std::to_string(error) + ").");
  }
}

int Done() {
  std::cout << "The operation completed successfully.\n";
  return 0;
}

bool IsSwitch(const std::string& arg, const char* name) {
  return (arg[0] == '/' || arg[0] == '-') && EqualsNoCase(std::string_view(arg).substr(1), name);
}

bool ParseKey(const std::string& text, Options* options) {
  std::u16string key = Utf8ToUtf16(text);
  while (!key.empty() && key.back() == u'\\') key.pop_back();
  size_t slash = key.find(u'\\');
  if (!RegistryRootFromName(std::u16string_view(key).substr(0, slash), &options->root)) return false;
  options->subKey = slash == std::u16string::npos ? u"" : key.substr(slash + 1);
  options->keyText = Utf16ToUtf8(std::u16string(RegistryRootName(options->root)) +
                                 (options->subKey.empty() ? u"" : u"\\" + options->subKey));
  return true;
}

bool ParseArguments(int argc, char** argv, Options* options) {
  if (argc < 3) return false;
  options->command = argv[1];
  if (!ParseKey(argv[2], options)) return false;
  for (int i = 3; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasNext = i + 1 < argc;
    if (arg.empty()) return false;
    if (IsSwitch(arg, "v") && hasNext && !options->valueName) {
      options->valueName = Utf8ToUtf16(argv[++i]);
    } else if (IsSwitch(arg, "ve") && !options->valueName) {
      options->valueName = u"";
    } else if (IsSwitch(arg, "va")) {
      options->allValues = true;
    } else if (IsSwitch(arg, "t") && hasNext) {
      options->typeName = argv[++i];
    } else if (IsSwitch(arg, "d") && hasNext) {
      options->data = argv[++i];
    } else if (IsSwitch(arg, "f")) {
      options->force = true;
    } else if (IsSwitch(arg, "s")) {
      options->recursive = true;
    } else {
      return false;
    }
  }
  return true;
}

bool AskYes(const std::string& question) {
  std::cout << question << " (Yes/No)? " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

int Cancelled() {
  std::cout << "The operation was cancelled by the user.\n";
  return 1;
}

std::optional<uint32_t> TypeFromName(const std::string& name) {
  for (const TypeName& entry : kTypes) {
    if (EqualsNoCase(name, entry.name)) return entry.type;
  }
  return std::nullopt;
}

std::string NameOfType(uint32_t type) {
  for (const TypeName& entry : kTypes) {
    if (entry.type == type) return entry.name;
  }
  return StringFormatA("REG_0x%x", type);
}

std::vector<uint8_t> WideBytes(std::u16string_view text) {
  std::vector<uint8_t> bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<uint8_t>(unit >> 8));
  }
  return bytes;
}

std::u16string WideFromBytes(const std::vector<uint8_t>& bytes) {
  std::u16string text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) text.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
  return text;
}

// Decimal, or hexadecimal after 0x; nothing else, and within maxValue.
bool ParseNumber(const std::string& text, uint64_t maxValue, uint64_t* value) {
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  std::string_view digits = std::string_view(text).substr(hex ? 2 : 0);
  if (digits.empty()) return false;
  for (char c : digits) {
    if (!(hex ? isxdigit(static_cast<unsigned char>(c)) : isdigit(static_cast<unsigned char>(c)))) return false;
  }
  errno = 0;
  unsigned long long number = std::strtoull(text.c_str(), nullptr, hex ? 16 : 10);
  if (errno == ERANGE || number > maxValue) return false;
  *value = number;
  return true;
}

// The bytes that /d stands for in the given type; a message when it stands for none.
std::optional<std::vector<uint8_t>> EncodeData(uint32_t type, const std::string& data, std::string* problem) {
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      return WideBytes(Utf8ToUtf16(data) + u'\0');
    case REG_MULTI_SZ: {
      // Texts are separated by the two characters \0, as the console tool takes them.
      std::u16string list = Utf8ToUtf16(data);
      for (size_t at = list.find(u"\\0"); at != std::u16string::npos; at = list.find(u"\\0", at + 1)) {
        list.replace(at, 2, 1, u'\0');
      }
      if (!list.empty()) list.push_back(u'\0');
      list.push_back(u'\0');
      return WideBytes(list);
    }
    case REG_DWORD:
    case REG_QWORD: {
      uint64_t number = 0;
      bool wide = type == REG_QWORD;
      if (data.empty()) {
        number = 0;
      } else if (!ParseNumber(data, wide ? UINT64_MAX : UINT32_MAX, &number)) {
        *problem = "Invalid number for " + NameOfType(type) + ": " + data;
        return std::nullopt;
      }
      std::vector<uint8_t> bytes;
      for (int i = 0; i < (wide ? 8 : 4); ++i) bytes.push_back(static_cast<uint8_t>(number >> (8 * i)));
      return bytes;
    }
    default: {
      std::vector<uint8_t> bytes;
      if (data.size() % 2 != 0) {
        *problem = "Binary data needs an even number of hexadecimal digits: " + data;
        return std::nullopt;
      }
      for (size_t i = 0; i < data.size(); i += 2) {
        uint64_t byte = 0;
        if (!ParseNumber("0x" + data.substr(i, 2), 0xFF, &byte)) {
          *problem = "Invalid hexadecimal data: " + data;
          return std::nullopt;
        }
        bytes.push_back(static_cast<uint8_t>(byte));
      }
      return bytes;
    }
  }
}

std::string ShowData(uint32_t type, const std::vector<uint8_t>& bytes) {
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
      std::u16string text = WideFromBytes(bytes);
      return Utf16ToUtf8(std::u16string_view(text).substr(0, text.find(u'\0')));
    }
    case REG_MULTI_SZ: {
      std::u16string text = WideFromBytes(bytes);
      while (!text.empty() && text.back() == u'\0') text.pop_back();
      std::string shown = Utf16ToUtf8(text);
      for (size_t at = shown.find('\0'); at != std::string::npos; at = shown.find('\0', at + 2)) shown.replace(at, 1, "\\0");
      return shown;
    }
    case REG_DWORD:
    case REG_QWORD:
      if (bytes.size() == 4 || bytes.size() == 8) {
        uint64_t number = 0;
        for (size_t i = 0; i < bytes.size(); ++i) number |= uint64_t{bytes[i]} << (8 * i);
        return StringFormatA("0x%llx", static_cast<unsigned long long>(number));
      }
      [[fallthrough]];
    default: {
      std::string shown;
      for (uint8_t byte : bytes) shown += StringFormatA("%02X", byte);
      return shown;
    }
  }
}

void PrintValue(const std::u16string& name, uint32_t type, const std::vector<uint8_t>& data) {
  std::cout << "    " << (name.empty() ? "(Default)" : Utf16ToUtf8(name)) << "    " << NameOfType(type) << "    "
            << ShowData(type, data) << "\n";
}

uint32_t ReadValue(const RegKey& key, const std::u16string& name, uint32_t* type, std::vector<uint8_t>* data) {
  uint32_t size = 0;
  uint32_t error = RegQueryValueExW(key, name.c_str(), nullptr, type, nullptr, &size);
  if (error != ERROR_SUCCESS) return error;
  data->resize(size);
  error = RegQueryValueExW(key, name.c_str(), nullptr, type, data->data(), &size);
  data->resize(size);
  return error;
}

std::vector<std::u16string> ValueNames(const RegKey& key) {
  std::vector<std::u16string> names;
  for (uint32_t index = 0;; ++index) {
    std::vector<char16_t> name(16384);
    uint32_t size = static_cast<uint32_t>(name.size());
    if (RegEnumValueW(key, index, name.data(), &size, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name.data(), size);
  }
  return names;
}

std::vector<std::u16string> SubKeyNames(const RegKey& key) {
  std::vector<std::u16string> names;
  for (uint32_t index = 0;; ++index) {
    std::vector<char16_t> name(16384);
    uint32_t size = static_cast<uint32_t>(name.size());
    if (RegEnumKeyExW(key, index, name.data(), &size) != ERROR_SUCCESS) break;
    names.emplace_back(name.data(), size);
  }
  return names;
}

uint32_t PrintKey(const RegKey& key, const std::string& keyText, bool recursive) {
  std::cout << "\n" << keyText << "\n";
  for (const std::u16string& name : ValueNames(key)) {
    uint32_t type = REG_NONE;
    std::vector<uint8_t> data;
    if (ReadValue(key, name, &type, &data) == ERROR_SUCCESS) PrintValue(name, type, data);
  }
  for (const std::u16string& child : SubKeyNames(key)) {
    std::string childText = keyText + "\\" + Utf16ToUtf8(child);
    if (!recursive) {
      std::cout << "\n" << childText << "\n";
      continue;
    }
    RegKey sub;
    uint32_t error = RegOpenKeyExW(key, child.c_str(), 0, KEY_READ, &sub);
    if (error == ERROR_SUCCESS) error = PrintKey(sub, childText, true);
    if (error != ERROR_SUCCESS) return error;
  }
  return ERROR_SUCCESS;
}

int Query(const Options& options) {
  RegKey key;
  uint32_t error = RegOpenKeyExW(options.root, options.subKey.c_str(), 0, KEY_READ, &key);
  if (error != ERROR_SUCCESS) return FailWithCode(error);
  if (options.valueName) {
    uint32_t type = REG_NONE;
    std::vector<uint8_t> data;
    error = ReadValue(key, *options.valueName, &type, &data);
    if (error != ERROR_SUCCESS) return FailWithCode(error);
    std::cout << "\n" << options.keyText << "\n";
    PrintValue(*options.valueName, type, data);
  } else {
    error = PrintKey(key, options.keyText, options.recursive);
    if (error != ERROR_SUCCESS) return FailWithCode(error);
  }
  std::cout << "\n";
  return 0;
}

int Add(const Options& options) {
  std::optional<uint32_t> type = TypeFromName(options.typeName);
  if (!type) return Fail("Unknown value type " + options.typeName + ".");
  std::string problem;
  std::optional<std::vector<uint8_t>> bytes;
  if (options.valueName) {
    bytes = EncodeData(*type, options.data.value_or(""), &problem);
    if (!bytes) return Fail(problem);
  }
  RegKey key;
  uint32_t error = RegCreateKeyExW(options.root, options.subKey.c_str(), KEY_ALL_ACCESS, &key, nullptr);
  if (error != ERROR_SUCCESS) return FailWithCode(error);
  if (!options.valueName) return Done();
  const std::u16string& name = *options.valueName;
  uint32_t existingSize = 0;
  if (!options.force && RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, &existingSize) == ERROR_SUCCESS &&
      !AskYes("Value " + (name.empty() ? std::string("(Default)") : Utf16ToUtf8(name)) + " exists, overwrite")) {
    return Cancelled();
  }
  error = RegSetValueExW(key, name.c_str(), 0, *type, bytes->data(), static_cast<uint32_t>(bytes->size()));
  return error == ERROR_SUCCESS ? Done() : FailWithCode(error);
}

int Delete(const Options& options) {
  if (!options.valueName && !options.allValues) {
    if (options.subKey.empty()) return Fail("A root key cannot be deleted.");
    if (!options.force && !AskYes("Delete the registry key " + options.keyText)) return Cancelled();
    uint32_t error = RegDeleteTreeW(options.root, options.subKey.c_str());
    return error == ERROR_SUCCESS ? Done() : FailWithCode(error);
  }
  RegKey key;
  uint32_t error = RegOpenKeyExW(options.root, options.subKey.c_str(), 0, KEY_ALL_ACCESS, &key);
  if (error != ERROR_SUCCESS) return FailWithCode(error);
  std::vector<std::u16string> names = options.allValues ? ValueNames(key) : std::vector{*options.valueName};
  std::string what = options.allValues ? "all values under the registry key " + options.keyText
                                       : "the registry value " + (names[0].empty() ? std::string("(Default)")
                                                                                    : Utf16ToUtf8(names[0]));
  if (!options.force && !AskYes("Delete " + what)) return Cancelled();
  for (const std::u16string& name : names) {
    error = RegDeleteValueW(key, name.c_str());
    if (error != ERROR_SUCCESS) return FailWithCode(error);
  }
  return Done();
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseArguments(argc, argv, &options)) return Usage();
  if (EqualsNoCase(options.command, "add")) return Add(options);
  if (EqualsNoCase(options.command, "query")) return options.force || options.data ? Usage() : Query(options);
  if (EqualsNoCase(options.command, "delete")) return Delete(options);
  return Usage();
}
