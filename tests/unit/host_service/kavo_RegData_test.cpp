#include "kavo_RegData.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "AgentConfig.h"
#include "platform/error.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "registry_values.h"
#include "test_env.h"
#include "tls_server.h"

namespace {

using namespace platform;
using velmora::test::PutDword;
using velmora::test::PutProductKey;
using velmora::test::PutText;
using velmora::test::ScopedTestEnvironment;

struct StoredValue {
  uint32_t error = ERROR_SUCCESS;
  uint32_t type = REG_NONE;
  std::vector<uint8_t> data;
};

StoredValue Read(const char16_t* keyPath, const char16_t* name) {
  StoredValue value;
  RegKey key;
  value.error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key);
  if (value.error != ERROR_SUCCESS) return value;
  uint32_t size = 0;
  value.error = RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size);
  if (value.error != ERROR_SUCCESS) return value;
  value.data.resize(size);
  value.error = RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size);
  return value;
}

uint32_t AsDword(const StoredValue& value) {
  uint32_t number = 0;
  EXPECT_EQ(value.data.size(), sizeof(number));
  if (value.data.size() == sizeof(number)) std::memcpy(&number, value.data.data(), sizeof(number));
  return number;
}

class RegDataTest : public ::testing::Test {
 protected:
  ScopedTestEnvironment env;
  CRegData reg;
};

TEST_F(RegDataTest, LanguageIdMapsToTheHighestBitPosition) {
  struct Case {
    uint32_t lang;
    uint32_t backend;
  };
  const Case cases[] = {{0x400, 10}, {3, 1}, {1, 0}, {2, 1}, {8, 3}, {0, 0}, {0x80000000u, 31}, {0xFFFFFFFFu, 31}};
  PutProductKey(kProductKeyPath);
  ASSERT_EQ(reg.Initial(), ERROR_SUCCESS);
  for (const Case& c : cases) {
    PutDword(kProductKeyPath, u"Lang", c.lang);
    ASSERT_EQ(reg.GetLanguageID(), ERROR_SUCCESS);
    EXPECT_EQ(reg.LanguageIDMapToBackendLanguageID(), ERROR_SUCCESS);
    EXPECT_EQ(reg.LanguageID(), c.lang);
    EXPECT_EQ(reg.BackendLanguageID(), c.backend) << "Lang " << c.lang;
  }
}

TEST_F(RegDataTest, StartUpReadsFailWithTheRegistrysCode) {
  EXPECT_EQ(reg.Initial(), ERROR_FILE_NOT_FOUND);  // no product key

  PutDword(kProductKeyPath, u"Other", 1);
  ASSERT_EQ(reg.Initial(), ERROR_SUCCESS);
  EXPECT_EQ(reg.GetLanguageID(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg.GetInstallQuororNot(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg.GetBlockingOrNot(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg.Blocking(), 1u) << "a missing Blocking means blocking";

  // A number stored as text is not a number, even when its bytes would fit.
  PutText(kProductKeyPath, u"Lang", u"8");
  EXPECT_EQ(reg.GetLanguageID(), ERROR_INVALID_DATA);
  PutText(kProductKeyPath, u"Lang", u"1024");
  EXPECT_EQ(reg.GetLanguageID(), ERROR_MORE_DATA);
}

TEST_F(RegDataTest, StartUpReadsTakeTheStoredValues) {
  PutProductKey(kProductKeyPath);
  PutDword(kProductKeyPath, u"Blocking", 0);
  PutDword(kProductKeyPath, u"InstQuor", 1);
  PutDword(kProductKeyPath, u"OVUID", 4711);
  ASSERT_EQ(reg.Initial(), ERROR_SUCCESS);
  EXPECT_EQ(reg.GetBlockingOrNot(), ERROR_SUCCESS);
  EXPECT_EQ(reg.GetInstallQuororNot(), ERROR_SUCCESS);
  EXPECT_EQ(reg.Blocking(), 0u);
  EXPECT_EQ(reg.InstQuor(), 1u);
  uint32_t ovuid = 0;
  EXPECT_EQ(reg.GetOVUID(ovuid), ERROR_SUCCESS);
  EXPECT_EQ(ovuid, 4711u);
}

TEST_F(RegDataTest, SetProxyPortWritesThePortAndAnEmptyProcess) {
  struct Case {
    uint32_t given;
    uint32_t stored;
  };
  const Case cases[] = {{0, 8080}, {3128, 3128}};
  PutDword(kProxyRedirectKeyPath, u"Other", 7);
  for (const Case& c : cases) {
    ASSERT_EQ(reg.SetProxyPort(c.given), ERROR_SUCCESS);
    EXPECT_EQ(AsDword(Read(kProxyRedirectKeyPath, u"port")), c.stored);
    StoredValue process = Read(kProxyRedirectKeyPath, u"process");
    ASSERT_EQ(process.error, ERROR_SUCCESS);
    EXPECT_EQ(process.type, REG_SZ);
    EXPECT_EQ(process.data, (std::vector<uint8_t>{0, 0})) << "just the terminator";
  }
}

TEST_F(RegDataTest, SetProxyPortNeedsTheProxysKey) {
  EXPECT_EQ(reg.SetProxyPort(8080), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Read(kProxyRedirectKeyPath, u"port").error, ERROR_FILE_NOT_FOUND) << "the key is not created";
}

TEST_F(RegDataTest, VersionReadIsBoundedByItsTwentyBytes) {
  struct Case {
    std::u16string stored;
    uint32_t error;
    std::string userAgent;
  };
  const Case cases[] = {
      {u"1.0.0.1", ERROR_SUCCESS, "Halvard Velmora 1.0.0.1"},
      {u"123456789", ERROR_SUCCESS, "Halvard Velmora 123456789"},
      {u"1234567890", ERROR_MORE_DATA, "Halvard Velmora "},
  };
  PutProductKey(kProductKeyPath);
  ASSERT_EQ(reg.Initial(), ERROR_SUCCESS);
  for (const Case& c : cases) {
    PutText(kProductKeyPath, u"Version", c.stored);
    char16_t version[kVersionChars] = u"stale";
    EXPECT_EQ(reg.GetVersion(version), c.error);
    EXPECT_EQ(std::u16string(version), c.error == ERROR_SUCCESS ? c.stored : u"");
    EXPECT_EQ(MakeUserAgent(reg), c.userAgent);
  }
}

TEST_F(RegDataTest, UserAgentWithoutTheValuesIsABlank) {
  PutDword(kProductKeyPath, u"Lang", 1);
  ASSERT_EQ(reg.Initial(), ERROR_SUCCESS);
  EXPECT_EQ(MakeUserAgent(reg), " ");
}

TEST_F(RegDataTest, ProductNameIsCutToTheNarrowLimitOnACharacterBoundary) {
  PutProductKey(kProductKeyPath);
  // 255 two-byte characters: 510 bytes in the system code page, cut below 256 bytes.
  PutText(kProductKeyPath, u"ProductName", std::u16string(255, u'\u00e9'));
  ASSERT_EQ(reg.Initial(), ERROR_SUCCESS);
  std::string agent = MakeUserAgent(reg);
  EXPECT_EQ(agent, std::string(127 * 2, '\0').replace(0, 254, platform::Utf16ToUtf8(std::u16string(127, u'\u00e9'))) +
                       " 1.0.0.1");
}

TEST_F(RegDataTest, MissingReportTimestampIsCreatedAsZero) {
  PutProductKey(kProductKeyPath);
  ASSERT_EQ(reg.Initial(), ERROR_SUCCESS);
  uint32_t timestamp = 99;
  EXPECT_EQ(reg.GetLastVLMtimestamp(timestamp), ERROR_SUCCESS);
  EXPECT_EQ(timestamp, 0u);
  EXPECT_EQ(AsDword(Read(kProductKeyPath, u"VLMreporttimestamp")), 0u);

  ASSERT_EQ(reg.SetLastVLMtimestamp(1700000000), ERROR_SUCCESS);
  EXPECT_EQ(reg.GetLastVLMtimestamp(timestamp), ERROR_SUCCESS);
  EXPECT_EQ(timestamp, 1700000000u);
}

TEST_F(RegDataTest, DnsQuerySwitchLivesInTheUrlFiltersKey) {
  uint32_t enabled = 5;
  EXPECT_EQ(reg.GetURLDNSQuery(enabled), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg.SetURLDNSQuery(1), ERROR_FILE_NOT_FOUND) << "the proxy's installer creates the key";
  EXPECT_EQ(enabled, 5u);

  PutDword(kUrlFilterConfigKeyPath, u"Other", 0);
  EXPECT_EQ(reg.GetURLDNSQuery(enabled), ERROR_FILE_NOT_FOUND) << "key without the value";
  ASSERT_EQ(reg.SetURLDNSQuery(1), ERROR_SUCCESS);
  EXPECT_EQ(reg.GetURLDNSQuery(enabled), ERROR_SUCCESS);
  EXPECT_EQ(enabled, 1u);
}

// ---- libcurl handles against a local HTTPS server ----

class CurlHandleTest : public RegDataTest {
 protected:
  void SetUp() override {
    PutProductKey(kProductKeyPath);
    ASSERT_EQ(g_RegData.Initial(), ERROR_SUCCESS);
    folder = env.Root() + "/program/";
    std::filesystem::create_directories(folder + kConfigFolderName);
    InitConfig(folder);
    ASSERT_TRUE(server.Start(env.Root()));
  }

  void SetBackend(const char* key, const std::string& value) {
    ASSERT_TRUE(WritePrivateProfileStringA("Backend Server", key, value.c_str(), ConfigFilePath().c_str()));
    LoadConfig();
  }

  // The curl result of one post of "ping".
  CURLcode Post(std::string& received) {
    CurlHandle handle;
    EXPECT_EQ(CreateCurlHandle(handle, true, received), CURLE_OK);
    if (!handle) return CURLE_FAILED_INIT;
    std::string url = "https://localhost:" + std::to_string(server.Port()) + "/echo";
    curl_easy_setopt(handle.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle.get(), CURLOPT_POSTFIELDS, "ping");
    return curl_easy_perform(handle.get());
  }

  std::string folder;
  velmora::test::TlsEchoServer server;
};

TEST_F(CurlHandleTest, UnknownCertificateIsRefusedByDefault) {
  std::string received;
  EXPECT_EQ(Post(received), CURLE_PEER_FAILED_VERIFICATION);
  EXPECT_TRUE(received.empty());
}

TEST_F(CurlHandleTest, CertificateFromCAFileIsTrusted) {
  SetBackend("CAFile", server.CertificateFile());
  std::string received;
  ASSERT_EQ(Post(received), CURLE_OK);
  EXPECT_EQ(received, "POST ping Halvard Velmora 1.0.0.1");
}

TEST_F(CurlHandleTest, VerifyPeerZeroTurnsVerificationOff) {
  SetBackend("VerifyPeer", "0");
  std::string received;
  ASSERT_EQ(Post(received), CURLE_OK);
  EXPECT_EQ(received, "POST ping Halvard Velmora 1.0.0.1");
}

}  // namespace
