#include "kavo_RegData.h"

#include <bit>
#include <cstring>
#include <string_view>

#include "AgentConfig.h"
#include "dl_DebugLog.h"
#include "platform/error.h"
#include "platform/text.h"

CRegData g_RegData;

namespace {

constexpr char16_t kModule[] = u"kavo_RegData";

constexpr size_t kVersionNarrowBytes = 50;
constexpr size_t kProductNameNarrowBytes = 256;
constexpr size_t kUserAgentBytes = 512;

int AsInt(uint32_t value) { return static_cast<int>(value); }

// Traces a failed registry call at the caller's line and passes its code on.
uint32_t TraceFailure(int line, const char16_t* message, uint32_t error) {
  if (error != platform::ERROR_SUCCESS) DebugTraceW(5, kModule, line, message, AsInt(error));
  return error;
}

// A 32-bit number; a value of another type or size is not taken for one.
uint32_t QueryDword(const platform::RegKey& key, const char16_t* name, uint32_t& value) {
  uint32_t type = platform::REG_NONE;
  uint32_t data = 0;
  uint32_t size = sizeof(data);
  uint32_t error = platform::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<uint8_t*>(&data), &size);
  if (error != platform::ERROR_SUCCESS) return error;
  if (type != platform::REG_DWORD || size != sizeof(data)) return platform::ERROR_INVALID_DATA;
  value = data;
  return platform::ERROR_SUCCESS;
}

uint32_t SetDword(const platform::RegKey& key, const char16_t* name, uint32_t value) {
  return platform::RegSetValueExW(key, name, 0, platform::REG_DWORD, reinterpret_cast<const uint8_t*>(&value),
                                  sizeof(value));
}

// A text of at most capacity units with its terminator. One that does not fit, including one
// stored without a terminator that fills the buffer exactly, is ERROR_MORE_DATA; the buffer is
// then left empty.
uint32_t QueryText(const platform::RegKey& key, const char16_t* name, char16_t* buffer, size_t capacity) {
  buffer[0] = u'\0';
  uint32_t type = platform::REG_NONE;
  uint32_t size = static_cast<uint32_t>(capacity * sizeof(char16_t));
  std::u16string data(capacity, u'\0');
  uint32_t error = platform::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<uint8_t*>(data.data()), &size);
  if (error != platform::ERROR_SUCCESS) return error;
  if (type != platform::REG_SZ && type != platform::REG_EXPAND_SZ) return platform::ERROR_INVALID_DATA;
  size_t units = size / sizeof(char16_t);
  size_t length = std::u16string_view(data.data(), units).find(u'\0');
  if (length == std::u16string_view::npos) {
    if (units == capacity) return platform::ERROR_MORE_DATA;
    length = units;
  }
  platform::CopyBounded(buffer, capacity, std::u16string_view(data.data(), length));
  return platform::ERROR_SUCCESS;
}

size_t AppendReceived(char* data, size_t size, size_t count, void* userData) {
  static_cast<std::string*>(userData)->append(data, size * count);
  return size * count;
}

// Verification stays on unless the configuration turns it off explicitly: an unverified
// backend lets anyone on the path forge its verdicts.
CURLcode SetPeerVerification(CURL* handle) {
  std::shared_ptr<const CConfigSettings> config = GetConfig();
  if (config->VerifyPeer == 0) {
    DebugTraceW(5, kModule, __LINE__,
                u"[CreateCurlHandle] warning: VerifyPeer is 0, server certificates are not verified");
    CURLcode code = curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 0L);
    return code != CURLE_OK ? code : curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 0L);
  }
  CURLcode code = curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
  if (code == CURLE_OK) code = curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
  if (code == CURLE_OK && !config->CAFile.empty()) {
    code = curl_easy_setopt(handle, CURLOPT_CAINFO, config->CAFile.c_str());
  }
  return code;
}

}  // namespace

std::string NarrowCut(std::string text, size_t capacity) {
  if (text.size() < capacity) return text;
  size_t end = capacity == 0 ? 0 : capacity - 1;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
  return text;
}

uint32_t BackendLanguageIdFor(uint32_t languageId) {
  return languageId == 0 ? 0 : static_cast<uint32_t>(std::bit_width(languageId) - 1);
}

uint32_t CRegData::Initial() {
  uint32_t error = platform::RegOpenKeyExW(platform::HKEY_LOCAL_MACHINE, kProductKeyPath, 0,
                                           platform::KEY_ALL_ACCESS, &m_productKey);
  if (error != platform::ERROR_SUCCESS) {
    DebugTraceW(5, kModule, __LINE__, u"[CRegData::Initial] RegOpenKey %s failed. err = %d", kProductKeyPath,
                AsInt(error));
  }
  return error;
}

uint32_t CRegData::GetLanguageID() {
  return TraceFailure(__LINE__, u"[CRegData::GetLanguageID] RegQueryValueEx failed. err = %d",
                      QueryDword(m_productKey, u"Lang", m_languageId));
}

uint32_t CRegData::LanguageIDMapToBackendLanguageID() {
  m_backendLanguageId = BackendLanguageIdFor(m_languageId);
  DebugTraceW(5, kModule, __LINE__,
              u"[CRegData::LanguageIDMapToBackendLanguageID] OVU language id:%d,map to backend language id:%d",
              AsInt(m_languageId), AsInt(m_backendLanguageId));
  return platform::ERROR_SUCCESS;
}

uint32_t CRegData::GetBlockingOrNot() {
  uint32_t error = QueryDword(m_productKey, u"Blocking", m_blocking);
  if (error != platform::ERROR_SUCCESS) {
    m_blocking = 1;
    DebugTraceW(5, kModule, __LINE__, u"[CRegData::GetBlockingOrNot] RegQueryValueEx failed. err = %d",
                AsInt(error));
  }
  return error;
}

uint32_t CRegData::GetInstallQuororNot() {
  return TraceFailure(__LINE__, u"[CRegData::GetInstallQuororNot] RegQueryValueEx failed. err = %d",
                      QueryDword(m_productKey, u"InstQuor", m_instQuor));
}

uint32_t CRegData::GetOVUID(uint32_t& id) {
  return TraceFailure(__LINE__, u"[CRegData::GetOVUID] RegQueryValueEx failed. err = %d",
                      QueryDword(m_productKey, u"OVUID", id));
}

uint32_t CRegData::GetVersion(char16_t (&version)[kVersionChars]) {
  return TraceFailure(__LINE__, u"RegQueryValueEx failed. err = %d",
                      QueryText(m_productKey, u"Version", version, kVersionChars));
}

uint32_t CRegData::GetProductName(char16_t (&name)[kProductNameChars]) {
  return TraceFailure(__LINE__, u"RegQueryValueEx failed. err = %d",
                      QueryText(m_productKey, u"ProductName", name, kProductNameChars));
}

uint32_t CRegData::GetLastVLMtimestamp(uint32_t& timestamp) {
  uint32_t error = QueryDword(m_productKey, u"VLMreporttimestamp", timestamp);
  if (error != platform::ERROR_SUCCESS) {
    DebugTraceW(5, kModule, __LINE__, u"[CRegData::GetLastVLMtimestamp] RegQueryValueEx failed. err = %d",
                AsInt(error));
    timestamp = 0;
    SetLastVLMtimestamp(0);
  }
  return platform::ERROR_SUCCESS;
}

uint32_t CRegData::SetLastVLMtimestamp(uint32_t timestamp) {
  return TraceFailure(__LINE__, u"[CRegData::SetLastVLMtimestamp] RegSetValueEx failed. err = %d",
                      SetDword(m_productKey, u"VLMreporttimestamp", timestamp));
}

uint32_t CRegData::GetURLDNSQuery(uint32_t& enabled) {
  platform::RegKey key;
  uint32_t error =
      platform::RegOpenKeyExW(platform::HKEY_LOCAL_MACHINE, kUrlFilterConfigKeyPath, 0, platform::KEY_READ, &key);
  if (error != platform::ERROR_SUCCESS) return error;
  return TraceFailure(__LINE__, u"[CRegData::GetURLDNSQuery]  RegQueryValueEx failed. err = %d",
                      QueryDword(key, u"EnableHvufeDns", enabled));
}

uint32_t CRegData::SetURLDNSQuery(uint32_t enabled) {
  platform::RegKey key;
  uint32_t error =
      platform::RegOpenKeyExW(platform::HKEY_LOCAL_MACHINE, kUrlFilterConfigKeyPath, 0, platform::KEY_WRITE, &key);
  if (error != platform::ERROR_SUCCESS) return error;
  return TraceFailure(__LINE__, u"[CRegData::SetURLDNSQuery] RegSetValueEx failed. err = %d",
                      SetDword(key, u"EnableHvufeDns", enabled));
}

uint32_t CRegData::SetProxyPort(uint32_t port) {
  platform::RegKey key;
  uint32_t error = platform::RegOpenKeyExW(platform::HKEY_LOCAL_MACHINE, kProxyRedirectKeyPath, 0,
                                           platform::KEY_ALL_ACCESS, &key);
  if (error != platform::ERROR_SUCCESS) {
    DebugTraceW(5, kModule, __LINE__, u"RegOpenKey failed. err = %d", AsInt(error));
    return error;
  }
  error = SetDword(key, u"port", port == 0 ? kDefaultProxyPort : port);
  if (error == platform::ERROR_SUCCESS) {
    constexpr char16_t kEmpty[] = u"";
    error = platform::RegSetValueExW(key, u"process", 0, platform::REG_SZ, reinterpret_cast<const uint8_t*>(kEmpty),
                                     sizeof(kEmpty));
  }
  if (error != platform::ERROR_SUCCESS) {
    DebugTraceW(5, kModule, __LINE__, u"RegSetValueEx failed. err = %d", AsInt(error));
  }
  return error;
}

std::string MakeUserAgent(CRegData& regData) {
  char16_t version[kVersionChars] = u"";
  char16_t productName[kProductNameChars] = u"";
  regData.GetVersion(version);
  regData.GetProductName(productName);
  return NarrowCut(NarrowCut(platform::Utf16ToUtf8(productName), kProductNameNarrowBytes) + " " +
                       NarrowCut(platform::Utf16ToUtf8(version), kVersionNarrowBytes),
                   kUserAgentBytes);
}

int CreateCurlHandle(CurlHandle& handle, bool post, std::string& received) {
  handle.reset();
  std::string userAgent = MakeUserAgent();
  CurlHandle created(curl_easy_init());
  if (!created) return CURLE_FAILED_INIT;
  CURL* easy = created.get();
  CURLcode code = curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &AppendReceived);
  if (code == CURLE_OK) code = curl_easy_setopt(easy, CURLOPT_WRITEDATA, &received);
  if (code == CURLE_OK) code = curl_easy_setopt(easy, CURLOPT_POST, post ? 1L : 0L);
  // libcurl copies option texts, so the local agent may go away.
  if (code == CURLE_OK) code = curl_easy_setopt(easy, CURLOPT_USERAGENT, userAgent.c_str());
  if (code == CURLE_OK) code = curl_easy_setopt(easy, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_ANY));
  if (code == CURLE_OK) code = SetPeerVerification(easy);
  if (code != CURLE_OK) return code;
  handle = std::move(created);
  return CURLE_OK;
}
