#include "platform/profile.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "platform/error.h"
#include "platform/text.h"
#include "test_env.h"

namespace platform {
namespace {

using velmora::test::ReadFile;
using velmora::test::ScopedTestEnvironment;
using velmora::test::WriteFile;

class ProfileTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name = "Config.ini") const { return m_env.Root() + "/" + name; }

  std::string Get(const char* section, const char* key, const char* defaultValue = "dflt", uint32_t size = 256) {
    std::string buffer(size + 4, '#');
    uint32_t copied = GetPrivateProfileStringA(section, key, defaultValue, buffer.data(), size, Path().c_str());
    EXPECT_EQ(buffer[copied], '\0');
    return buffer.substr(0, copied);
  }

  ScopedTestEnvironment m_env;
};

constexpr char kFixture[] =
    "; settings of the agent\n"
    "[Operation]\n"
    "NetMonitorInterval=3000\n"
    "  Spaced Key  =  spaced value  \n"
    "Quoted=\"  kept inside  \"\n"
    "Single='x'\n"
    "Half=\"open\n"
    "NoEquals line\n"
    "Empty=\n"
    "\n"
    "[Backend Server]\n"
    "Server=bd.example.net\n"
    "Port=443\n"
    "\n"
    "[operation]\n"
    "NetMonitorInterval=9999\n"
    "Late=only in the second copy\n";

TEST_F(ProfileTest, ReadsValuesByWindowsRules) {
  WriteFile(Path(), kFixture);
  struct Case { const char* section; const char* key; const char* expected; };
  const Case cases[] = {
      {"Operation", "NetMonitorInterval", "3000"},        // the first copy of a section wins
      {"OPERATION", "netmonitorinterval", "3000"},        // names compare without case
      {"Operation", "Spaced Key", "spaced value"},        // blanks around names and values go
      {"Operation", "Quoted", "  kept inside  "},         // matching quotes go, the inside stays
      {"Operation", "Single", "x"},
      {"Operation", "Half", "\"open"},                    // an unmatched quote stays
      {"Operation", "Empty", ""},                         // present but empty is not the default
      {"Operation", "NoEquals line", "dflt"},
      {"Operation", "Late", "dflt"},
      {"Operation", "Server", "dflt"},                    // keys belong to their own section
      {"Backend Server", "Port", "443"},
      {"Missing", "Port", "dflt"},
      {"; settings of the agent", "x", "dflt"},
  };
  for (const Case& c : cases) EXPECT_EQ(Get(c.section, c.key), c.expected) << c.section << "/" << c.key;
}

TEST_F(ProfileTest, MissingFileReadsDefaults) {
  EXPECT_EQ(Get("Operation", "GUID", ""), "");
  EXPECT_EQ(Get("Operation", "GUID", "1111"), "1111");
  EXPECT_EQ(Get("Operation", "GUID", "trailing   "), "trailing");  // as Windows trims the default
  EXPECT_EQ(Get("Operation", "GUID", nullptr), "");
  EXPECT_EQ(GetPrivateProfileIntA("Operation", "NetMonitorInterval", 3000, Path().c_str()), 3000);
}

TEST_F(ProfileTest, IntegersAreLeadingDecimalsWithDefaultForMissingOrEmpty) {
  WriteFile(Path(), "[N]\na=42\nb=-7\nc= 12abc\nd=abc\ne=\nf=99999999999\ng=0x10\n");
  struct Case { const char* key; int32_t expected; };
  const Case cases[] = {{"a", 42}, {"b", -7}, {"c", 12}, {"d", 0}, {"e", 5}, {"f", INT32_MAX}, {"g", 0}, {"zz", 5}};
  for (const Case& c : cases) {
    EXPECT_EQ(GetPrivateProfileIntA("N", c.key, 5, Path().c_str()), c.expected) << c.key;
    std::u16string key = Utf8ToUtf16(c.key);
    std::u16string file = Utf8ToUtf16(Path());
    EXPECT_EQ(GetPrivateProfileIntW(u"n", key.c_str(), 5, file.c_str()), c.expected) << c.key;
  }
}

TEST_F(ProfileTest, SmallBuffersCutLikeWindows) {
  WriteFile(Path(), "[S]\nk=abcdef\n[T]\n[U]\n");
  struct Case { uint32_t size; std::string value; };
  const Case cases[] = {{1, ""}, {2, "a"}, {6, "abcde"}, {7, "abcdef"}, {100, "abcdef"}};
  for (const Case& c : cases) EXPECT_EQ(Get("S", "k", "", c.size), c.value) << c.size;

  char untouched = '#';
  EXPECT_EQ(GetPrivateProfileStringA("S", "k", "", &untouched, 0, Path().c_str()), 0u);
  EXPECT_EQ(untouched, '#');

  // Lists of names: each name terminated, a second terminator at the end; when cut, the last
  // name is cut and followed by two terminators and the answer is size - 2.
  struct ListCase { uint32_t size; uint32_t answer; std::string bytes; };
  const ListCase lists[] = {
      {20, 6, std::string("S\0T\0U\0\0", 7)},
      {7, 6, std::string("S\0T\0U\0\0", 7)},
      {6, 4, std::string("S\0T\0\0\0", 6)},
      {5, 3, std::string("S\0T\0\0", 5)},
      {2, 0, std::string("\0\0", 2)},
  };
  for (const ListCase& c : lists) {
    std::string buffer(32, '#');
    EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "", buffer.data(), c.size, Path().c_str()), c.answer)
        << c.size;
    EXPECT_EQ(buffer.substr(0, c.bytes.size()), c.bytes) << c.size;
    EXPECT_EQ(buffer[c.size], '#') << c.size;
  }
  std::string keys(16, '#');
  EXPECT_EQ(GetPrivateProfileStringA("s", nullptr, "", keys.data(), 16, Path().c_str()), 2u);
  EXPECT_EQ(keys.substr(0, 3), std::string("k\0\0", 3));
}

TEST_F(ProfileTest, WideCallsCountUtf16Units) {
  WriteFile(Path(), "[S]\nk=\xE2\x82\xAC\xF0\x9F\x98\x80x\n");  // euro sign, one astral character, x
  std::u16string file = Utf8ToUtf16(Path());
  char16_t buffer[8];
  EXPECT_EQ(GetPrivateProfileStringW(u"s", u"K", u"", buffer, 8, file.c_str()), 4u);
  EXPECT_EQ(std::u16string(buffer), u"\u20AC\U0001F600x");
  EXPECT_EQ(GetPrivateProfileStringW(u"s", u"K", u"", buffer, 3, file.c_str()), 2u);
  EXPECT_EQ(std::u16string(buffer).size(), 2u);
  EXPECT_TRUE(WritePrivateProfileStringW(u"S", u"w", u"\u00E9t\u00E9", file.c_str()));
  EXPECT_EQ(Get("S", "w"), "\xC3\xA9t\xC3\xA9");
}

TEST_F(ProfileTest, WritingOneKeyKeepsEveryOtherLine) {
  WriteFile(Path(), kFixture);
  ASSERT_TRUE(WritePrivateProfileStringA("operation", "NETMONITORINTERVAL", "1000", Path().c_str()));
  std::string expected = kFixture;
  expected.replace(expected.find("NetMonitorInterval=3000"), 23, "NetMonitorInterval=1000");
  EXPECT_EQ(ReadFile(Path()), expected);

  ASSERT_TRUE(WritePrivateProfileStringA("Backend Server", "Object", "/bd.php", Path().c_str()));
  expected.insert(expected.find("Port=443\n") + 9, "Object=/bd.php\n");
  EXPECT_EQ(ReadFile(Path()), expected);

  ASSERT_TRUE(WritePrivateProfileStringA("URLFilter", "WebQueryCount", "0", Path().c_str()));
  expected += "\n[URLFilter]\nWebQueryCount=0\n";
  EXPECT_EQ(ReadFile(Path()), expected);
}

TEST_F(ProfileTest, WritingKeepsCrLfLineEndsAndAddsAMissingLastNewline) {
  WriteFile(Path(), "[A]\r\nx=1\r\ny=2");
  ASSERT_TRUE(WritePrivateProfileStringA("A", "z", "3", Path().c_str()));
  EXPECT_EQ(ReadFile(Path()), "[A]\r\nx=1\r\ny=2\r\nz=3\r\n");
  EXPECT_EQ(Get("A", "y"), "2");
  EXPECT_EQ(Get("A", "z"), "3");
  // Lines of other styles stay as they are.
  WriteFile(Path(), "[A]\r\nx=1\ny=2\r\n");
  ASSERT_TRUE(WritePrivateProfileStringA("A", "x", "5", Path().c_str()));
  EXPECT_EQ(ReadFile(Path()), "[A]\r\nx=5\r\ny=2\r\n");
  WriteFile(Path(), "[A]\r\nx=1\ny=2\r\n[B]\r\nb=1");
  ASSERT_TRUE(WritePrivateProfileStringA("A", "z", "3", Path().c_str()));
  ASSERT_TRUE(WritePrivateProfileStringA("B", nullptr, nullptr, Path().c_str()));
  EXPECT_EQ(ReadFile(Path()), "[A]\r\nx=1\ny=2\r\nz=3\r\n");
}

TEST_F(ProfileTest, WritingCreatesFileAndSectionAndDeletes) {
  ASSERT_TRUE(WritePrivateProfileStringA("Operation", "GUID", "abc", Path().c_str()));
  EXPECT_EQ(ReadFile(Path()), "[Operation]\nGUID=abc\n");
  ASSERT_TRUE(WritePrivateProfileStringA("Other", "k", "v", Path().c_str()));
  ASSERT_TRUE(WritePrivateProfileStringA("Operation", "guid", nullptr, Path().c_str()));
  EXPECT_EQ(Get("Operation", "GUID"), "dflt");
  ASSERT_TRUE(WritePrivateProfileStringA("OTHER", nullptr, nullptr, Path().c_str()));
  EXPECT_EQ(ReadFile(Path()), "[Operation]\n\n");
  // Deleting from a file that does not exist creates nothing.
  EXPECT_TRUE(WritePrivateProfileStringA("S", "k", nullptr, Path("none.ini").c_str()));
  EXPECT_EQ(::access(Path("none.ini").c_str(), F_OK), -1);
}

TEST_F(ProfileTest, RefusesTextThatWouldForgeOtherLines) {
  WriteFile(Path(), "[S]\nk=v\n");
  struct Case { const char* section; const char* key; const char* value; };
  const Case cases[] = {
      {"S", "k", "1\n[Evil]\nx=y"}, {"S", "k", "1\r"}, {"S\n", "k", "v"}, {"S", "a=b", "v"},
      {"S", "[x]", "v"},            {"S", ";c", "v"},  {"S", "", "v"},    {"S", " k", "v"},
      {nullptr, "k", "v"},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_FALSE(WritePrivateProfileStringA(c.section, c.key, c.value, Path().c_str())) << c.key;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << c.key;
  }
  EXPECT_EQ(ReadFile(Path()), "[S]\nk=v\n");
}

TEST_F(ProfileTest, WriteIntoMissingFolderFails) {
  EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "v", Path("no/such/dir.ini").c_str()));
  EXPECT_NE(GetLastError(), ERROR_SUCCESS);
}

TEST_F(ProfileTest, TwoProcessesWritingDifferentKeysLoseNeither) {
  constexpr int kWrites = 60;
  WriteFile(Path(), "[Keep]\nme=1\n");
  pid_t children[2];
  for (int child = 0; child < 2; ++child) {
    children[child] = ::fork();
    ASSERT_GE(children[child], 0);
    if (children[child] == 0) {
      bool ok = true;
      for (int i = 0; i < kWrites; ++i) {
        std::string key = "p" + std::to_string(child) + "_" + std::to_string(i);
        ok = WritePrivateProfileStringA("Race", key.c_str(), std::to_string(i).c_str(), Path().c_str()) && ok;
      }
      ::_exit(ok ? 0 : 1);
    }
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(Get("Keep", "me"), "1");
  for (int child = 0; child < 2; ++child) {
    for (int i = 0; i < kWrites; ++i) {
      std::string key = "p" + std::to_string(child) + "_" + std::to_string(i);
      EXPECT_EQ(Get("Race", key.c_str()), std::to_string(i)) << key;
    }
  }
}

}  // namespace
}  // namespace platform
