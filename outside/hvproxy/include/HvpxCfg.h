// The local web proxy's settings library: the URL filter's configuration record, its on/off
// switch and the upstream proxy the local proxy forwards through.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(HVPX_BUILDING_LIBRARY)
#define HVPX_API extern "C" __attribute__((visibility("default")))
#else
#define HVPX_API extern "C"
#endif

// The URL filter's configuration, read and written whole. Callers keep the bytes they do not
// use as they were read.
struct HVPX_URLF_CONFIG {
  uint8_t Reserved0[800];
  uint32_t ReportOnlyPages;      // 800: 1 lets dangerous pages through and only reports them
  uint32_t Reserved1[2];
  uint32_t CredScrThreshold;     // 812: a rating at or below it marks a dangerous address
  uint32_t Reserved2;
  uint32_t ReportOnlyDownloads;  // 820: set together with ReportOnlyPages
  uint8_t Reserved3[776];
};
static_assert(sizeof(HVPX_URLF_CONFIG) == 1600);
static_assert(offsetof(HVPX_URLF_CONFIG, ReportOnlyPages) == 800);
static_assert(offsetof(HVPX_URLF_CONFIG, CredScrThreshold) == 812);
static_assert(offsetof(HVPX_URLF_CONFIG, ReportOnlyDownloads) == 820);

// What a fresh installation filters with until somebody writes a record.
inline constexpr uint32_t kHvpxDefaultCredScrThreshold = 65;

// The upstream proxy; texts in the system code page, zero-terminated.
struct HVPX_PROXY_SETTING {
  uint32_t UseProxy;
  char Host[260];  // at most 255 characters are used
  uint32_t Port;
  char UserName[128];
  char Password[128];  // plain text
};
static_assert(sizeof(HVPX_PROXY_SETTING) == 524);
static_assert(offsetof(HVPX_PROXY_SETTING, Host) == 4);
static_assert(offsetof(HVPX_PROXY_SETTING, Port) == 264);
static_assert(offsetof(HVPX_PROXY_SETTING, UserName) == 268);
static_assert(offsetof(HVPX_PROXY_SETTING, Password) == 396);

// Where the library keeps its state, below HKEY_LOCAL_MACHINE.
inline constexpr char16_t kHvpxUrlFilterKeyPath[] = u"SOFTWARE\\Halvard\\Quor\\Hvproxy\\Scan\\Common\\URLFilter";
inline constexpr char16_t kHvpxUrlFilterConfigValue[] = u"Config";    // REG_BINARY, the whole record
inline constexpr char16_t kHvpxUrlFilterEnabledValue[] = u"Enabled";  // REG_DWORD; absent: on
inline constexpr char16_t kHvpxProxyKeyPath[] =
    u"SOFTWARE\\Halvard\\Quor\\Hvproxy\\ProtocolHandler\\http\\redirect\\Proxy";
inline constexpr char16_t kHvpxProxySettingValue[] = u"Upstream";  // REG_BINARY, the whole record

// Each answers 0 or a Windows error code. A record that was never written reads as the default
// (all zero, threshold 65); a stored record of the wrong size also gives the default, with
// ERROR_INVALID_DATA.
HVPX_API int32_t HvpxUrlfReadConfig(HVPX_URLF_CONFIG* config);
HVPX_API int32_t HvpxUrlfWriteConfig(const HVPX_URLF_CONFIG* config);
HVPX_API int32_t HvpxUrlfWriteProxy(const HVPX_PROXY_SETTING* setting);
// Stores the value as received: 0 is off, anything else on.
HVPX_API int32_t HvpxUrlfEnable(uint32_t enable);
// Nonzero when the filter is on (also when the switch was never written).
HVPX_API int32_t HvpxUrlfIsEnabled();
