// Wall-clock and monotonic time in the units the system's interfaces use.
#pragma once

#include <cstdint>

namespace platform {

// Seconds since 1970-01-01 UTC.
int64_t TimeNow();

// Milliseconds since an arbitrary start, 32 bits; wraps after about 49.7 days like the
// Windows tick count, so differences must be taken in unsigned 32-bit arithmetic.
uint32_t GetTickCount();

// 64-bit milliseconds of the same clock, for deadlines.
uint64_t GetTickCount64();

void Sleep(uint32_t milliseconds);

}  // namespace platform
