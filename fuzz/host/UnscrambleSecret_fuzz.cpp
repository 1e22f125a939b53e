// Stored passwords come from a file that anyone with write access may edit: unscrambling any
// text must stay inside its buffer and never lengthen it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "StoredSecret.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Half of the inputs get the marker, so that the piece parser sees most of them.
  bool withMarker = size > 0 && (data[0] & 1);
  std::vector<char> buffer;
  if (withMarker) buffer.assign(kScrambleMarker, kScrambleMarker + sizeof(kScrambleMarker) - 1);
  if (size > 0) buffer.insert(buffer.end(), data + 1, data + size);
  buffer.push_back('\0');
  size_t before = std::strlen(buffer.data());
  UnscrambleSecret(buffer.data());
  if (std::strlen(buffer.data()) > before) std::abort();
  return 0;
}
