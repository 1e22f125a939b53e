#include "registry_values.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/error.h"
#include "platform/registry.h"

namespace velmora::test {

using namespace platform;

void PutDword(const char16_t* keyPath, const char16_t* name, uint32_t value) {
  RegKey key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, KEY_ALL_ACCESS, &key, nullptr), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const uint8_t*>(&value), sizeof(value)),
            ERROR_SUCCESS);
}

void PutText(const char16_t* keyPath, const char16_t* name, std::u16string_view text) {
  RegKey key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, KEY_ALL_ACCESS, &key, nullptr), ERROR_SUCCESS);
  std::u16string data(text);
  ASSERT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const uint8_t*>(data.c_str()),
                           static_cast<uint32_t>((data.size() + 1) * sizeof(char16_t))),
            ERROR_SUCCESS);
}

void PutProductKey(const char16_t* productKeyPath) {
  PutText(productKeyPath, u"Version", u"1.0.0.1");
  PutText(productKeyPath, u"ProductName", u"Halvard Velmora");
  PutDword(productKeyPath, u"Lang", 1);
  PutDword(productKeyPath, u"Blocking", 1);
  PutDword(productKeyPath, u"InstQuor", 0);
}

}  // namespace velmora::test
