#include "AgentConfig.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include <unistd.h>

#include "StoredSecret.h"
#include "dl_DebugLog.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/folder_watch.h"
#include "platform/guid.h"
#include "platform/os_version.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace {

constexpr char16_t kModule[] = u"AgentConfig";

// Readers copy the pointer under the lock and then read their snapshot without it, so a reload
// never frees settings that another thread is still looking at. Made on first use, so that
// code running during static initialisation already finds the defaults.
struct ConfigState {
  std::mutex lock;
  std::shared_ptr<const CConfigSettings> current = std::make_shared<const CConfigSettings>();
  std::optional<std::string> programFolder;  // set by InitConfig
  platform::OsVersionInfoEx osVersion;        // read by InitConfig
};

ConfigState& State() {
  static ConfigState state;
  return state;
}

void PublishConfig(std::shared_ptr<const CConfigSettings> settings) {
  std::lock_guard<std::mutex> lock(State().lock);
  State().current = std::move(settings);
}

void SetProgramFolder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(State().lock);
  State().programFolder = folder.empty() || folder.back() == '/' ? folder : folder + '/';
}

void ReadOsVersion() {
  platform::OsVersionInfoEx info;
  if (!platform::GetVersionExW(&info)) {
    DebugTraceW(5, kModule, __LINE__, u"[InitConfig] GetVersionEx failed. err = %d",
                static_cast<int>(platform::GetLastError()));
  }
  std::lock_guard<std::mutex> lock(State().lock);
  State().osVersion = info;
}

std::string ProgramFolder() {
  {
    std::lock_guard<std::mutex> lock(State().lock);
    if (State().programFolder) return *State().programFolder;
  }
  return platform::ModuleFolder();
}

// ---- the file's keys ----

enum class KeyKind {
  Number,        // decimal integer
  Text,          // text cut to its read size
  ClientId,      // text; made and written back when empty
  Secret,        // text stored scrambled, held in plain
  FirstRunOnly,  // written at first run, never read into the settings
};

struct ConfigKey {
  const char* section;
  const char* key;
  KeyKind kind;
  int32_t CConfigSettings::*number;
  std::string CConfigSettings::*text;
  uint32_t readSize;
  const char* firstRunValue;  // FirstRunOnly keys; the others start with their default
  int loadPosition;           // order of reading back; 0 for keys that are not read
};

constexpr char kOperation[] = "Operation";
constexpr char kBackend[] = "Backend Server";
constexpr char kProxy[] = "Proxy Server";
constexpr char kUrlFilter[] = "URLFilter";
constexpr uint32_t kTextReadSize = 256;
constexpr uint32_t kGuidReadSize = 64;
constexpr uint32_t kVersionReadSize = 10;
// A change is read once no further change has come for kSettleMs, or after kMaxSettleMs of
// continuous changes at the latest.
constexpr uint32_t kSettleMs = 100;
constexpr uint64_t kMaxSettleMs = 1000;

using S = CConfigSettings;

const CConfigSettings& Defaults() {
  static const CConfigSettings defaults;
  return defaults;
}

// In the order of the first-run file.
constexpr ConfigKey kConfigKeys[] = {
    {kOperation, "NetMonitorInterval", KeyKind::Number, &S::NetMonitorInterval, nullptr, 0, nullptr, 9},
    {kOperation, "DebugLevel", KeyKind::FirstRunOnly, nullptr, nullptr, 0, "2", 0},
    {kOperation, "GUID", KeyKind::ClientId, nullptr, &S::GUID, kGuidReadSize, nullptr, 7},
    {kOperation, "Version", KeyKind::Text, nullptr, &S::Version, kVersionReadSize, nullptr, 8},
    {kOperation, "UseProxy", KeyKind::Number, &S::UseProxy, nullptr, 0, nullptr, 11},
    {kOperation, "AlertMe", KeyKind::Number, &S::AlertMe, nullptr, 0, nullptr, 12},
    {kOperation, "PurgeLogDay", KeyKind::Number, &S::PurgeLogDay, nullptr, 0, nullptr, 13},
    {kOperation, "SendToBackEndInterval", KeyKind::Number, &S::SendToBackEndInterval, nullptr, 0, nullptr, 10},
    {kBackend, "Server", KeyKind::Text, nullptr, &S::BackendServer, kTextReadSize, nullptr, 1},
    {kBackend, "Port", KeyKind::Number, &S::BackendPort, nullptr, 0, nullptr, 2},
    {kBackend, "Object", KeyKind::Text, nullptr, &S::BackendObject, kTextReadSize, nullptr, 3},
    {kBackend, "AlertObject", KeyKind::Text, nullptr, &S::AlertObject, kTextReadSize, nullptr, 4},
    {kBackend, "CAFile", KeyKind::Text, nullptr, &S::CAFile, kTextReadSize, nullptr, 5},
    {kBackend, "VerifyPeer", KeyKind::Number, &S::VerifyPeer, nullptr, 0, nullptr, 6},
    {kProxy, "Source", KeyKind::Number, &S::ProxySource, nullptr, 0, nullptr, 14},
    {kProxy, "Server", KeyKind::Text, nullptr, &S::ProxyServer, kTextReadSize, nullptr, 15},
    {kProxy, "Port", KeyKind::Number, &S::ProxyPort, nullptr, 0, nullptr, 16},
    {kProxy, "UserName", KeyKind::Text, nullptr, &S::ProxyUserName, kTextReadSize, nullptr, 17},
    {kProxy, "Password", KeyKind::Secret, nullptr, &S::ProxyPassword, kTextReadSize, nullptr, 18},
    {kOperation, "CheckHttpIncoming", KeyKind::Number, &S::CheckHttpIncoming, nullptr, 0, nullptr, 19},
    {kOperation, "CheckSmtpOutgoing", KeyKind::Number, &S::CheckSmtpOutgoing, nullptr, 0, nullptr, 20},
    {kOperation, "CheckIrcRequest", KeyKind::Number, &S::CheckIrcRequest, nullptr, 0, nullptr, 21},
    {kOperation, "CheckDnsQuery", KeyKind::Number, &S::CheckDnsQuery, nullptr, 0, nullptr, 22},
    {kUrlFilter, "WebQueryCount", KeyKind::FirstRunOnly, nullptr, nullptr, 0, "0", 0},
    {kUrlFilter, "WebThreatCount", KeyKind::FirstRunOnly, nullptr, nullptr, 0, "0", 0},
};

const ConfigKey& GuidKey() {
  static const ConfigKey& key = *std::find_if(std::begin(kConfigKeys), std::end(kConfigKeys),
                                              [](const ConfigKey& k) { return k.kind == KeyKind::ClientId; });
  return key;
}

// The keys that are read back, in reading order.
const std::vector<const ConfigKey*>& KeysInLoadOrder() {
  static const std::vector<const ConfigKey*> order = [] {
    std::vector<const ConfigKey*> keys;
    for (const ConfigKey& key : kConfigKeys) {
      if (key.loadPosition > 0) keys.push_back(&key);
    }
    std::sort(keys.begin(), keys.end(),
              [](const ConfigKey* a, const ConfigKey* b) { return a->loadPosition < b->loadPosition; });
    return keys;
  }();
  return order;
}

std::string FirstRunValue(const ConfigKey& key) {
  const CConfigSettings& defaults = Defaults();
  switch (key.kind) {
    case KeyKind::Number: return std::to_string(defaults.*key.number);
    case KeyKind::ClientId: return MakeClientGuid();
    case KeyKind::FirstRunOnly: return key.firstRunValue;
    case KeyKind::Text:
    // An empty password is also its own scrambled form.
    case KeyKind::Secret: return defaults.*key.text;
  }
  return {};
}

bool WriteKey(const ConfigKey& key, const std::string& value, const std::string& file) {
  if (platform::WritePrivateProfileStringA(key.section, key.key, value.c_str(), file.c_str())) return true;
  DebugTraceW(5, kModule, __LINE__, u"[WriteKey] %S/%S failed. err = %d", key.section, key.key,
              static_cast<int>(platform::GetLastError()));
  return false;
}

std::string ReadText(const ConfigKey& key, const char* defaultValue, const std::string& file) {
  char buffer[kTextReadSize] = {};
  platform::GetPrivateProfileStringA(key.section, key.key, defaultValue, buffer, key.readSize, file.c_str());
  return buffer;
}

// The identifier in the file; an empty one is replaced by a new one, written back.
std::string ReadClientGuid(const std::string& file) {
  std::string guid = ReadText(GuidKey(), "", file);
  if (guid.empty()) {
    guid = MakeClientGuid();
    WriteKey(GuidKey(), guid, file);
  }
  return guid;
}

void ReadKey(const ConfigKey& key, const std::string& file, CConfigSettings& settings) {
  const CConfigSettings& defaults = Defaults();
  switch (key.kind) {
    case KeyKind::Number:
      settings.*key.number = platform::GetPrivateProfileIntA(key.section, key.key, defaults.*key.number, file.c_str());
      DebugTraceW(8, kModule, __LINE__, u"[LoadConfig] %S/%S = %d", key.section, key.key, settings.*key.number);
      return;
    case KeyKind::Text:
    case KeyKind::ClientId:
      settings.*key.text = key.kind == KeyKind::ClientId ? ReadClientGuid(file)
                                                          : ReadText(key, (defaults.*key.text).c_str(), file);
      DebugTraceW(8, kModule, __LINE__, u"[LoadConfig] %S/%S = %S", key.section, key.key, (settings.*key.text).c_str());
      return;
    case KeyKind::Secret: {
      std::string text = ReadText(key, "", file);
      UnscrambleSecret(text.data());
      text.resize(std::strlen(text.c_str()));
      settings.*key.text = std::move(text);
      return;
    }
    case KeyKind::FirstRunOnly:
      return;
  }
}

bool FileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

}  // namespace

std::shared_ptr<const CConfigSettings> GetConfig() {
  std::lock_guard<std::mutex> lock(State().lock);
  return State().current;
}

platform::OsVersionInfoEx GetOsVersion() {
  std::lock_guard<std::mutex> lock(State().lock);
  return State().osVersion;
}

std::string ConfigFolderPath() {
  std::string folder = ProgramFolder();
  return folder.empty() ? std::string() : folder + kConfigFolderName;
}

std::string ConfigFilePath() {
  std::string folder = ProgramFolder();
  return folder.empty() ? std::string() : folder + kConfigFileName;
}

std::string MakeClientGuid() {
  // An initialisation that the thread already had keeps the fallback identifier; the call still
  // counted, so it is balanced, and the owner's own uninitialisation then really ends it.
  int32_t initialised = platform::CoInitialize();
  if (initialised != 0) {
    if (initialised > 0) platform::CoUninitialize();
    return kFallbackClientGuid;
  }
  platform::Guid guid;
  platform::CoCreateGuid(&guid);
  platform::CoUninitialize();
  const platform::Guid zero;
  if (std::memcmp(&guid, &zero, sizeof guid) == 0) return kFallbackClientGuid;
  return platform::StringFormatA("%08x%04x%04x%02x%02x%02x%02x%02x%02x%02x%02x", static_cast<unsigned>(guid.data1),
                                 unsigned{guid.data2}, unsigned{guid.data3}, unsigned{guid.data4[0]},
                                 unsigned{guid.data4[1]}, unsigned{guid.data4[2]}, unsigned{guid.data4[3]},
                                 unsigned{guid.data4[4]}, unsigned{guid.data4[5]}, unsigned{guid.data4[6]},
                                 unsigned{guid.data4[7]});
}

int WriteDefaultConfig() {
  DebugTraceW(8, kModule, __LINE__, u"[WriteDefaultConfig] >>>");
  const std::string file = ConfigFilePath();
  for (const ConfigKey& key : kConfigKeys) {
    if (!WriteKey(key, FirstRunValue(key), file)) return static_cast<int>(platform::GetLastError());
  }
  DebugTraceW(8, kModule, __LINE__, u"[WriteDefaultConfig] <<<");
  return 0;
}

void LoadConfig() {
  DebugTraceW(8, kModule, __LINE__, u"[LoadConfig] >>>");
  const std::string file = ConfigFilePath();
  std::shared_ptr<CConfigSettings> next;
  try {
    next = std::make_shared<CConfigSettings>(*GetConfig());
  } catch (const std::bad_alloc&) {
    DebugTraceW(5, kModule, __LINE__, u"[LoadConfig] no memory for the settings; keeping the current ones");
    return;
  }
  try {
    for (const ConfigKey* key : KeysInLoadOrder()) ReadKey(*key, file, *next);
  } catch (const std::bad_alloc&) {
    // The keys read so far take effect; the rest keep their earlier values.
    DebugTraceW(5, kModule, __LINE__, u"[LoadConfig] no memory; reload stopped");
  }
  PublishConfig(std::move(next));
  DebugTraceW(8, kModule, __LINE__, u"[LoadConfig] <<<");
}

int InitConfig(const std::string& programFolder) {
  DebugTraceW(8, kModule, __LINE__, u"[InitConfig] >>>");
  SetProgramFolder(programFolder);
  ReadOsVersion();
  int result = 0;
  const std::string file = ConfigFilePath();
  if (!FileExists(file)) {
    result = WriteDefaultConfig();
  } else {
    ReadClientGuid(file);
  }
  LoadConfig();
  DebugTraceW(8, kModule, __LINE__, u"[InitConfig] <<< %d", result);
  return result;
}

int MonitorConfigDirectory(platform::WaitObject* stopEvent) {
  DebugTraceW(8, kModule, __LINE__, u"[MonitorConfigDirectory] >>>");
  const std::string folder = ConfigFolderPath();
  if (folder.empty()) return -1;
  std::unique_ptr<platform::FolderWatch> watch =
      platform::FolderWatch::Create(folder, platform::FILE_NOTIFY_CHANGE_LAST_WRITE);
  if (!watch) {
    DebugTraceW(5, kModule, __LINE__, u"[MonitorConfigDirectory] FolderWatch::Create failed. err = %d",
                static_cast<int>(platform::GetLastError()));
    return -1;
  }
  constexpr uint32_t kChanged = platform::WAIT_OBJECT_0 + 1;
  for (;;) {
    uint32_t fired = platform::WaitForAny({stopEvent, watch.get()}, platform::INFINITE);
    // An editor that saves in place truncates the file before it writes it. Reading in that
    // moment would see no identifier and write a new one back, replacing the file under the
    // editor, so the reload waits until the folder has been quiet for a moment.
    const uint64_t latest = platform::GetTickCount64() + kMaxSettleMs;
    while (fired == kChanged && platform::GetTickCount64() < latest) {
      fired = platform::WaitForAny({stopEvent, watch.get()}, kSettleMs);
    }
    if (fired == kChanged || fired == platform::WAIT_TIMEOUT) {
      LoadConfig();
      continue;
    }
    if (fired == platform::WAIT_OBJECT_0) {
      DebugTraceW(8, kModule, __LINE__, u"[MonitorConfigDirectory] g_hSvcStopEvent happened");
      return 0;
    }
    DebugTraceW(5, kModule, __LINE__, u"[MonitorConfigDirectory] WaitForAny failed. err = %d",
                static_cast<int>(platform::GetLastError()));
    return -1;
  }
}
