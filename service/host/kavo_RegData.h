// Registry settings that the product's installer and the local web proxy own, read through one
// process-wide object, and the libcurl handles that carry the product's user agent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <curl/curl.h>

#include "platform/registry.h"

// Below HKEY_LOCAL_MACHINE.
inline constexpr char16_t kProductKeyPath[] = u"SOFTWARE\\Halvard\\Halvard Velmora\\CurrentVersion";
inline constexpr char16_t kProxyRedirectKeyPath[] =
    u"SOFTWARE\\Halvard\\Quor\\Hvproxy\\ProtocolHandler\\http\\redirect\\Proxy";
inline constexpr char16_t kUrlFilterConfigKeyPath[] =
    u"SOFTWARE\\Halvard\\Quor\\Hvproxy\\Scan\\Common\\URLFilter\\config";

// Read sizes of the two texts, in bytes with the terminator: a "Version" of ten characters or
// more does not fit and cannot be read.
inline constexpr size_t kVersionBytes = 20;
inline constexpr size_t kProductNameBytes = 512;
inline constexpr size_t kVersionChars = kVersionBytes / sizeof(char16_t);
inline constexpr size_t kProductNameChars = kProductNameBytes / sizeof(char16_t);

// The local proxy's upstream port when none is configured.
inline constexpr uint32_t kDefaultProxyPort = 8080;

// Every call answers 0 or the registry's error code. The values read at start-up are read once,
// before the worker threads exist, and only read afterwards.
class CRegData {
 public:
  // Opens the product key and keeps it for the object's lifetime.
  uint32_t Initial();

  uint32_t GetLanguageID();                       // "Lang"
  uint32_t LanguageIDMapToBackendLanguageID();    // always 0
  uint32_t GetBlockingOrNot();                    // "Blocking"; a failed read leaves blocking on
  uint32_t GetInstallQuororNot();                 // "InstQuor"

  uint32_t GetOVUID(uint32_t& id);
  uint32_t GetVersion(char16_t (&version)[kVersionChars]);
  uint32_t GetProductName(char16_t (&name)[kProductNameChars]);

  // When "VLMreporttimestamp" cannot be read it is written as 0 and 0 is the answer; always 0.
  uint32_t GetLastVLMtimestamp(uint32_t& timestamp);
  uint32_t SetLastVLMtimestamp(uint32_t timestamp);

  uint32_t GetURLDNSQuery(uint32_t& enabled);
  uint32_t SetURLDNSQuery(uint32_t enabled);

  // Writes the local proxy's redirect "port" (8080 for 0) and an empty "process".
  uint32_t SetProxyPort(uint32_t port);

  uint32_t LanguageID() const { return m_languageId; }
  uint32_t BackendLanguageID() const { return m_backendLanguageId; }
  uint32_t Blocking() const { return m_blocking; }
  uint32_t InstQuor() const { return m_instQuor; }

 private:
  platform::RegKey m_productKey;
  uint32_t m_languageId = 0;
  uint32_t m_backendLanguageId = 0;
  uint32_t m_blocking = 1;
  uint32_t m_instQuor = 0;
};

extern CRegData g_RegData;

// floor(log2(languageId)), and 0 for 0: the bit position of the highest bit set.
uint32_t BackendLanguageIdFor(uint32_t languageId);

// The text cut to fewer than capacity bytes at a UTF-8 character boundary, for fixed fields
// that hold text in the system code page.
std::string NarrowCut(std::string text, size_t capacity);

// "ProductName Version" in the system code page, at most 511 bytes; a text that cannot be read
// stays empty, so an unreadable version leaves the agent ending in a blank.
std::string MakeUserAgent(CRegData& regData = g_RegData);

struct CurlEasyCleanup {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlHandle = std::unique_ptr<CURL, CurlEasyCleanup>;

// A new easy handle that appends every received block to received, posts when post is set,
// sends the user agent, allows every proxy authentication method and verifies the server's
// certificate as "Backend Server" says ("VerifyPeer", "CAFile"). received must outlive the
// handle's transfers. Answers 0 or the libcurl code; handle is left empty on failure.
int CreateCurlHandle(CurlHandle& handle, bool post, std::string& received);
