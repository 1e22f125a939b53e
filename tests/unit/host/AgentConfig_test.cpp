#include "AgentConfig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "StoredSecret.h"
#include "platform/event.h"
#include "platform/guid.h"
#include "platform/profile.h"
#include "test_env.h"

namespace {

using velmora::test::ReadFile;
using velmora::test::ScopedTestEnvironment;
using velmora::test::WriteFile;

struct Entry {
  std::string section, key, value;
  bool operator==(const Entry&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Entry& e) {
  return out << "[" << e.section << "] " << e.key << "=" << e.value;
}

std::vector<Entry> ParseIni(const std::string& text) {
  std::vector<Entry> entries;
  std::istringstream in(text);
  std::string line, section;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line.front() == '[') {
      section = line.substr(1, line.find(']') - 1);
    } else if (size_t eq = line.find('='); eq != std::string::npos) {
      entries.push_back({section, line.substr(0, eq), line.substr(eq + 1)});
    }
  }
  return entries;
}

bool IsClientGuid(const std::string& text) {
  return text.size() == 32 &&
         text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::string Scrambled(const std::string& plain) {
  char stored[256];
  EXPECT_EQ(ScrambleSecret(plain.c_str(), stored, sizeof stored), 1);
  return stored;
}

// Waits (bounded) until the published settings satisfy the condition.
bool EventuallyConfig(const std::function<bool(const CConfigSettings&)>& condition) {
  return velmora::test::WaitUntil([&] { return condition(*GetConfig()); }, 20000);
}

class AgentConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_programFolder = m_env.Root() + "/program/";
    std::filesystem::create_directories(m_programFolder + "Config");
  }

  std::string ConfigFile() const { return m_programFolder + "Config/Config.ini"; }

  // Runs MonitorConfigDirectory on its own thread; its result after the stop event.
  std::future<int> StartMonitor() {
    m_stop = platform::Event::Create(true, false);
    return std::async(std::launch::async, [this] { return MonitorConfigDirectory(m_stop.get()); });
  }

  ScopedTestEnvironment m_env;
  std::string m_programFolder;
  std::unique_ptr<platform::Event> m_stop;
};

TEST_F(AgentConfigTest, FirstStartWritesEveryKeyWithItsFirstRunValue) {
  ASSERT_EQ(InitConfig(m_programFolder), 0);
  EXPECT_EQ(ConfigFilePath(), ConfigFile());

  std::vector<Entry> entries = ParseIni(ReadFile(ConfigFile()));
  ASSERT_GT(entries.size(), 2u);
  std::string guid = entries[2].value;
  EXPECT_TRUE(IsClientGuid(guid)) << guid;
  // Keys written later into a section that exists already join that section.
  const std::vector<Entry> expected = {
      {"Operation", "NetMonitorInterval", "3000"},
      {"Operation", "DebugLevel", "2"},
      {"Operation", "GUID", guid},
      {"Operation", "Version", "1.0"},
      {"Operation", "UseProxy", "0"},
      {"Operation", "AlertMe", "1"},
      {"Operation", "PurgeLogDay", "45"},
      {"Operation", "SendToBackEndInterval", "10000"},
      {"Operation", "CheckHttpIncoming", "1"},
      {"Operation", "CheckSmtpOutgoing", "1"},
      {"Operation", "CheckIrcRequest", "1"},
      {"Operation", "CheckDnsQuery", "1"},
      {"Backend Server", "Server", kDefaultBackendServer},
      {"Backend Server", "Port", "443"},
      {"Backend Server", "Object", "/botdetect/botdetect.php"},
      {"Backend Server", "AlertObject", "/botdetect/BotAlertMessage/BotAlertMessage.htm"},
      {"Backend Server", "CAFile", ""},
      {"Backend Server", "VerifyPeer", "1"},
      {"Proxy Server", "Source", "1"},
      {"Proxy Server", "Server", ""},
      {"Proxy Server", "Port", "0"},
      {"Proxy Server", "UserName", ""},
      {"Proxy Server", "Password", ""},
      {"URLFilter", "WebQueryCount", "0"},
      {"URLFilter", "WebThreatCount", "0"},
  };
  EXPECT_EQ(entries, expected);

  CConfigSettings loaded;
  loaded.GUID = guid;
  EXPECT_EQ(*GetConfig(), loaded);
  EXPECT_EQ(GetOsVersion().dwPlatformId, platform::VER_PLATFORM_WIN32_NT);
}

TEST_F(AgentConfigTest, AnEmptyOrMissingGuidIsMadeAndWrittenBack) {
  for (const char* file : {"[Operation]\nGUID=\nAlertMe=0\n", "[Operation]\nAlertMe=0\n"}) {
    SCOPED_TRACE(file);
    WriteFile(ConfigFile(), file);
    ASSERT_EQ(InitConfig(m_programFolder), 0);
    std::vector<Entry> entries = ParseIni(ReadFile(ConfigFile()));
    // Only the identifier is added; an existing file is not filled up with first-run values.
    ASSERT_EQ(entries.size(), 2u);
    std::string guid = GetConfig()->GUID;
    EXPECT_TRUE(IsClientGuid(guid)) << guid;
    EXPECT_TRUE((entries[0] == Entry{"Operation", "GUID", guid}) || (entries[1] == Entry{"Operation", "GUID", guid}));
    EXPECT_EQ(GetConfig()->AlertMe, 0);
  }
}

TEST_F(AgentConfigTest, AReloadReplacesAGuidThatWasEmptied) {
  ASSERT_EQ(InitConfig(m_programFolder), 0);
  std::string first = GetConfig()->GUID;
  ASSERT_TRUE(platform::WritePrivateProfileStringA("Operation", "GUID", "", ConfigFile().c_str()));
  LoadConfig();
  std::string second = GetConfig()->GUID;
  EXPECT_TRUE(IsClientGuid(second)) << second;
  EXPECT_NE(second, first);
  char stored[64] = {};
  platform::GetPrivateProfileStringA("Operation", "GUID", "", stored, sizeof stored, ConfigFile().c_str());
  EXPECT_EQ(std::string(stored), second);
}

TEST_F(AgentConfigTest, MissingKeysReadAsTheirDefaults) {
  WriteFile(ConfigFile(), "[Operation]\nGUID=0123456789abcdef0123456789abcdef\n");
  ASSERT_EQ(InitConfig(m_programFolder), 0);
  CConfigSettings expected;
  expected.GUID = "0123456789abcdef0123456789abcdef";
  EXPECT_EQ(*GetConfig(), expected);
  EXPECT_EQ(GetConfig()->PurgeLogDay, 45);
  EXPECT_EQ(GetConfig()->ProxySource, 1);
  EXPECT_EQ(GetConfig()->BackendPort, 443);
  EXPECT_EQ(GetConfig()->VerifyPeer, 1);
}

TEST_F(AgentConfigTest, EveryKeyIsReadAsItStandsAndTextsAreCutToTheirReadSize) {
  const std::string longServer(300, 's');
  const std::string longGuid(70, 'g');
  WriteFile(ConfigFile(),
            "[Operation]\nNetMonitorInterval=0\nGUID=" + longGuid +
                "\nVersion=1.2.3.4.5.6.7\nUseProxy=1\nAlertMe=0\nPurgeLogDay=7\nSendToBackEndInterval=-5\n"
                "CheckHttpIncoming=0\nCheckSmtpOutgoing=2\nCheckIrcRequest=0\nCheckDnsQuery=0\n"
                "[Backend Server]\nServer=" + longServer +
                "\nPort=8443\nObject=/o\nAlertObject=/a\nCAFile=/etc/ca.pem\nVerifyPeer=0\n"
                "[Proxy Server]\nSource=2\nServer=proxy.lan\nPort=3128\nUserName=ann\nPassword=" +
                Scrambled("s3cret!pass") + "\n");
  ASSERT_EQ(InitConfig(m_programFolder), 0);

  CConfigSettings expected;
  expected.NetMonitorInterval = 0;
  expected.GUID = longGuid.substr(0, 63);
  expected.Version = "1.2.3.4.5";
  expected.UseProxy = 1;
  expected.AlertMe = 0;
  expected.PurgeLogDay = 7;
  expected.SendToBackEndInterval = -5;
  expected.CheckHttpIncoming = 0;
  expected.CheckSmtpOutgoing = 2;
  expected.CheckIrcRequest = 0;
  expected.CheckDnsQuery = 0;
  expected.BackendServer = longServer.substr(0, 255);
  expected.BackendPort = 8443;
  expected.BackendObject = "/o";
  expected.AlertObject = "/a";
  expected.CAFile = "/etc/ca.pem";
  expected.VerifyPeer = 0;
  expected.ProxySource = 2;
  expected.ProxyServer = "proxy.lan";
  expected.ProxyPort = 3128;
  expected.ProxyUserName = "ann";
  expected.ProxyPassword = "s3cret!pass";
  EXPECT_EQ(*GetConfig(), expected);
}

TEST_F(AgentConfigTest, TheStoredPasswordIsHeldInPlain) {
  struct Case { std::string stored, plain; };
  const Case cases[] = {
      {Scrambled("hunter2"), "hunter2"},
      {"", ""},
      {"hunter2", ""},  // written in plain by hand: not taken over
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    WriteFile(ConfigFile(), "[Operation]\nGUID=x\n[Proxy Server]\nPassword=" + c.stored + "\n");
    ASSERT_EQ(InitConfig(m_programFolder), 0);
    EXPECT_EQ(GetConfig()->ProxyPassword, c.plain);
  }
}

TEST_F(AgentConfigTest, AFailedFirstRunWriteIsReportedAndTheDefaultsHold) {
  std::filesystem::remove_all(m_programFolder + "Config");
  EXPECT_NE(InitConfig(m_programFolder), 0);
  CConfigSettings expected;
  expected.GUID = GetConfig()->GUID;
  EXPECT_EQ(*GetConfig(), expected);
}

TEST(MakeClientGuidTest, FreshIdentifiersAreThirtyTwoLowerCaseDigits) {
  std::string a = MakeClientGuid();
  std::string b = MakeClientGuid();
  EXPECT_TRUE(IsClientGuid(a)) << a;
  EXPECT_TRUE(IsClientGuid(b)) << b;
  EXPECT_NE(a, b);
}

TEST(MakeClientGuidTest, AlreadyInitialisedComponentLibraryGivesTheFallback) {
  ASSERT_EQ(platform::CoInitialize(), 0);
  EXPECT_EQ(MakeClientGuid(), "1111");
  EXPECT_EQ(MakeClientGuid(), "1111");
  // The caller's one uninitialisation ends it: the attempts above left no count behind.
  platform::CoUninitialize();
  EXPECT_TRUE(IsClientGuid(MakeClientGuid()));
}

TEST_F(AgentConfigTest, WritesByOtherPartiesTakeEffectWithoutARestart) {
  ASSERT_EQ(InitConfig(m_programFolder), 0);
  std::future<int> monitor = StartMonitor();

  std::string helper = std::string(VELMORA_TEST_BIN_DIR) + "/host_profile_write_helper";
  std::string command = helper + " '" + ConfigFile() + "' Operation PurgeLogDay 12";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_TRUE(EventuallyConfig([](const CConfigSettings& c) { return c.PurgeLogDay == 12; }));

  // An editor saving in place: the file is empty for a moment before its text is written. The
  // service must not take that moment for a file without identifier and write over the save.
  {
    std::ofstream editor(ConfigFile(), std::ios::binary | std::ios::trunc);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    editor << "[Operation]\nGUID=feedfacefeedfacefeedfacefeedface\nAlertMe=0\n";
  }
  EXPECT_TRUE(EventuallyConfig([](const CConfigSettings& c) { return c.AlertMe == 0 && c.PurgeLogDay == 45; }))
      << ReadFile(ConfigFile());
  EXPECT_EQ(GetConfig()->GUID, "feedfacefeedfacefeedfacefeedface");

  // The service's own writes reload as well.
  ASSERT_TRUE(platform::WritePrivateProfileStringA("Backend Server", "Port", "9443", ConfigFile().c_str()));
  EXPECT_TRUE(EventuallyConfig([](const CConfigSettings& c) { return c.BackendPort == 9443; }));

  m_stop->Set();
  EXPECT_EQ(monitor.get(), 0);
}

TEST_F(AgentConfigTest, MonitorEndsWithMinusOneWithoutAConfigFolder) {
  ASSERT_EQ(InitConfig(m_programFolder), 0);
  std::filesystem::remove_all(m_programFolder + "Config");
  std::future<int> monitor = StartMonitor();
  EXPECT_EQ(monitor.get(), -1);
}

TEST_F(AgentConfigTest, ReadersOnOtherThreadsSurviveReloads) {
  ASSERT_EQ(InitConfig(m_programFolder), 0);
  std::future<int> monitor = StartMonitor();
  const std::string padding(200, 'p');

  std::atomic<bool> done{false};
  std::atomic<int> bad{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 4; ++r) {
    readers.emplace_back([&] {
      while (!done) {
        std::shared_ptr<const CConfigSettings> config = GetConfig();
        const std::string& server = config->ProxyServer;
        bool wellFormed = server.empty() || (server.rfind("proxy-", 0) == 0 && server.size() > padding.size());
        if (!wellFormed || !IsClientGuid(config->GUID)) ++bad;
      }
    });
  }
  std::thread reloader([&] {
    while (!done) LoadConfig();
  });
  for (int i = 0; i < 200; ++i) {
    std::string value = "proxy-" + std::to_string(i) + padding;
    EXPECT_TRUE(platform::WritePrivateProfileStringA("Proxy Server", "Server", value.c_str(), ConfigFile().c_str()));
  }
  EXPECT_TRUE(EventuallyConfig([](const CConfigSettings& c) { return c.ProxyServer.rfind("proxy-199", 0) == 0; }));
  done = true;
  reloader.join();
  for (std::thread& reader : readers) reader.join();
  m_stop->Set();
  EXPECT_EQ(monitor.get(), 0);
  EXPECT_EQ(bad, 0);
}

}  // namespace
