#include "StoredSecret.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/text.h"

namespace {

// ---- DES tables (FIPS 46); entries number the input bits from 1, the most significant ----

constexpr uint8_t kInitialPermutation[64] = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
    57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};

constexpr uint8_t kFinalPermutation[64] = {
    40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31,
    38, 6, 46, 14, 54, 22, 62, 30, 37, 5, 45, 13, 53, 21, 61, 29,
    36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27,
    34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9,  49, 17, 57, 25};

constexpr uint8_t kExpansion[48] = {
    32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11,
    12, 13, 12, 13, 14, 15, 16, 17, 16, 17, 18, 19, 20, 21, 20, 21,
    22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1};

constexpr uint8_t kRoundPermutation[32] = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

constexpr uint8_t kPermutedChoice1[56] = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
    10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
    63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
    14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr uint8_t kPermutedChoice2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
    26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
    51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr uint8_t kKeyShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

constexpr uint8_t kSBoxes[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,
     0,  15, 7,  4, 14, 2,  13, 1,  10, 6,  12, 11, 9,  5,  3, 8,
     4,  1,  14, 8, 13, 6,  2,  11, 15, 12, 9,  7,  3,  10, 5, 0,
     15, 12, 8,  2, 4,  9,  1,  7,  5,  11, 3,  14, 10, 0,  6, 13},
    {15, 1,  8,  14, 6,  11, 3,  4,  9,  7, 2,  13, 12, 0, 5,  10,
     3,  13, 4,  7,  15, 2,  8,  14, 12, 0, 1,  10, 6,  9, 11, 5,
     0,  14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,  9,  3, 2,  15,
     13, 8,  10, 1,  3,  15, 4,  2,  11, 6, 7,  12, 0,  5, 14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7,  11, 4,  2,  8,
     13, 7,  0,  9,  3, 4,  6,  10, 2,  8,  5,  14, 12, 11, 15, 1,
     13, 6,  4,  9,  8, 15, 3,  0,  11, 1,  2,  12, 5,  10, 14, 7,
     1,  10, 13, 0,  6, 9,  8,  7,  4,  15, 14, 3,  11, 5,  2,  12},
    {7,  13, 14, 3, 0,  6,  9,  10, 1,  2, 8, 5,  11, 12, 4,  15,
     13, 8,  11, 5, 6,  15, 0,  3,  4,  7, 2, 12, 1,  10, 14, 9,
     10, 6,  9,  0, 12, 11, 7,  13, 15, 1, 3, 14, 5,  2,  8,  4,
     3,  15, 0,  6, 10, 1,  13, 8,  9,  4, 5, 11, 12, 7,  2,  14},
    {2,  12, 4,  1,  7,  10, 11, 6,  8,  5,  3,  15, 13, 0, 14, 9,
     14, 11, 2,  12, 4,  7,  13, 1,  5,  0,  15, 10, 3,  9, 8,  6,
     4,  2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,  6,  3, 0,  14,
     11, 8,  12, 7,  1,  14, 2,  13, 6,  15, 0,  9,  10, 4, 5,  3},
    {12, 1,  10, 15, 9, 2,  6,  8,  0,  13, 3,  4,  14, 7,  5,  11,
     10, 15, 4,  2,  7, 12, 9,  5,  6,  1,  13, 14, 0,  11, 3,  8,
     9,  14, 15, 5,  2, 8,  12, 3,  7,  0,  4,  10, 1,  13, 11, 6,
     4,  3,  2,  12, 9, 5,  15, 10, 11, 14, 1,  7,  6,  0,  8,  13},
    {4,  11, 2,  14, 15, 0, 8,  13, 3,  12, 9, 7,  5,  10, 6, 1,
     13, 0,  11, 7,  4,  9, 1,  10, 14, 3,  5, 12, 2,  15, 8, 6,
     1,  4,  11, 13, 12, 3, 7,  14, 10, 15, 6, 8,  0,  5,  9, 2,
     6,  11, 13, 8,  1,  4, 10, 7,  9,  5,  0, 15, 14, 2,  3, 12},
    {13, 2,  8,  4, 6,  15, 11, 1,  10, 9,  3,  14, 5,  0,  12, 7,
     1,  15, 13, 8, 10, 3,  7,  4,  12, 5,  6,  11, 0,  14, 9,  2,
     7,  11, 4,  1, 9,  12, 14, 2,  0,  6,  10, 13, 15, 3,  5,  8,
     2,  1,  14, 7, 4,  10, 8,  13, 15, 12, 9,  0,  3,  5,  6,  11}};

// Picks bits of an inWidth-bit value into a new value, most significant first.
template <size_t N>
uint64_t Permute(uint64_t value, unsigned inWidth, const uint8_t (&table)[N]) {
  uint64_t result = 0;
  for (uint8_t position : table) {
    result = (result << 1) | ((value >> (inWidth - position)) & 1);
  }
  return result;
}

uint32_t RotateLeft28(uint32_t half, unsigned count) {
  return ((half << count) | (half >> (28 - count))) & 0x0FFFFFFF;
}

uint32_t RoundFunction(uint32_t right, uint64_t subkey) {
  uint64_t mixed = Permute(right, 32, kExpansion) ^ subkey;
  uint32_t substituted = 0;
  for (unsigned box = 0; box < 8; ++box) {
    unsigned six = (mixed >> (42 - 6 * box)) & 0x3F;
    unsigned row = ((six >> 4) & 2) | (six & 1);
    unsigned column = (six >> 1) & 0xF;
    substituted = (substituted << 4) | kSBoxes[box][row * 16 + column];
  }
  return static_cast<uint32_t>(Permute(substituted, 32, kRoundPermutation));
}

uint64_t BigEndianValue(const std::array<uint8_t, 8>& bytes) {
  uint64_t value = 0;
  for (uint8_t byte : bytes) value = (value << 8) | byte;
  return value;
}

CipherBlock BigEndianBytes(uint64_t value) {
  CipherBlock bytes{};
  for (int i = 7; i >= 0; --i, value >>= 8) bytes[i] = static_cast<uint8_t>(value);
  return bytes;
}

uint8_t ReverseBits(uint8_t byte) {
  uint8_t reversed = 0;
  for (int bit = 0; bit < 8; ++bit, byte >>= 1) reversed = static_cast<uint8_t>((reversed << 1) | (byte & 1));
  return reversed;
}

std::array<uint8_t, 8> ReverseBitsInEachByte(std::array<uint8_t, 8> bytes) {
  for (uint8_t& byte : bytes) byte = ReverseBits(byte);
  return bytes;
}

// ---- stored form ----

constexpr size_t kMarkerLength = sizeof(kScrambleMarker) - 1;
constexpr size_t kSaltLength = 3;
constexpr size_t kBlockBytes = 8;
// The reader accepts pieces of at most 64 bytes including the terminating zero, so a piece holds
// 63 characters. Longer secrets therefore come back whole instead of passing through scrambled.
constexpr size_t kPieceChars = 63;
constexpr size_t kMaxPieceBytes = kPieceChars + 1;
constexpr size_t kHeaderChars = 3;      // block count digit and two byte-count digits
constexpr size_t kCheckChars = 8;
constexpr uint32_t kCheckSeed = 0x4F627A3B;

size_t BlockCount(size_t byteCount) { return (byteCount + kBlockBytes - 1) / kBlockBytes; }

// Exclusive or of the piece's whole little-endian 32-bit words within its byte count.
uint32_t CheckValue(const uint8_t* bytes, size_t byteCount) {
  uint32_t check = kCheckSeed;
  for (size_t word = 0; word < byteCount / 4; ++word) {
    const uint8_t* p = bytes + 4 * word;
    check ^= uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
  }
  return check;
}

std::string HexByte(uint8_t byte) { return platform::StringFormatA("%02X", byte); }

std::string CheckText(uint32_t check) { return platform::StringFormatA("%08X", static_cast<unsigned>(check)); }

// Digits other than hexadecimal ones count as 0, so damaged text decodes without failing.
uint8_t HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
  return 0;
}

uint8_t HexByteValue(const char* twoDigits) {
  return static_cast<uint8_t>(HexDigitValue(twoDigits[0]) << 4 | HexDigitValue(twoDigits[1]));
}

std::string ScramblePiece(const CScrambleCipher& cipher, std::string_view piece) {
  uint8_t bytes[128] = {};
  std::memcpy(bytes, piece.data(), piece.size());
  size_t byteCount = piece.size() + 1;
  size_t blocks = BlockCount(byteCount);
  std::string text(1, static_cast<char>('0' + blocks));
  text += HexByte(static_cast<uint8_t>(byteCount));
  for (size_t b = 0; b < blocks; ++b) {
    CipherBlock plainBlock{};
    std::memcpy(plainBlock.data(), bytes + kBlockBytes * b, kBlockBytes);
    for (uint8_t byte : cipher.Encrypt(plainBlock)) text += HexByte(byte);
  }
  text += CheckText(CheckValue(bytes, byteCount));
  return text;
}

std::string MakeSalt() {
  std::srand(platform::GetTickCount());
  return platform::StringFormatA("%03d", std::rand() % 1000);
}

std::string StoredForm(std::string_view plain) {
  std::string salted = MakeSalt();
  salted += plain;
  CScrambleCipher cipher(DeriveScrambleKey(kScrambleKeyLow, kScrambleKeyHigh));
  std::string stored = kScrambleMarker;
  for (size_t start = 0; start < salted.size(); start += kPieceChars) {
    if (start > 0) stored += '!';
    stored += ScramblePiece(cipher, std::string_view(salted).substr(start, kPieceChars));
  }
  return stored;
}

// The plain bytes of one part, up to its first zero byte.
std::string UnscramblePart(const CScrambleCipher& cipher, std::string_view part) {
  if (part.size() < kHeaderChars) return std::string(part);
  size_t byteCount = HexByteValue(part.data() + 1);
  size_t blocks = BlockCount(byteCount);
  if (byteCount > kMaxPieceBytes || part[0] != static_cast<char>('0' + blocks)) return std::string(part);

  std::string result;
  size_t checkAt = kHeaderChars + 2 * kBlockBytes * blocks;
  if (part.size() >= checkAt + kCheckChars) {
    uint8_t bytes[kMaxPieceBytes + kBlockBytes] = {};
    for (size_t b = 0; b < blocks; ++b) {
      CipherBlock encrypted{};
      for (size_t i = 0; i < kBlockBytes; ++i) {
        encrypted[i] = HexByteValue(part.data() + kHeaderChars + 2 * (kBlockBytes * b + i));
      }
      CipherBlock decrypted = cipher.Decrypt(encrypted);
      std::memcpy(bytes + kBlockBytes * b, decrypted.data(), kBlockBytes);
    }
    if (part.substr(checkAt, kCheckChars) == CheckText(CheckValue(bytes, byteCount))) {
      result.assign(reinterpret_cast<const char*>(bytes), byteCount);
      return result.substr(0, result.find('\0'));
    }
  }
  // A piece that fails its check (or is too short to hold one) stands for its own characters.
  result = std::string(part.substr(0, byteCount));
  return result.substr(0, result.find('\0'));
}

std::string PlainFromStoredForm(std::string_view stored) {
  if (stored.substr(0, kMarkerLength) != kScrambleMarker) return {};
  CScrambleCipher cipher(DeriveScrambleKey(kScrambleKeyLow, kScrambleKeyHigh));
  std::string result;
  std::string_view rest = stored.substr(kMarkerLength);
  while (!rest.empty()) {
    size_t end = rest.find('!');
    std::string_view part = rest.substr(0, end);
    if (!part.empty()) result += UnscramblePart(cipher, part);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  return result.size() > kSaltLength ? result.substr(kSaltLength) : std::string();
}

}  // namespace

CDesCipher::CDesCipher(const std::array<uint8_t, 8>& key) {
  uint64_t permuted = Permute(BigEndianValue(key), 64, kPermutedChoice1);
  uint32_t c = static_cast<uint32_t>(permuted >> 28) & 0x0FFFFFFF;
  uint32_t d = static_cast<uint32_t>(permuted) & 0x0FFFFFFF;
  for (size_t round = 0; round < 16; ++round) {
    c = RotateLeft28(c, kKeyShifts[round]);
    d = RotateLeft28(d, kKeyShifts[round]);
    m_subkeys[round] = Permute((uint64_t{c} << 28) | d, 56, kPermutedChoice2);
  }
}

uint64_t CDesCipher::Crypt(uint64_t block, bool decrypt) const {
  uint64_t permuted = Permute(block, 64, kInitialPermutation);
  uint32_t left = static_cast<uint32_t>(permuted >> 32);
  uint32_t right = static_cast<uint32_t>(permuted);
  for (size_t round = 0; round < 16; ++round) {
    uint64_t subkey = m_subkeys[decrypt ? 15 - round : round];
    uint32_t next = left ^ RoundFunction(right, subkey);
    left = right;
    right = next;
  }
  // The halves leave the last round swapped.
  return Permute((uint64_t{right} << 32) | left, 64, kFinalPermutation);
}

CipherBlock CDesCipher::Encrypt(const CipherBlock& block) const {
  return BigEndianBytes(Crypt(BigEndianValue(block), false));
}

CipherBlock CDesCipher::Decrypt(const CipherBlock& block) const {
  return BigEndianBytes(Crypt(BigEndianValue(block), true));
}

CScrambleCipher::CScrambleCipher(const ScrambleKey& key) : m_des(ReverseBitsInEachByte(key)) {}

CipherBlock CScrambleCipher::Encrypt(const CipherBlock& block) const {
  return ReverseBitsInEachByte(m_des.Encrypt(ReverseBitsInEachByte(block)));
}

CipherBlock CScrambleCipher::Decrypt(const CipherBlock& block) const {
  return ReverseBitsInEachByte(m_des.Decrypt(ReverseBitsInEachByte(block)));
}

ScrambleKey DeriveScrambleKey(const char* low, const char* high) {
  uint16_t words[4] = {0x0201, 0x0403, 0x0605, 0x0807};
  constexpr int kWordOrder[4] = {0, 2, 1, 3};
  uint16_t a = 0x2E86;
  for (int i = 0; i < 4 && (*low != '\0' || *high != '\0'); ++i) {
    // Each character enters as a signed byte, as the key was first defined.
    int lowChar = static_cast<signed char>(*low);
    int highChar = static_cast<signed char>(*high);
    a = static_cast<uint16_t>(a ^ ((lowChar | (highChar << 8)) ^ 0x3F4E));
    words[kWordOrder[i]] ^= a;
    if (*low != '\0') ++low;
    if (*high != '\0') ++high;
  }
  ScrambleKey key{};
  for (int w = 0; w < 4; ++w) {
    key[2 * w] = static_cast<uint8_t>(words[w]);
    key[2 * w + 1] = static_cast<uint8_t>(words[w] >> 8);
  }
  return key;
}

int ScrambleSecret(const char* plain, char* output, size_t outputSize) {
  std::string stored = StoredForm(plain != nullptr ? plain : "");
  if (stored.size() >= outputSize) {
    if (outputSize > 0) output[0] = '\0';
    return 0;
  }
  std::memcpy(output, stored.c_str(), stored.size() + 1);
  return 1;
}

int UnscrambleSecret(char* buffer) {
  if (buffer == nullptr) return 1;
  std::string plain = PlainFromStoredForm(buffer);
  std::memcpy(buffer, plain.c_str(), plain.size() + 1);
  return 1;
}
