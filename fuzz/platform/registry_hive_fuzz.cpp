// The hive parser takes any text without crashing, and what it accepts formats to a text that
// parses to the same hive and formats the same again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/error.h"
#include "platform/registry.h"

namespace {

bool SameHive(const platform::RegistryHive& a, const platform::RegistryHive& b) {
  if (a.keys.size() != b.keys.size()) return false;
  for (size_t i = 0; i < a.keys.size(); ++i) {
    const auto& x = a.keys[i];
    const auto& y = b.keys[i];
    if (x.root != y.root || x.subKey != y.subKey || x.values.size() != y.values.size()) return false;
    for (size_t j = 0; j < x.values.size(); ++j) {
      if (x.values[j].name != y.values[j].name || x.values[j].type != y.values[j].type ||
          x.values[j].data != y.values[j].data) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::RegistryHive hive;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (platform::ParseRegistryHive(text, &hive) != platform::ERROR_SUCCESS) return 0;
  std::string formatted = platform::FormatRegistryHive(hive);
  platform::RegistryHive again;
  if (platform::ParseRegistryHive(formatted, &again) != platform::ERROR_SUCCESS) std::abort();
  if (!SameHive(hive, again)) std::abort();
  if (platform::FormatRegistryHive(again) != formatted) std::abort();
  return 0;
}
