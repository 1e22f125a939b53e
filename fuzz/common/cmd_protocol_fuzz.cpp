// Command messages arrive from any local process: every field reader must stay inside the text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "KAVOcl_Common.h"

namespace {

void ReadEveryWay(CCmdProtocol& message, uint8_t plan) {
  char16_t name[30];
  char16_t one[1];
  std::u16string field;
  int32_t signedValue = 0;
  uint32_t unsignedValue = 0;
  const size_t length = message.GetText().size();
  // Each round consumes at most one field; one more than there are fields reads past the end.
  for (size_t round = 0; round <= length + 1; ++round) {
    switch ((plan + round) % 6) {
      case 0: message.NextText(name, 30); break;
      case 1: message.NextInt(signedValue); break;
      case 2: message.NextULong(unsignedValue); break;
      case 3: message.NextString(field); break;
      case 4: message.NextText(one, 1); break;
      default:
        message.NextField([](void*, const char16_t* text, int start, int count) {
          if (start >= 0 && count > 0) (void)text[start + count - 1];
        }, nullptr);
    }
  }
  message.Add(u"appended").AddInt(signedValue).AddUInt(unsignedValue);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t plan = data[0];
  std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::u16string text = WideTextFromBytes(bytes);

  CCmdProtocol terminated(text.c_str(), -1);
  ReadEveryWay(terminated, plan);

  CCmdProtocol counted(text.data(), static_cast<int>(bytes.size()));
  ReadEveryWay(counted, plan);
  return 0;
}
