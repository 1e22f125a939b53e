// Scrambling of the one secret the service keeps in its configuration file, the proxy password.
// The stored form is "!CRYPT!" followed by pieces joined by "!"; each piece carries a block
// count digit, a byte count, the encrypted blocks in hexadecimal and a check value. The salt
// makes every save of the same password look different.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

inline constexpr char kScrambleMarker[] = "!CRYPT!";
// Built-in key texts; only their first four characters enter the key.
inline constexpr char kScrambleKeyHigh[] = "Mango4815029Pluck";
inline constexpr char kScrambleKeyLow[] = "Harbour5093824QX";

using ScrambleKey = std::array<uint8_t, 8>;
using CipherBlock = std::array<uint8_t, 8>;

// Single DES (sixteen rounds, parity bits ignored) on one block without chaining, with the bits
// of every byte numbered as FIPS 46 numbers them: bit 1 is the most significant.
class CDesCipher {
 public:
  explicit CDesCipher(const std::array<uint8_t, 8>& key);
  CipherBlock Encrypt(const CipherBlock& block) const;
  CipherBlock Decrypt(const CipherBlock& block) const;

 private:
  uint64_t Crypt(uint64_t block, bool decrypt) const;
  std::array<uint64_t, 16> m_subkeys{};
};

// The scrambling's block cipher: DES with the bits of every byte numbered from the least
// significant one, for key, input and output alike.
class CScrambleCipher {
 public:
  explicit CScrambleCipher(const ScrambleKey& key);
  CipherBlock Encrypt(const CipherBlock& block) const;
  CipherBlock Decrypt(const CipherBlock& block) const;

 private:
  CDesCipher m_des;
};

// The 8-byte key made from the low and high key texts (zero-terminated, narrow).
ScrambleKey DeriveScrambleKey(const char* low, const char* high);

// Writes the stored form of plain (zero-terminated, narrow) into output. Answers 1; answers 0
// and leaves output empty when the stored form does not fit in outputSize bytes.
// Any length round-trips; with the 256-byte read size of the configuration file the stored
// form of a secret of up to 107 characters fits.
int ScrambleSecret(const char* plain, char* output, size_t outputSize);

// Turns the stored form in buffer (zero-terminated) back into plain text in place; the plain
// text is never longer. An empty text stays empty, a text without the marker becomes empty, and
// a damaged piece comes back as its own characters. Answers 1.
int UnscrambleSecret(char* buffer);
