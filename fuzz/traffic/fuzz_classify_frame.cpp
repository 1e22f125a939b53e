// Arbitrary frames in a buffer of exactly their size, with a length that may disagree with it.
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "Packetdispatcher.h"
#include "ParsePacketResult.h"
#include "TraceFile.h"
#include "dhcpl_DhcpListen.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static CTraceFile* trace = [] {
    auto* file = new CTraceFile;
    file->Create("/dev/null");
    RegisterPermanentRules(g_PacketDispatcher);
    InitIrcCommandSet();
    return file;
  }();
  if (size < 3) return 0;
  // The first three bytes choose the length handed in and the direction.
  int32_t length = static_cast<int32_t>(data[0] | data[1] << 8);
  if (data[2] & 2) length = static_cast<int32_t>(size - 3);
  const int32_t iIO = data[2] & 1;
  std::vector<uint8_t> frame(data + 3, data + size);
  ClassifyFrame(frame, length, iIO, (data[2] & 4) ? trace : nullptr);
  // Keep the store from growing without end across inputs.
  g_ParsePacketResult.Reset();
  g_PacketDispatcher.RemoveExpired();
  return 0;
}
