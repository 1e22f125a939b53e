// Registry values that tests put in place before the code under test reads them.
#pragma once

#include <cstdint>
#include <string_view>

namespace velmora::test {

// Each creates the key under HKEY_LOCAL_MACHINE when needed; a failure fails the test.
void PutDword(const char16_t* keyPath, const char16_t* name, uint32_t value);
void PutText(const char16_t* keyPath, const char16_t* name, std::u16string_view text);

// The product key as the installation step leaves it, with the proxy component not installed.
void PutProductKey(const char16_t* productKeyPath);

}  // namespace velmora::test
