// The settings library keeps each record as one binary registry value, so a record reads back
// byte for byte as it was written, the bytes this side does not interpret included.
#include "HvpxCfg.h"

#include <cstring>

#include "platform/error.h"
#include "platform/registry.h"

namespace {

int32_t AsResult(uint32_t error) { return static_cast<int32_t>(error); }

uint32_t WriteValue(const char16_t* keyPath, const char16_t* name, uint32_t type, const void* data, size_t size) {
  platform::RegKey key;
  uint32_t error = platform::RegCreateKeyExW(platform::HKEY_LOCAL_MACHINE, keyPath, platform::KEY_WRITE, &key, nullptr);
  if (error != platform::ERROR_SUCCESS) return error;
  return platform::RegSetValueExW(key, name, 0, type, static_cast<const uint8_t*>(data), static_cast<uint32_t>(size));
}

// ERROR_INVALID_DATA when the value has another type or size.
uint32_t ReadValue(const char16_t* keyPath, const char16_t* name, uint32_t expectedType, void* data, size_t size) {
  platform::RegKey key;
  uint32_t error = platform::RegOpenKeyExW(platform::HKEY_LOCAL_MACHINE, keyPath, 0, platform::KEY_READ, &key);
  if (error != platform::ERROR_SUCCESS) return error;
  uint32_t type = platform::REG_NONE;
  uint32_t stored = static_cast<uint32_t>(size);
  error = platform::RegQueryValueExW(key, name, nullptr, &type, static_cast<uint8_t*>(data), &stored);
  if (error == platform::ERROR_MORE_DATA) return platform::ERROR_INVALID_DATA;
  if (error != platform::ERROR_SUCCESS) return error;
  return type == expectedType && stored == size ? platform::ERROR_SUCCESS : platform::ERROR_INVALID_DATA;
}

void FillDefault(HVPX_URLF_CONFIG* config) {
  std::memset(config, 0, sizeof(*config));
  config->CredScrThreshold = kHvpxDefaultCredScrThreshold;
}

}  // namespace

HVPX_API int32_t HvpxUrlfReadConfig(HVPX_URLF_CONFIG* config) {
  if (config == nullptr) return AsResult(platform::ERROR_INVALID_PARAMETER);
  HVPX_URLF_CONFIG stored;
  uint32_t error = ReadValue(kHvpxUrlFilterKeyPath, kHvpxUrlFilterConfigValue, platform::REG_BINARY, &stored,
                             sizeof(stored));
  if (error == platform::ERROR_SUCCESS) {
    *config = stored;
    return 0;
  }
  FillDefault(config);
  return error == platform::ERROR_FILE_NOT_FOUND ? 0 : AsResult(error);
}

HVPX_API int32_t HvpxUrlfWriteConfig(const HVPX_URLF_CONFIG* config) {
  if (config == nullptr) return AsResult(platform::ERROR_INVALID_PARAMETER);
  return AsResult(
      WriteValue(kHvpxUrlFilterKeyPath, kHvpxUrlFilterConfigValue, platform::REG_BINARY, config, sizeof(*config)));
}

HVPX_API int32_t HvpxUrlfWriteProxy(const HVPX_PROXY_SETTING* setting) {
  if (setting == nullptr) return AsResult(platform::ERROR_INVALID_PARAMETER);
  return AsResult(
      WriteValue(kHvpxProxyKeyPath, kHvpxProxySettingValue, platform::REG_BINARY, setting, sizeof(*setting)));
}

HVPX_API int32_t HvpxUrlfEnable(uint32_t enable) {
  return AsResult(
      WriteValue(kHvpxUrlFilterKeyPath, kHvpxUrlFilterEnabledValue, platform::REG_DWORD, &enable, sizeof(enable)));
}

HVPX_API int32_t HvpxUrlfIsEnabled() {
  uint32_t enabled = 1;
  if (ReadValue(kHvpxUrlFilterKeyPath, kHvpxUrlFilterEnabledValue, platform::REG_DWORD, &enabled, sizeof(enabled)) !=
      platform::ERROR_SUCCESS) {
    return 1;
  }
  return enabled != 0 ? 1 : 0;
}
