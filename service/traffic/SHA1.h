// SHA-1 (FIPS 180-1), used to report DNS names without sending them in clear.
#pragma once

#include <cstddef>
#include <cstdint>

class SHA1 {
 public:
  SHA1() { Reset(); }
  virtual ~SHA1() = default;

  // Back to the initial state, ready for a new message.
  void Reset();

  // Appends bytes to the message. Feeding after the result was taken, or past the longest
  // message the algorithm can count (2^64 - 1 bits), puts the digest into its error state.
  void Input(const uint8_t* data, size_t length);

  // The digest as the five words H0..H4; false (and no words) in the error state.
  bool Result(uint32_t digest[5]);

  bool Corrupted() const { return m_corrupted; }

 private:
  void ProcessBlock();
  void PadMessage();

  uint32_t m_h[5];
  uint64_t m_lengthBits;
  uint8_t m_block[64];
  size_t m_blockUsed;
  bool m_computed;
  bool m_corrupted;
};
