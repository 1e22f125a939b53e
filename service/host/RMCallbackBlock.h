// The status block that the service publishes to the tray program through the named mapping
// "Global\KavoRmCallbackMMF". The service maps it read-write, the tray read-only and without
// locks, so the layout is fixed byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr char kRMCallbackBlockName[] = "Global\\KavoRmCallbackMMF";
inline constexpr size_t kConflictProductChars = 512;

struct RMCallbackBlock {
  int32_t LastErrorCode;    // 1: the packet driver's device was not found
  int32_t Command;          // 1: the service unloads
  int64_t UnloadTime;       // seconds since 1970
  uint32_t Reserved0;
  uint32_t WebQueryCount;   // rated addresses
  uint32_t WebThreatCount;  // dangerous addresses
  int32_t AlertKind;        // 1 dangerous address, 0 bot detection
  uint32_t Reserved1;
  int32_t Botted;
  char16_t ConflictProduct[kConflictProductChars];  // zero-terminated, or empty
};

static_assert(sizeof(RMCallbackBlock) == 1064);
static_assert(offsetof(RMCallbackBlock, LastErrorCode) == 0);
static_assert(offsetof(RMCallbackBlock, Command) == 4);
static_assert(offsetof(RMCallbackBlock, UnloadTime) == 8);
static_assert(offsetof(RMCallbackBlock, WebQueryCount) == 20);
static_assert(offsetof(RMCallbackBlock, WebThreatCount) == 24);
static_assert(offsetof(RMCallbackBlock, AlertKind) == 28);
static_assert(offsetof(RMCallbackBlock, Botted) == 36);
static_assert(offsetof(RMCallbackBlock, ConflictProduct) == 40);
