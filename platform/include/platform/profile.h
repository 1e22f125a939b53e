// Private profile (INI) files with the Windows rules: section and key names compare without
// regard to case, a missing file, section or key reads as the default, and writing creates the
// file and the section. A write replaces the file through a temporary file and a rename under a
// lock, so it never loses the other keys, also when processes write at once.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Copies the value (or the default) into buffer, cut to size - 1 characters and terminated, and
// answers the number of characters copied.
uint32_t GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                  char* buffer, uint32_t size, const char* fileName);
uint32_t GetPrivateProfileStringW(const char16_t* section, const char16_t* key,
                                  const char16_t* defaultValue, char16_t* buffer, uint32_t size,
                                  const char16_t* fileName);

// The value's leading decimal number (with sign), or the default when the key is missing.
int32_t GetPrivateProfileIntA(const char* section, const char* key, int32_t defaultValue,
                              const char* fileName);
int32_t GetPrivateProfileIntW(const char16_t* section, const char16_t* key, int32_t defaultValue,
                              const char16_t* fileName);

// Writes key=value into the section. A null value deletes the key; a null key deletes the
// section. false with the last error on failure.
bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName);
bool WritePrivateProfileStringW(const char16_t* section, const char16_t* key, const char16_t* value,
                                const char16_t* fileName);

}  // namespace platform
