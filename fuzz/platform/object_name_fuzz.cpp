// Object and pipe names arrive from other processes (reply pipes are named from request ids):
// the escaped form must be a single safe path component that decodes back to the name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/object_namespace.h"

namespace {

int HexValue(char c) { return c <= '9' ? c - '0' : c - 'A' + 10; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string name(reinterpret_cast<const char*>(data), size);
  std::string escaped = platform::EscapeObjectName(name);
  if (escaped == "." || escaped == ".." || escaped.find('/') != std::string::npos ||
      escaped.find('\0') != std::string::npos) {
    std::abort();
  }
  std::string decoded;
  for (size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] != '%') {
      decoded += escaped[i];
      continue;
    }
    if (i + 2 >= escaped.size()) std::abort();  // a cut escape
    decoded += static_cast<char>(HexValue(escaped[i + 1]) * 16 + HexValue(escaped[i + 2]));
    i += 2;
  }
  if (decoded != name) std::abort();
  return 0;
}
