// GUIDs (libuuid) and the per-thread component-library initialisation flag.
#pragma once

#include <cstdint>

namespace platform {

struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  uint8_t data4[8] = {};
};

// Answers 0 (S_OK) and a fresh random GUID.
int32_t CoCreateGuid(Guid* guid);

// 0 (S_OK) the first time on a thread, 1 (S_FALSE) when already initialised there.
int32_t CoInitialize();
void CoUninitialize();

}  // namespace platform
