// Arbitrary capture files through header check, record reader, classifier and summary.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "Packetdispatcher.h"
#include "ParsePacketResult.h"
#include "PcapMonitor.h"
#include "dhcpl_DhcpListen.h"
#include "platform/unique_fd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    // A refused header is announced on standard output; millions of those would only slow the run.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) return false;
    RegisterPermanentRules(g_PacketDispatcher);
    InitIrcCommandSet();
    return true;
  }();
  (void)ready;
  platform::UniqueFd file(::memfd_create("capture", MFD_CLOEXEC));
  if (!file) return 0;
  size_t written = 0;
  while (written < size) {
    const ssize_t n = ::write(file.Get(), data + written, size - written);
    if (n <= 0) return 0;
    written += static_cast<size_t>(n);
  }
  const std::string path = "/proc/self/fd/" + std::to_string(file.Get());
  g_ParsePacketResult.Reset();
  std::string report;
  TraceCaptureFile(path, "/dev/null", "fuzz", report);
  g_PacketDispatcher.RemoveExpired();
  return 0;
}
