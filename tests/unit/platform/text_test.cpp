#include "platform/text.h"

#include <gtest/gtest.h>

#include <climits>

namespace platform {
namespace {

TEST(TextConversion, RoundTripsAcrossPlanes) {
  const std::string utf8 = "plain \xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80";
  std::u16string wide = Utf8ToUtf16(utf8);
  EXPECT_EQ(wide, u"plain \u00E9t\u00E9 \u20AC \U0001F600");
  EXPECT_EQ(Utf16ToUtf8(wide), utf8);
}

TEST(TextConversion, MalformedInputBecomesReplacementCharacters) {
  EXPECT_EQ(Utf8ToUtf16("a\xFF" "b\xE2\x82"), u"a\uFFFDb\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");  // over-long lead, stray continuation
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
}

TEST(CopyBounded, CutsToSizeMinusOneAndTerminates) {
  struct Case { size_t size; std::u16string expected; size_t copied; };
  const Case cases[] = {{1, u"", 0}, {2, u"a", 1}, {4, u"abc", 3}, {5, u"abcd", 4}, {10, u"abcd", 4}};
  for (const Case& c : cases) {
    char16_t buffer[12];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(CopyBounded(buffer, c.size, u"abcd"), c.copied) << c.size;
    EXPECT_EQ(std::u16string(buffer), c.expected) << c.size;
    EXPECT_EQ(buffer[c.size], u'#') << "wrote past the buffer at size " << c.size;
  }
  char narrow[3] = {'x', 'x', 'x'};
  EXPECT_EQ(CopyBounded(narrow, 0, "abc"), 0u);
  EXPECT_EQ(narrow[0], 'x');
  EXPECT_EQ(CopyBounded(narrow, 3, "abc"), 2u);
  EXPECT_STREQ(narrow, "ab");
}

TEST(TextNumbers, FollowTheRuntimeConversions) {
  struct Case { std::u16string text; int32_t asInt; uint32_t asULong; };
  const Case cases[] = {
      {u"0", 0, 0},
      {u"-5", -5, 4294967291u},
      {u"-1", -1, 4294967295u},
      {u"4294967291", INT32_MAX, 4294967291u},
      {u"  42abc", 42, 42},
      {u"", 0, 0},
      {u"abc", 0, 0},
      {u"-2147483648", INT32_MIN, 2147483648u},
      {u"99999999999999999999", INT32_MAX, UINT32_MAX},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WideToInt(c.text), c.asInt) << Utf16ToUtf8(c.text);
    EXPECT_EQ(WideToULong(c.text), c.asULong) << Utf16ToUtf8(c.text);
  }
  EXPECT_EQ(TextToInt(" -17x"), -17);
}

TEST(TextCompare, IgnoresAsciiCase) {
  EXPECT_TRUE(EqualsNoCase(u"Config.INI", u"config.ini"));
  EXPECT_FALSE(EqualsNoCase(u"Config", u"Config2"));
  EXPECT_LT(CompareNoCase("abc", "ABD"), 0);
  EXPECT_TRUE(EqualsNoCase("SETTING_GET", "setting_get"));
}

TEST(FormatW, WindowsConversions) {
  EXPECT_EQ(StringFormatW(u"[%s] err = %d", u"CRegData", -5), u"[CRegData] err = -5");
  EXPECT_EQ(StringFormatW(u"%S|%hs|%ls", "narrow", "also", u"wide"), u"narrow|also|wide");
  EXPECT_EQ(StringFormatW(u"%u %x %X %08lx %I64d", 4294967295u, 255u, 255u, 0x1aUL, -9000000000LL),
            u"4294967295 ff FF 0000001a -9000000000");
  EXPECT_EQ(StringFormatW(u"%5s|%-5s|%.2s", u"ab", u"ab", u"abcdef"), u"   ab|ab   |ab");
  EXPECT_EQ(StringFormatW(u"%c%C%%", u'\u20AC', 'x'), u"\u20ACx%");
  EXPECT_EQ(StringFormatW(u"%s", static_cast<const char16_t*>(nullptr)), u"(null)");
  EXPECT_EQ(StringFormatW(u"%*d|%.3f", 4, 7, 1.5), u"   7|1.500");
}

TEST(FormatA, NarrowConversionsAndWideArguments) {
  EXPECT_EQ(StringFormatA("%s=%d", "debuglevel", 8), "debuglevel=8");
  EXPECT_EQ(StringFormatA("%S %ls", u"\u00E9", u"x"), "\xC3\xA9 x");
}

TEST(FormatW, BoundedOutputIsCutAndTerminated) {
  char16_t buffer[8];
  buffer[7] = u'#';
  EXPECT_EQ(FormatW(buffer, 7, u"%s-%d", u"abcdef", 12345), 6u);
  EXPECT_EQ(std::u16string(buffer), u"abcdef");
  EXPECT_EQ(buffer[7], u'#');
  char narrow[4];
  EXPECT_EQ(FormatA(narrow, sizeof(narrow), "%d", 123456), 3u);
  EXPECT_STREQ(narrow, "123");
}

}  // namespace
}  // namespace platform
