// The local web proxy's stand-in libraries and the hvproxy-notify tool.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "HvProxy.h"
#include "HvpxCfg.h"
#include "platform/error.h"
#include "platform/pipe.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "test_env.h"

namespace {

using namespace platform;
using velmora::test::ScopedTestEnvironment;

const std::string kNotifyTool = std::string(VELMORA_DIST_DIR) + "/hvproxy-notify";

// Runs the tool and answers its exit code.
int RunNotifyTool(const std::vector<std::string>& arguments) {
  std::string command = "\"" + kNotifyTool + "\"";
  for (const std::string& argument : arguments) command += " \"" + argument + "\"";
  pid_t pid = 0;
  if (LaunchProcess(kNotifyTool, command, LaunchOptions{}, &pid) != ERROR_SUCCESS) return -1;
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

bool SendRaw(const void* data, size_t size) {
  std::unique_ptr<PipeConnection> pipe = PipeConnection::Connect(kHvpxNotifyPipe);
  size_t written = 0;
  return pipe && pipe->Write(data, size, &written);
}

// What the callback saw, shared with the test's thread.
struct Received {
  std::mutex lock;
  std::vector<std::u16string> urls;
  std::vector<uint32_t> scores, protocols;
  std::thread::id thread;
  std::atomic<int> count{0};
};
Received g_received;

void Record(uint32_t, uint32_t protocol, uint32_t, uintptr_t, const HVPX_URLF_NOTIFY* notify) {
  std::lock_guard<std::mutex> lock(g_received.lock);
  g_received.urls.emplace_back(notify->URL);
  g_received.scores.push_back(notify->Score);
  g_received.protocols.push_back(protocol);
  g_received.thread = std::this_thread::get_id();
  ++g_received.count;
}

bool WaitForCount(int count) {
  return velmora::test::WaitUntil([count] { return g_received.count.load() >= count; }, 10000);
}

class HvProxyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::lock_guard<std::mutex> lock(g_received.lock);
    g_received.urls.clear();
    g_received.scores.clear();
    g_received.protocols.clear();
    g_received.count = 0;
  }
  void TearDown() override { HvpxResetSpecificNotifyEx(&Record); }
  ScopedTestEnvironment env;
};

TEST_F(HvProxyTest, ConfigurationStartsFromTheDefaultRecord) {
  HVPX_URLF_CONFIG config;
  std::memset(&config, 0xAB, sizeof(config));
  EXPECT_EQ(HvpxUrlfReadConfig(&config), 0);
  EXPECT_EQ(config.CredScrThreshold, kHvpxDefaultCredScrThreshold);
  EXPECT_EQ(config.ReportOnlyPages, 0u);
  EXPECT_EQ(config.ReportOnlyDownloads, 0u);
  EXPECT_EQ(config.Reserved0[0], 0u);
}

TEST_F(HvProxyTest, ConfigurationRoundTripsEveryByte) {
  HVPX_URLF_CONFIG written;
  auto* bytes = reinterpret_cast<uint8_t*>(&written);
  for (size_t i = 0; i < sizeof(written); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
  ASSERT_EQ(HvpxUrlfWriteConfig(&written), 0);
  HVPX_URLF_CONFIG read;
  ASSERT_EQ(HvpxUrlfReadConfig(&read), 0);
  EXPECT_EQ(std::memcmp(&read, &written, sizeof(read)), 0);
}

TEST_F(HvProxyTest, StoredRecordOfTheWrongSizeGivesTheDefault) {
  RegKey key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kHvpxUrlFilterKeyPath, KEY_ALL_ACCESS, &key, nullptr), ERROR_SUCCESS);
  for (size_t size : {size_t{4}, sizeof(HVPX_URLF_CONFIG) + 1}) {
    std::vector<uint8_t> data(size, 0xFF);
    ASSERT_EQ(RegSetValueExW(key, kHvpxUrlFilterConfigValue, 0, REG_BINARY, data.data(),
                             static_cast<uint32_t>(data.size())),
              ERROR_SUCCESS);
    HVPX_URLF_CONFIG config;
    EXPECT_EQ(HvpxUrlfReadConfig(&config), static_cast<int32_t>(ERROR_INVALID_DATA)) << size;
    EXPECT_EQ(config.CredScrThreshold, kHvpxDefaultCredScrThreshold);
  }
  EXPECT_EQ(HvpxUrlfReadConfig(nullptr), static_cast<int32_t>(ERROR_INVALID_PARAMETER));
}

TEST_F(HvProxyTest, EnableSwitchIsOnUntilTurnedOff) {
  EXPECT_NE(HvpxUrlfIsEnabled(), 0);
  const struct {
    uint32_t value;
    bool on;
  } cases[] = {{0, false}, {7, true}, {1, true}, {0, false}};
  for (const auto& c : cases) {
    ASSERT_EQ(HvpxUrlfEnable(c.value), 0);
    EXPECT_EQ(HvpxUrlfIsEnabled() != 0, c.on) << c.value;
  }
}

TEST_F(HvProxyTest, ProxySettingIsKeptWhole) {
  HVPX_PROXY_SETTING setting;
  std::memset(&setting, 0, sizeof(setting));
  setting.UseProxy = 1;
  std::strcpy(setting.Host, "proxy.example");
  setting.Port = 3128;
  ASSERT_EQ(HvpxUrlfWriteProxy(&setting), 0);
  RegKey key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kHvpxProxyKeyPath, 0, KEY_READ, &key), ERROR_SUCCESS);
  HVPX_PROXY_SETTING stored;
  uint32_t size = sizeof(stored);
  ASSERT_EQ(RegQueryValueExW(key, kHvpxProxySettingValue, nullptr, nullptr, reinterpret_cast<uint8_t*>(&stored), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(size, sizeof(stored));
  EXPECT_EQ(std::memcmp(&stored, &setting, sizeof(stored)), 0);
}

TEST_F(HvProxyTest, RatingsFromTheToolReachTheCallbackOnTheLibrarysThread) {
  ASSERT_EQ(HvpxSetNotifyEx(&Record), 0);
  ASSERT_EQ(HvpxSetNotifyEx(&Record), 0) << "a second registration changes nothing";
  EXPECT_EQ(RunNotifyTool({"http://bad.example/", "40"}), 0);
  EXPECT_EQ(RunNotifyTool({"http://other.example/", "71", "2"}), 0);
  ASSERT_TRUE(WaitForCount(2));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // a duplicate would show here
  std::lock_guard<std::mutex> lock(g_received.lock);
  EXPECT_EQ(g_received.urls, (std::vector<std::u16string>{u"http://bad.example/", u"http://other.example/"}));
  EXPECT_EQ(g_received.scores, (std::vector<uint32_t>{40, 71}));
  EXPECT_EQ(g_received.protocols, (std::vector<uint32_t>{3, 2}));
  EXPECT_NE(g_received.thread, std::this_thread::get_id());
}

TEST_F(HvProxyTest, MalformedMessagesAreDroppedAndListeningGoesOn) {
  ASSERT_EQ(HvpxSetNotifyEx(&Record), 0);
  HVPX_NOTIFY_MESSAGE message;
  std::memset(&message, 'A', sizeof(message));  // no terminator anywhere
  message.Protocol = 3;
  EXPECT_TRUE(SendRaw(&message, sizeof(message) - 1));
  std::vector<char> longer(sizeof(message) + 10, 'B');
  EXPECT_TRUE(SendRaw(longer.data(), longer.size()));
  EXPECT_TRUE(SendRaw(&message, sizeof(message)));
  ASSERT_TRUE(WaitForCount(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::lock_guard<std::mutex> lock(g_received.lock);
  ASSERT_EQ(g_received.count.load(), 1);
  EXPECT_EQ(g_received.urls[0].size(), 649u) << "the address is cut inside its field";
}

std::atomic<bool> g_slowEntered{false};
std::atomic<bool> g_slowFinished{false};

void Slow(uint32_t, uint32_t, uint32_t, uintptr_t, const HVPX_URLF_NOTIFY*) {
  g_slowEntered = true;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  g_slowFinished = true;
}

TEST_F(HvProxyTest, NoCallbackRunsAfterResetReturns) {
  ASSERT_EQ(HvpxSetNotifyEx(&Slow), 0);
  ASSERT_EQ(RunNotifyTool({"http://slow.example/", "10"}), 0);
  for (int i = 0; i < 1000 && !g_slowEntered; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(g_slowEntered);
  EXPECT_EQ(HvpxResetSpecificNotifyEx(&Slow), 0);
  EXPECT_TRUE(g_slowFinished) << "the call in progress had ended";
  EXPECT_EQ(RunNotifyTool({"http://late.example/", "10"}), 1) << "nobody listens any more";
  EXPECT_EQ(HvpxResetSpecificNotifyEx(&Slow), static_cast<int32_t>(ERROR_FILE_NOT_FOUND));
}

TEST_F(HvProxyTest, ToolRefusesBadArguments) {
  ASSERT_EQ(HvpxSetNotifyEx(&Record), 0);
  const std::vector<std::vector<std::string>> bad = {
      {"http://a/"},
      {"http://a/", "ten"},
      {"http://a/", "-1"},
      {"http://a/", "4294967296"},
      {"http://a/", "10", "x"},
      {"", "10"},
      {std::string(650, 'u'), "10"},
      {"http://a/", "10", "3", "extra"},
  };
  for (const auto& arguments : bad) EXPECT_EQ(RunNotifyTool(arguments), 1) << arguments.size();
  EXPECT_EQ(RunNotifyTool({std::string(649, 'u'), "4294967295"}), 0);
  ASSERT_TRUE(WaitForCount(1));
  std::lock_guard<std::mutex> lock(g_received.lock);
  EXPECT_EQ(g_received.count.load(), 1);
  EXPECT_EQ(g_received.scores[0], 4294967295u);
}

}  // namespace
