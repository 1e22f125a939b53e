#include "dl_DebugLog.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

#include "platform/error.h"
#include "platform/identity.h"
#include "platform/text.h"
#include "test_env.h"

namespace {

uint32_t g_now = 0;
int g_clockReads = 0;
uint32_t FakeTicks() {
  ++g_clockReads;
  return g_now;
}

// Asks n times and answers how many said yes.
int AskTimes(CLogHostGate& gate, int n) {
  int yes = 0;
  for (int i = 0; i < n; ++i) yes += gate.Ask() ? 1 : 0;
  return yes;
}

TEST(CLogHostGate, TenSilentCallsThenRetryOnlyAfterFiveSeconds) {
  g_now = 100000;
  g_clockReads = 0;
  CLogHostGate gate(FakeTicks);
  EXPECT_EQ(AskTimes(gate, 3), 3) << "a host that was never missed is tried every time";
  EXPECT_EQ(g_clockReads, 0);

  gate.MarkUnreachable();
  g_clockReads = 0;
  EXPECT_EQ(AskTimes(gate, 10), 0);
  EXPECT_EQ(g_clockReads, 0) << "the ten silent calls never read the clock";

  g_now += 5000;  // exactly five seconds is not enough
  EXPECT_FALSE(gate.Ask());
  EXPECT_EQ(g_clockReads, 1);

  g_now += 1;
  EXPECT_EQ(AskTimes(gate, 10), 0) << "the counter starts over after each look at the clock";
  EXPECT_TRUE(gate.Ask());
  EXPECT_EQ(g_clockReads, 2);
  EXPECT_EQ(AskTimes(gate, 5), 5) << "after a retry the host counts as reachable again";
}

TEST(CLogHostGate, RetryTimeSurvivesTheTickCountWrapping) {
  g_now = 0xFFFFF000u;
  CLogHostGate gate(FakeTicks);
  gate.MarkUnreachable();
  g_now = 0x00000500u;  // 0x1500 = 5376 ms later, across the wrap
  EXPECT_EQ(AskTimes(gate, 10), 0);
  EXPECT_TRUE(gate.Ask());
}

TEST(CLogHostGate, MarkReachableOpensAtOnce) {
  g_now = 1;
  CLogHostGate gate(FakeTicks);
  gate.MarkUnreachable();
  EXPECT_FALSE(gate.Ask());
  gate.MarkReachable();
  EXPECT_TRUE(gate.Ask());
}

// Whether text has the shape of pattern, where 'A' stands for a capital, 'a' for a small
// letter, '9' for a digit, '_' for a digit or blank; other characters stand for themselves.
bool HasShape(const char* text, const char* pattern) {
  std::string t = text, p = pattern;
  if (t.size() != p.size()) return false;
  for (size_t i = 0; i < t.size(); ++i) {
    char c = t[i];
    bool ok = p[i] == 'A'   ? (c >= 'A' && c <= 'Z')
              : p[i] == 'a' ? (c >= 'a' && c <= 'z')
              : p[i] == '9' ? (c >= '0' && c <= '9')
              : p[i] == '_' ? (c == ' ' || (c >= '0' && c <= '9'))
                            : c == p[i];
    if (!ok) return false;
  }
  return true;
}

std::u16string FormatRecord(const char16_t* format, ...) {
  char16_t record[kDebugRecordChars + 8];
  std::fill(std::begin(record), std::end(record), u'#');
  va_list args;
  va_start(args, format);
  size_t written = FormatDebugRecordW(record, format, args);
  va_end(args);
  EXPECT_LT(written, kDebugRecordChars);
  EXPECT_EQ(record[written], u'\0');
  for (size_t i = kDebugRecordChars; i < kDebugRecordChars + 8; ++i) {
    EXPECT_EQ(record[i], u'#') << "written past the record buffer at " << i;
  }
  return std::u16string(record, written);
}

TEST(DebugRecord, BeginsWithTagAndProgramName) {
  InitDebugLogW(nullptr, nullptr, u"HVBotAlertAgent", true);
  std::u16string expected = u"[HVBotAlertAgent][" + platform::Utf8ToUtf16(platform::ModuleBaseName()) +
                            u"][Func] 7 wide narrow";
  EXPECT_EQ(FormatRecord(u"[Func] %d %s %S", 7, u"wide", "narrow"), expected);
}

TEST(DebugRecord, WithoutInitialisationTheTagIsEmpty) {
  EXPECT_EQ(FormatRecord(u"x"), u"[][" + platform::Utf8ToUtf16(platform::ModuleBaseName()) + u"]x");
}

TEST(DebugRecord, LongMessageIsCutAt4095CharactersAndTerminated) {
  InitDebugLogW(nullptr, nullptr, u"T", true);
  std::u16string longText(10000, u'x');
  std::u16string record = FormatRecord(u"%s", longText.c_str());
  EXPECT_EQ(record.size(), kDebugRecordChars - 1);
  EXPECT_EQ(record.back(), u'x');
}

TEST(DebugRecord, OverlongTagIsCutTo1023Bytes) {
  std::u16string tag(3000, u'g');
  InitDebugLogW(nullptr, nullptr, tag.c_str(), true);
  std::u16string record = FormatRecord(u"m");
  EXPECT_EQ(record.find(u']'), 1 + 1023u);
}

class DebugLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    m_handle = ::dlopen(kLibrary, RTLD_NOW);
    ASSERT_NE(m_handle, nullptr) << ::dlerror();
  }
  void TearDown() override {
    if (m_handle != nullptr) ::dlclose(m_handle);
  }
  template <typename F>
  F Entry(const char* name) {
    return reinterpret_cast<F>(::dlsym(m_handle, name));
  }
  size_t RecordCount() { return Entry<size_t (*)()>("TestDebugLib_RecordCount")(); }
  std::u16string Record(size_t i) { return Entry<const char16_t* (*)(size_t)>("TestDebugLib_Record")(i); }
  std::u16string Module(size_t i) { return Entry<const char16_t* (*)(size_t)>("TestDebugLib_Module")(i); }
  const char* InitArgument(size_t i) {
    return Entry<const char* (*)(size_t)>("TestDebugLib_InitArgument")(i);
  }

  static constexpr const char* kLibrary = VELMORA_TEST_BIN_DIR "/libvelmora_test_debuglib.so";
  velmora::test::ScopedTestEnvironment m_env;
  void* m_handle = nullptr;
};

TEST_F(DebugLibrary, StaysUnloadedWhenTheFlagSaysSoOrTheFileIsMissing) {
  std::u16string library = platform::Utf8ToUtf16(kLibrary);
  EXPECT_FALSE(InitDebugLogW(u"", library.c_str(), u"T", true));
  EXPECT_EQ(InitArgument(0), nullptr);
  EXPECT_FALSE(InitDebugLogW(u"", u"/nonexistent/libnothing.so", u"T", false));
  EXPECT_FALSE(InitDebugLogW(u"", u"", u"T", false));
}

TEST_F(DebugLibrary, IsLoadedByFileNameAndGivenTheBuildDateAndTime) {
  std::u16string library = platform::Utf8ToUtf16(kLibrary);
  EXPECT_TRUE(InitDebugLogW(u"debug.ini", library.c_str(), u"T", false));
  ASSERT_NE(InitArgument(0), nullptr);
  EXPECT_STREQ(InitArgument(0), "debug.ini");
  EXPECT_TRUE(HasShape(InitArgument(1), "Aaa _9 9999")) << InitArgument(1);
  EXPECT_TRUE(HasShape(InitArgument(2), "99:99:99")) << InitArgument(2);
}

TEST_F(DebugLibrary, MissingHostNoteReachesTheLibraryOnce) {
  std::u16string library = platform::Utf8ToUtf16(kLibrary);
  ASSERT_TRUE(InitDebugLogW(u"", library.c_str(), u"HVBotAlertTray", false));
  for (int i = 0; i < 3; ++i) {
    DebugLogHostGate().MarkReachable();
    DebugTraceW(8, u"TestModule", __LINE__, u"[Test] record %d", i);
  }
  DebugLogHostGate().MarkReachable();
  DebugTraceA(8, "TestModule", __LINE__, "[Test] narrow");
  ASSERT_EQ(RecordCount(), 1u);
  EXPECT_EQ(Record(0), u"[HVBotAlertTray][" + platform::Utf8ToUtf16(platform::ModuleBaseName()) +
                           u"]Need to Start LogHost for turn on debug log.");
  EXPECT_EQ(Module(0), u"logcl_Command");
}

TEST_F(DebugLibrary, LocalTracesGoOnlyToTheLibrary) {
  DebugTraceLocalW(5, u"M", 1, u"dropped without a library");
  std::u16string library = platform::Utf8ToUtf16(kLibrary);
  ASSERT_TRUE(InitDebugLogW(u"", library.c_str(), u"T", false));
  size_t before = RecordCount();  // the banner found no host, which the library was told
  DebugTraceLocalW(5, u"Mod", 1, u"local %d", 5);
  ASSERT_EQ(RecordCount(), before + 1);
  EXPECT_EQ(Record(before), u"[T][" + platform::Utf8ToUtf16(platform::ModuleBaseName()) + u"]local 5");
  EXPECT_EQ(Module(before), u"Mod");
}

TEST(DebugTrace, KeepsTheCallersLastError) {
  velmora::test::ScopedTestEnvironment env;
  platform::SetLastError(1234);
  DebugTraceW(5, u"M", 1, u"x");
  DebugTraceA(5, "M", 1, "x");
  EXPECT_EQ(platform::GetLastError(), 1234u);
}

TEST(MakeRequestId, CarriesThreadIdAboveTheTickCount) {
  int32_t id = MakeRequestId();
  EXPECT_EQ(static_cast<uint32_t>(id) >> 16, platform::GetCurrentThreadId() & 0xFFFFu);
}

}  // namespace
