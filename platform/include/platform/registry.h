// The registry: one hive file at $VELMORA_REGISTRY (default /etc/velmora/registry.reg) in the
// registry editor's export format, UTF-8:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Halvard]
//   "Name"="text with \\ and \" escaped"
//   "Count"=dword:0000001a
//   "Blob"=hex:01,02,ff
//   @="the default value"
//
// Texts that the quoted form cannot carry exactly (line breaks, embedded or missing terminators)
// and types other than REG_SZ, REG_DWORD and REG_BINARY are written as hex(N): lines with their
// bytes. Key and value names compare without regard to case. Every call reads the hive afresh;
// writers lock it and replace it whole, so readers in any process see a complete hive. A hive
// that does not parse is ERROR_REGISTRY_CORRUPT for every call and is never overwritten.
//
// The calls answer ERROR_SUCCESS or a Windows error code, as the Windows registry calls do.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

inline constexpr uint32_t REG_NONE = 0;
inline constexpr uint32_t REG_SZ = 1;
inline constexpr uint32_t REG_EXPAND_SZ = 2;
inline constexpr uint32_t REG_BINARY = 3;
inline constexpr uint32_t REG_DWORD = 4;
inline constexpr uint32_t REG_MULTI_SZ = 7;
inline constexpr uint32_t REG_QWORD = 11;

inline constexpr uint32_t KEY_QUERY_VALUE = 0x0001;
inline constexpr uint32_t KEY_SET_VALUE = 0x0002;
inline constexpr uint32_t KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr uint32_t KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr uint32_t KEY_READ = 0x20019;
inline constexpr uint32_t KEY_WRITE = 0x20006;
inline constexpr uint32_t KEY_ALL_ACCESS = 0xF003F;

inline constexpr uint32_t REG_CREATED_NEW_KEY = 1;
inline constexpr uint32_t REG_OPENED_EXISTING_KEY = 2;

enum class RegistryRoot : uint8_t { LocalMachine, CurrentUser, ClassesRoot, Users };

inline constexpr RegistryRoot HKEY_LOCAL_MACHINE = RegistryRoot::LocalMachine;
inline constexpr RegistryRoot HKEY_CURRENT_USER = RegistryRoot::CurrentUser;
inline constexpr RegistryRoot HKEY_CLASSES_ROOT = RegistryRoot::ClassesRoot;
inline constexpr RegistryRoot HKEY_USERS = RegistryRoot::Users;

// An open key. A root converts to an open key of all access, so every call that takes a parent
// key takes HKEY_LOCAL_MACHINE as well. Closing is implicit at destruction.
class RegKey {
 public:
  RegKey() = default;
  RegKey(RegistryRoot root);  // NOLINT(google-explicit-constructor): roots stand where keys do
  // A moved-from key is closed, never a handle to the root.
  RegKey(RegKey&& other) noexcept { *this = std::move(other); }
  RegKey& operator=(RegKey&& other) noexcept {
    if (this != &other) {
      m_valid = std::exchange(other.m_valid, false);
      m_root = other.m_root;
      m_subKey = std::move(other.m_subKey);
      m_access = std::exchange(other.m_access, 0);
      other.m_subKey.clear();
    }
    return *this;
  }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  bool Valid() const { return m_valid; }
  explicit operator bool() const { return m_valid; }
  void Close();

  RegistryRoot Root() const { return m_root; }
  // The path below the root, components joined by '\' (empty for a root).
  const std::u16string& SubKey() const { return m_subKey; }
  uint32_t Access() const { return m_access; }

 private:
  friend struct RegKeyAccess;
  RegKey(RegistryRoot root, std::u16string subKey, uint32_t access)
      : m_valid(true), m_root(root), m_subKey(std::move(subKey)), m_access(access) {}
  bool m_valid = false;
  RegistryRoot m_root = RegistryRoot::LocalMachine;
  std::u16string m_subKey;
  uint32_t m_access = 0;
};

// The hive file in use.
std::string RegistryFilePath();

// ERROR_FILE_NOT_FOUND when the key does not exist. options is reserved (0).
uint32_t RegOpenKeyExW(const RegKey& parent, const char16_t* subKey, uint32_t options, uint32_t access,
                       RegKey* result);
uint32_t RegOpenKeyExA(const RegKey& parent, const char* subKey, uint32_t options, uint32_t access,
                       RegKey* result);

// Opens the key, creating it and any missing parent first. disposition (optional) receives
// REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY.
uint32_t RegCreateKeyExW(const RegKey& parent, const char16_t* subKey, uint32_t access, RegKey* result,
                         uint32_t* disposition);
uint32_t RegCreateKeyExA(const RegKey& parent, const char* subKey, uint32_t access, RegKey* result,
                         uint32_t* disposition);

// Reads a value (null or empty name: the default value). type (optional) receives the type.
// *dataSize gives the capacity of data in bytes and receives the value's size; data may be null
// to ask for the size only. ERROR_MORE_DATA when data is too small (then *dataSize is the size
// needed and data is left as it was); ERROR_FILE_NOT_FOUND when the value does not exist. REG_SZ
// data is UTF-16 with its terminator.
uint32_t RegQueryValueExW(const RegKey& key, const char16_t* valueName, uint32_t* reserved, uint32_t* type,
                          uint8_t* data, uint32_t* dataSize);
// As the W call, but texts (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) come as UTF-8 with their
// terminators and sizes count those bytes.
uint32_t RegQueryValueExA(const RegKey& key, const char* valueName, uint32_t* reserved, uint32_t* type,
                          uint8_t* data, uint32_t* dataSize);

// Writes a value; REG_SZ data is UTF-16 and should include its terminator (the size counts it).
uint32_t RegSetValueExW(const RegKey& key, const char16_t* valueName, uint32_t reserved, uint32_t type,
                        const uint8_t* data, uint32_t dataSize);
// As the W call, with texts given in UTF-8 (stored as UTF-16).
uint32_t RegSetValueExA(const RegKey& key, const char* valueName, uint32_t reserved, uint32_t type,
                        const uint8_t* data, uint32_t dataSize);

uint32_t RegDeleteValueW(const RegKey& key, const char16_t* valueName);
uint32_t RegDeleteValueA(const RegKey& key, const char* valueName);

// Deletes a key that has no subkeys (ERROR_ACCESS_DENIED otherwise, as on Windows).
uint32_t RegDeleteKeyW(const RegKey& parent, const char16_t* subKey);
uint32_t RegDeleteKeyA(const RegKey& parent, const char* subKey);
// Deletes a key with all its subkeys; with a null or empty subKey, what lies below parent.
uint32_t RegDeleteTreeW(const RegKey& parent, const char16_t* subKey);

// The index-th direct subkey's name (ERROR_NO_MORE_ITEMS past the last). *nameSize is the
// capacity of name in characters, terminator included, and receives the length without it;
// ERROR_MORE_DATA when it is too small.
uint32_t RegEnumKeyExW(const RegKey& key, uint32_t index, char16_t* name, uint32_t* nameSize);
// The index-th value: name as for RegEnumKeyExW; type and data as for RegQueryValueExW (each
// optional).
uint32_t RegEnumValueW(const RegKey& key, uint32_t index, char16_t* name, uint32_t* nameSize, uint32_t* type,
                       uint8_t* data, uint32_t* dataSize);

uint32_t RegCloseKey(RegKey& key);

// "HKEY_LOCAL_MACHINE" and so on; RegistryRootFromName also takes the short forms HKLM, HKCU,
// HKCR and HKU, without regard to case.
std::u16string_view RegistryRootName(RegistryRoot root);
bool RegistryRootFromName(std::u16string_view name, RegistryRoot* root);

// The hive file's model and its text form, shared by the calls above, velmora-reg and the fuzz
// target.
struct RegistryValue {
  std::u16string name;  // empty for the default value
  uint32_t type = REG_NONE;
  std::vector<uint8_t> data;
};

struct RegistryKeyRecord {
  RegistryRoot root = RegistryRoot::LocalMachine;
  std::u16string subKey;  // components joined by '\'; empty for the root itself
  std::vector<RegistryValue> values;
};

struct RegistryHive {
  std::vector<RegistryKeyRecord> keys;  // in file order; no two with the same name
};

// ERROR_SUCCESS, or ERROR_REGISTRY_CORRUPT for text that is not a hive. Empty text is an empty
// hive.
uint32_t ParseRegistryHive(std::string_view text, RegistryHive* hive);
std::string FormatRegistryHive(const RegistryHive& hive);

}  // namespace platform
