#include "SHA1.h"

#include <cstring>

namespace {

constexpr uint32_t RotateLeft(uint32_t value, int bits) {
  return (value << bits) | (value >> (32 - bits));
}

}  // namespace

void SHA1::Reset() {
  m_h[0] = 0x67452301;
  m_h[1] = 0xEFCDAB89;
  m_h[2] = 0x98BADCFE;
  m_h[3] = 0x10325476;
  m_h[4] = 0xC3D2E1F0;
  m_lengthBits = 0;
  m_blockUsed = 0;
  m_computed = false;
  m_corrupted = false;
}

void SHA1::Input(const uint8_t* data, size_t length) {
  if (length == 0) return;
  if (m_computed || m_corrupted) {
    m_corrupted = true;
    return;
  }
  while (length > 0) {
    if (m_lengthBits > UINT64_MAX - 8) {
      m_corrupted = true;
      return;
    }
    m_lengthBits += 8;
    m_block[m_blockUsed++] = *data++;
    --length;
    if (m_blockUsed == sizeof(m_block)) ProcessBlock();
  }
}

bool SHA1::Result(uint32_t digest[5]) {
  if (m_corrupted) return false;
  if (!m_computed) {
    PadMessage();
    m_computed = true;
  }
  std::memcpy(digest, m_h, sizeof(m_h));
  return true;
}

void SHA1::ProcessBlock() {
  uint32_t w[80];
  for (int t = 0; t < 16; ++t) {
    w[t] = uint32_t{m_block[t * 4]} << 24 | uint32_t{m_block[t * 4 + 1]} << 16 |
           uint32_t{m_block[t * 4 + 2]} << 8 | uint32_t{m_block[t * 4 + 3]};
  }
  for (int t = 16; t < 80; ++t) w[t] = RotateLeft(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);

  uint32_t a = m_h[0], b = m_h[1], c = m_h[2], d = m_h[3], e = m_h[4];
  for (int t = 0; t < 80; ++t) {
    uint32_t f, k;
    if (t < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999;
    } else if (t < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1;
    } else if (t < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDC;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6;
    }
    const uint32_t temp = RotateLeft(a, 5) + f + e + w[t] + k;
    e = d;
    d = c;
    c = RotateLeft(b, 30);
    b = a;
    a = temp;
  }
  m_h[0] += a;
  m_h[1] += b;
  m_h[2] += c;
  m_h[3] += d;
  m_h[4] += e;
  m_blockUsed = 0;
}

// The message ends with a one bit, zeros up to 8 bytes before a block boundary, and the
// length in bits as a big-endian 64-bit number.
void SHA1::PadMessage() {
  m_block[m_blockUsed++] = 0x80;
  if (m_blockUsed > 56) {
    std::memset(m_block + m_blockUsed, 0, sizeof(m_block) - m_blockUsed);
    ProcessBlock();
  }
  std::memset(m_block + m_blockUsed, 0, 56 - m_blockUsed);
  for (int i = 0; i < 8; ++i) m_block[56 + i] = static_cast<uint8_t>(m_lengthBits >> (56 - 8 * i));
  ProcessBlock();
}
