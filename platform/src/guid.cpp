#include "platform/guid.h"

#include <uuid/uuid.h>

namespace platform {
namespace {

constexpr int32_t S_OK = 0;
constexpr int32_t S_FALSE = 1;
constexpr int32_t E_INVALIDARG = static_cast<int32_t>(0x80070057);

thread_local int t_comInitCount = 0;

}  // namespace

int32_t CoCreateGuid(Guid* guid) {
  if (guid == nullptr) return E_INVALIDARG;
  uuid_t bytes;
  uuid_generate_random(bytes);
  // The first three fields are big-endian in the byte form, as the text form shows them.
  guid->data1 = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
  guid->data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
  guid->data3 = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
  for (int i = 0; i < 8; ++i) guid->data4[i] = bytes[8 + i];
  return S_OK;
}

int32_t CoInitialize() { return t_comInitCount++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
  if (t_comInitCount > 0) --t_comInitCount;
}

}  // namespace platform
