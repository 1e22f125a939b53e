// The operating-system version record, filled as Windows fills its extended version
// information: this platform reports itself as the NT family (platform id 2), with the major,
// minor and build numbers taken from the kernel release ("6.1.0-18-amd64" gives 6, 1, 0).
#pragma once

#include <cstdint>

namespace platform {

inline constexpr uint32_t VER_PLATFORM_WIN32s = 0;
inline constexpr uint32_t VER_PLATFORM_WIN32_WINDOWS = 1;
inline constexpr uint32_t VER_PLATFORM_WIN32_NT = 2;
inline constexpr uint8_t VER_NT_WORKSTATION = 1;

struct OsVersionInfoEx {
  uint32_t dwOSVersionInfoSize = sizeof(OsVersionInfoEx);
  uint32_t dwMajorVersion = 0;
  uint32_t dwMinorVersion = 0;
  uint32_t dwBuildNumber = 0;
  uint32_t dwPlatformId = 0;
  char16_t szCSDVersion[128] = {};  // the kernel's version text, cut to fit
  uint16_t wServicePackMajor = 0;
  uint16_t wServicePackMinor = 0;
  uint16_t wSuiteMask = 0;
  uint8_t wProductType = 0;
  uint8_t wReserved = 0;
};

// false with ERROR_INVALID_PARAMETER when dwOSVersionInfoSize is not the record's size.
bool GetVersionExW(OsVersionInfoEx* info);

}  // namespace platform
