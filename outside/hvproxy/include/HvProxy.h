// The local web proxy's notification library: registered functions are told about every rating
// of a web address. Ratings arrive on the pipe "HvProxyNotify" (from the proxy, or from the
// hvproxy-notify tool) and are handed to the registered functions on the library's own thread.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "HvpxCfg.h"

// One rating.
struct HVPX_URLF_NOTIFY {
  char16_t URL[650];  // zero-terminated, at most 649 characters
  uint32_t Score;     // lower is more dangerous; 71: the address is unrated
};
static_assert(sizeof(HVPX_URLF_NOTIFY) == 1304);
static_assert(offsetof(HVPX_URLF_NOTIFY, Score) == 1300);

inline constexpr uint32_t kHvpxUnratedScore = 71;
inline constexpr uint32_t kHvpxProtocolHttp = 3;

// Type, Protocol, Scan, a context value, and the rating. The record lives only for the call.
using HVPX_NOTIFY_CALLBACK = void (*)(uint32_t Type, uint32_t Protocol, uint32_t Scan, uintptr_t Context,
                                      const HVPX_URLF_NOTIFY* Notify);

// Adds the function (once; a second registration of the same function changes nothing) and
// starts listening. 0 or a Windows error code.
HVPX_API int32_t HvpxSetNotifyEx(HVPX_NOTIFY_CALLBACK callback);
// Removes the function; once this returns it is not called again, and a call in progress on the
// library's thread has finished. Listening stops with the last registration.
HVPX_API int32_t HvpxResetSpecificNotifyEx(HVPX_NOTIFY_CALLBACK callback);

// The pipe message: exactly these 1320 bytes, integers little-endian.
inline constexpr char kHvpxNotifyPipe[] = "HvProxyNotify";

struct HVPX_NOTIFY_MESSAGE {
  uint32_t Type;
  uint32_t Protocol;
  uint32_t Scan;
  uint32_t Context;
  HVPX_URLF_NOTIFY Notify;
};
static_assert(sizeof(HVPX_NOTIFY_MESSAGE) == 1320);
static_assert(std::endian::native == std::endian::little, "the message is sent in host order");

// false for a message of any other size. The address is terminated within its field whatever
// the sender wrote.
inline bool HvpxDecodeNotifyMessage(const void* data, size_t size, HVPX_NOTIFY_MESSAGE* message) {
  if (data == nullptr || size != sizeof(HVPX_NOTIFY_MESSAGE)) return false;
  std::memcpy(message, data, sizeof(*message));
  message->Notify.URL[sizeof(message->Notify.URL) / sizeof(char16_t) - 1] = u'\0';
  return true;
}
