#include "StoredSecret.h"

#include <gtest/gtest.h>

// OpenSSL's DES serves only as an independent oracle here.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/des.h>

#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace {

std::array<uint8_t, 8> FromHex(const char* hex) {
  std::array<uint8_t, 8> bytes{};
  for (size_t i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(std::stoul(std::string(hex + 2 * i, 2), nullptr, 16));
  return bytes;
}

uint8_t Reversed(uint8_t byte) {
  uint8_t result = 0;
  for (int bit = 0; bit < 8; ++bit) result = static_cast<uint8_t>(result | (((byte >> bit) & 1) << (7 - bit)));
  return result;
}

// OpenSSL's standard DES seen through the scrambling's bit order.
CipherBlock OracleEncrypt(const ScrambleKey& key, const CipherBlock& block) {
  DES_cblock rawKey, in, out;
  for (size_t i = 0; i < 8; ++i) {
    rawKey[i] = Reversed(key[i]);
    in[i] = Reversed(block[i]);
  }
  DES_key_schedule schedule;
  DES_set_key_unchecked(&rawKey, &schedule);
  DES_ecb_encrypt(&in, &out, &schedule, DES_ENCRYPT);
  CipherBlock result{};
  for (size_t i = 0; i < 8; ++i) result[i] = Reversed(out[i]);
  return result;
}

std::string Scrambled(const std::string& plain) {
  std::vector<char> out(4096);
  EXPECT_EQ(ScrambleSecret(plain.c_str(), out.data(), out.size()), 1);
  return out.data();
}

std::string Unscrambled(std::string stored) {
  std::vector<char> buffer(stored.begin(), stored.end());
  buffer.push_back('\0');
  EXPECT_EQ(UnscrambleSecret(buffer.data()), 1);
  return buffer.data();
}

// Printable text without the piece separator, of the given length.
std::string PrintableText(size_t length) {
  std::string text;
  for (size_t i = 0; i < length; ++i) text += static_cast<char>(33 + i % 90);
  for (char& c : text) if (c == '!') c = '#';
  return text;
}

TEST(DesCipherTest, StandardVectors) {
  struct Case { const char* key; const char* plain; const char* cipher; };
  const Case cases[] = {
      {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
      {"0E329232EA6D0D73", "8787878787878787", "0000000000000000"},
      {"0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
      {"0000000000000000", "0000000000000000", "8CA64DE9C1B123A7"},
      {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "7359B2163E4EDC58"},
      {"3000000000000000", "1000000000000001", "958E6E627A05557B"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    CDesCipher des(FromHex(c.key));
    EXPECT_EQ(des.Encrypt(FromHex(c.plain)), FromHex(c.cipher));
    EXPECT_EQ(des.Decrypt(FromHex(c.cipher)), FromHex(c.plain));
  }
}

TEST(DesCipherTest, ParityBitsOfTheKeyAreIgnored) {
  CDesCipher des(FromHex("133457799BBCDFF1"));
  CDesCipher flippedParity(FromHex("123556789ABDDEF0"));
  EXPECT_EQ(flippedParity.Encrypt(FromHex("0123456789ABCDEF")), des.Encrypt(FromHex("0123456789ABCDEF")));
}

TEST(ScrambleCipherTest, MatchesStandardDesWithBitsReversedInEachByte) {
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int round = 0; round < 300; ++round) {
    ScrambleKey key;
    CipherBlock block;
    for (uint8_t& b : key) b = static_cast<uint8_t>(byte(random));
    for (uint8_t& b : block) b = static_cast<uint8_t>(byte(random));
    CScrambleCipher cipher(key);
    CipherBlock encrypted = cipher.Encrypt(block);
    ASSERT_EQ(encrypted, OracleEncrypt(key, block)) << "round " << round;
    ASSERT_EQ(cipher.Decrypt(encrypted), block) << "round " << round;
  }
}

TEST(DeriveScrambleKeyTest, BuiltInKeyTexts) {
  EXPECT_EQ(DeriveScrambleKey(kScrambleKeyLow, kScrambleKeyHigh), FromHex("815E9057AA04B803"));
  // Only the first four characters count.
  EXPECT_EQ(DeriveScrambleKey("Harb", "Mang"), FromHex("815E9057AA04B803"));
  EXPECT_EQ(DeriveScrambleKey("", ""), FromHex("0102030405060708"));
}

// Stored forms made by an independent implementation of the format (salts "042" and "907").
TEST(UnscrambleSecretTest, ReadsStoredFormsWrittenElsewhere) {
  EXPECT_EQ(Unscrambled("!CRYPT!20DE68AA9587E659A7884CE5FC6316F52137B51523C"), "p@ss word");
  EXPECT_EQ(Unscrambled("!CRYPT!8406ABA01E51BBB227EA0A5B76DA50DA32F1B4096D042B606ACB17D3FDF974F07BECB99305489A6C"
                        "9546F981A4790A6CD5AE5C1E50C917F37AAB5816B107E8EED2E1075155C!20BD867232C72740E83124B6B20"
                        "A790BA464B5E4607"),
            PrintableText(70));
  // Block digits may be lower-case.
  EXPECT_EQ(Unscrambled("!CRYPT!20De68aa9587e659a7884ce5fc6316f52137B51523C"), "p@ss word");
}

TEST(UnscrambleSecretTest, TextsWithoutAReadablePiece) {
  struct Case { const char* stored; const char* plain; };
  const Case cases[] = {
      {"", ""},
      {"hunter2", ""},                 // no marker: a plain password is not taken over
      {"!crypt!20DE68AA95", ""},        // the marker is case-sensitive
      {"!CRYPT!", ""},
      {"!CRYPT!!!", ""},
      {"!CRYPT!ab", ""},                // shorter than its header; the salt drop leaves nothing
      {"!CRYPT!9ZZsecret", "secret"},   // block digit above 8: taken over unchanged
      {"!CRYPT!141abcdef", "abcdef"},   // byte count 65 is over the limit
      {"!CRYPT!305abcdefgh", "abcdefgh"},  // block digit does not fit the byte count
      {"!CRYPT!10512345", "12"},        // too short for its block: its own first 5 characters
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Unscrambled(c.stored), c.plain) << c.stored;
  }
}

TEST(UnscrambleSecretTest, BrokenCheckValueYieldsThePiecesOwnCharacters) {
  std::string stored = "!CRYPT!20DE68AA9587E659A7884CE5FC6316F52137B51523C";
  stored.back() = 'D';
  // The piece's first 13 characters (its byte count) without the three salt places.
  EXPECT_EQ(Unscrambled(stored), std::string("20DE68AA9587E659A7884CE5F").substr(3, 10));
}

TEST(ScrambleSecretTest, PieceLayout) {
  std::string one = Scrambled("x");
  ASSERT_EQ(one.rfind("!CRYPT!", 0), 0u);
  EXPECT_EQ(one.size() - 7, 27u);
  EXPECT_EQ(one.substr(7, 3), "105");

  std::string sixty = Scrambled(PrintableText(60));
  EXPECT_EQ(sixty.substr(7, 3), "840");
  EXPECT_EQ(sixty.find('!', 7), std::string::npos);
  EXPECT_EQ(sixty.size() - 7, 3u + 8 * 16 + 8);
}

TEST(ScrambleSecretTest, FirstBlockHoldsTheSaltAndThePassword) {
  std::string stored = Scrambled("abcde");
  CipherBlock encrypted = FromHex(stored.substr(10, 16).c_str());
  CScrambleCipher cipher(DeriveScrambleKey(kScrambleKeyLow, kScrambleKeyHigh));
  CipherBlock plain = cipher.Decrypt(encrypted);
  ASSERT_EQ(OracleEncrypt(DeriveScrambleKey(kScrambleKeyLow, kScrambleKeyHigh), plain), encrypted);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(plain[i] >= '0' && plain[i] <= '9');
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(plain.data()) + 3, 5), "abcde");
}

TEST(ScrambleSecretTest, SavesOfTheSamePasswordDifferAndAllReadBack) {
  std::set<std::string> stored;
  for (int attempt = 0; attempt < 5; ++attempt) {
    uint32_t tick = platform::GetTickCount();
    while (platform::GetTickCount() == tick) platform::Sleep(1);
    stored.insert(Scrambled("correct horse"));
  }
  EXPECT_GE(stored.size(), 2u);
  for (const std::string& s : stored) EXPECT_EQ(Unscrambled(s), "correct horse");
}

TEST(ScrambleSecretTest, PasswordsRoundTrip) {
  std::vector<std::string> passwords = {"", "a", "ab", "pass", "p@ss word", "\xC3\xA4\xC3\xB6\xC3\xBC\xE2\x82\xAC",
                                        "\x7F\xFF\x80"};
  for (size_t length : {7u, 8u, 31u, 59u, 60u, 61u, 62u, 63u, 64u, 100u, 107u, 300u}) {
    passwords.push_back(PrintableText(length));
  }
  for (const std::string& password : passwords) {
    EXPECT_EQ(Unscrambled(Scrambled(password)), password) << password.size() << " characters";
  }
}

TEST(ScrambleSecretTest, RefusesAnOutputBufferThatIsTooSmall) {
  char output[256];
  EXPECT_EQ(ScrambleSecret(PrintableText(107).c_str(), output, sizeof output), 1);
  EXPECT_EQ(std::strlen(output), 254u);
  std::memset(output, 'z', sizeof output);
  EXPECT_EQ(ScrambleSecret(PrintableText(108).c_str(), output, sizeof output), 0);
  EXPECT_STREQ(output, "");
  EXPECT_EQ(ScrambleSecret("x", output, 0), 0);
}

}  // namespace
