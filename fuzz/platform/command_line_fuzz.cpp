// Command lines are split by hand-written rules; no input may read past the text or produce
// more text than it holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/process.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view line(reinterpret_cast<const char*>(data), size);
  size_t total = 0;
  for (const auto& word : platform::SplitCommandLine(line)) total += word.size();
  if (total > size) std::abort();
  return 0;
}
