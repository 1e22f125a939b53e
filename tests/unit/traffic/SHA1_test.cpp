#include "SHA1.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <string>
#include <vector>

namespace {

std::vector<uint8_t> OpenSslDigest(const std::string& message) {
  std::vector<uint8_t> digest(SHA_DIGEST_LENGTH);
  ::SHA1(reinterpret_cast<const unsigned char*>(message.data()), message.size(), digest.data());
  return digest;
}

std::vector<uint8_t> OurDigest(const std::string& message, size_t chunk) {
  class SHA1 sha;  // "class": OpenSSL declares a function of the same name
  for (size_t at = 0; at < message.size(); at += chunk) {
    sha.Input(reinterpret_cast<const uint8_t*>(message.data()) + at, std::min(chunk, message.size() - at));
  }
  uint32_t words[5];
  EXPECT_TRUE(sha.Result(words));
  std::vector<uint8_t> digest;
  for (uint32_t w : words) {
    for (int shift = 24; shift >= 0; shift -= 8) digest.push_back(static_cast<uint8_t>(w >> shift));
  }
  return digest;
}

// Every length around the padding boundaries (55, 56, 63, 64 bytes), fed whole and in pieces.
TEST(SHA1, MatchesOpenSslAcrossBlockBoundaries) {
  for (size_t length = 0; length <= 200; ++length) {
    std::string message;
    for (size_t i = 0; i < length; ++i) message.push_back(static_cast<char>('a' + (i * 7 + length) % 26));
    for (size_t chunk : {size_t{1}, size_t{13}, size_t{64}, size_t{1000}}) {
      EXPECT_EQ(OurDigest(message, chunk), OpenSslDigest(message)) << "length " << length << " chunk " << chunk;
    }
  }
  const std::string million(1000000, 'a');
  EXPECT_EQ(OurDigest(million, 4096), OpenSslDigest(million));
}

TEST(SHA1, PublishedVectorAbc) {
  class SHA1 sha;  // "class": OpenSSL declares a function of the same name
  sha.Input(reinterpret_cast<const uint8_t*>("abc"), 3);
  uint32_t words[5];
  ASSERT_TRUE(sha.Result(words));
  const uint32_t expected[5] = {0xA9993E36, 0x4706816A, 0xBA3E2571, 0x7850C26C, 0x9CD0D89D};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(words[i], expected[i]);
  // Taking the result again gives the same words.
  ASSERT_TRUE(sha.Result(words));
  EXPECT_EQ(words[4], expected[4]);
}

TEST(SHA1, FeedingAfterResultIsAnErrorUntilReset) {
  class SHA1 sha;  // "class": OpenSSL declares a function of the same name
  sha.Input(reinterpret_cast<const uint8_t*>("abc"), 3);
  uint32_t words[5];
  ASSERT_TRUE(sha.Result(words));
  sha.Input(reinterpret_cast<const uint8_t*>("d"), 1);
  EXPECT_TRUE(sha.Corrupted());
  EXPECT_FALSE(sha.Result(words));

  sha.Reset();
  EXPECT_FALSE(sha.Corrupted());
  sha.Input(reinterpret_cast<const uint8_t*>("abc"), 3);
  ASSERT_TRUE(sha.Result(words));
  EXPECT_EQ(words[0], 0xA9993E36u);
}

}  // namespace
