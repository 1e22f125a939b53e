// The local proxy's notification message as it arrives on the pipe, of any size and content.
#include <cstddef>
#include <cstdint>

#include "HvProxy.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  HVPX_NOTIFY_MESSAGE message;
  if (HvpxDecodeNotifyMessage(data, size, &message)) {
    size_t length = 0;
    while (message.Notify.URL[length] != u'\0') ++length;  // must stop inside the field
    if (length >= sizeof(message.Notify.URL) / sizeof(char16_t)) __builtin_trap();
  }
  return 0;
}
