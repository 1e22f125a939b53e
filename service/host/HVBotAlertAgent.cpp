#include "HVBotAlertAgent.h"

#include <curl/curl.h>

#include <cstring>
#include <string>
#include <system_error>

#include "AgentConfig.h"
#include "Packetdispatcher.h"
#include "ParsePacketResult.h"
#include "dhcpl_DhcpListen.h"
#include "dl_DebugLog.h"
#include "kavo_RegData.h"
#include "platform/error.h"
#include "platform/file_mapping.h"
#include "platform/profile.h"
#include "platform/text.h"

std::unique_ptr<platform::Event> g_hSvcStopEvent;
std::unique_ptr<platform::Event> g_hAlertMeEvent;
std::unique_ptr<platform::Event> g_hFetchCommandThreadReady;
std::unique_ptr<platform::Event> g_hQueueEvents[kCommandQueueCount];
RMCallbackBlock* g_pRMCallbackBlock = nullptr;
std::mutex g_CommandQueueLock;
std::mutex g_SendLock;
HVPX_URLF_CONFIG g_UrlFilterConfig;

namespace {

constexpr char16_t kModule[] = u"HVBotAlertAgent";

int AsInt(uint32_t value) { return static_cast<int>(value); }

void RunMonitorConfigDirectory(int) { MonitorConfigDirectory(g_hSvcStopEvent.get()); }

// In start order: MonitorConfigDirectory, MonitorThread, MonitorPcapDirectory,
// _SendToBackendThread, ScheduleThread, FetchCmdThread, then ProcessCmdThread 0 to 3.
constexpr WorkerThreadEntry kWorkerThreads[] = {
    {u"MonitorConfigDirectory", &RunMonitorConfigDirectory, 0},
};

// What Initial got as far as creating, so that Uninitial releases exactly that.
struct AgentState {
  std::unique_ptr<platform::FileMapping> blockMapping;
  std::unique_ptr<platform::FileMappingView> blockView;
  std::vector<std::thread> threads;
  bool curlInitialised = false;
  bool countersLoaded = false;
  bool notifyRegistered = false;
};

AgentState& State() {
  static AgentState state;
  return state;
}

std::u16string ConfigFile() { return platform::Utf8ToUtf16(ConfigFilePath()); }

uint32_t FailWith(int line, const char16_t* message, uint32_t error) {
  DebugTraceW(5, kModule, line, message, AsInt(error));
  return error;
}

uint32_t CreateEvents() {
  // A stop event that exists already belongs to a running instance: ours must not keep it.
  g_hSvcStopEvent = platform::Event::CreateNamed(kSvcStopEventName, true, false);
  uint32_t error = platform::GetLastError();
  if (!g_hSvcStopEvent || error == platform::ERROR_ALREADY_EXISTS) {
    g_hSvcStopEvent.reset();
    return FailWith(__LINE__, u"[Initial] CreateEvent g_hSvcStopEvent failed. err = %d", error);
  }
  g_hAlertMeEvent = platform::Event::CreateNamed(kAlertMeEventName, true, false);
  if (!g_hAlertMeEvent) {
    return FailWith(__LINE__, u"[Initial] CreateEvent g_hAlertMeEvent  failed. err = %d", platform::GetLastError());
  }
  g_hFetchCommandThreadReady = platform::Event::CreateNamed(kFetchThreadReadyEventName, true, false);
  if (!g_hFetchCommandThreadReady) {
    return FailWith(__LINE__, u"[Initial] CreateEvent g_hFetchCommandThreadReady  failed. err = %d",
                    platform::GetLastError());
  }
  for (int i = 0; i < kCommandQueueCount; ++i) {
    std::u16string name = platform::StringFormatW(u"%s_%d", kQueueEventPrefix, i);
    g_hQueueEvents[i] = platform::Event::CreateNamed(platform::Utf16ToUtf8(name), true, false);
  }
  return platform::ERROR_SUCCESS;
}

// A block that another process (the tray) still holds is attached to and zeroed as well.
uint32_t CreateStatusBlock() {
  AgentState& state = State();
  state.blockMapping = platform::FileMapping::Create(kRMCallbackBlockName, sizeof(RMCallbackBlock));
  if (!state.blockMapping) {
    return FailWith(__LINE__, u"[Initial] CreateFileMapping failed. err = %d", platform::GetLastError());
  }
  state.blockView = state.blockMapping->Map(platform::FILE_MAP_ALL_ACCESS);
  if (!state.blockView || state.blockView->Size() < sizeof(RMCallbackBlock)) {
    uint32_t error = state.blockView ? platform::ERROR_INVALID_DATA : platform::GetLastError();
    state.blockView.reset();
    return FailWith(__LINE__, u"[Initial] MapViewOfFile failed. err = %d", error);
  }
  std::memset(state.blockView->Data(), 0, sizeof(RMCallbackBlock));
  g_pRMCallbackBlock = static_cast<RMCallbackBlock*>(state.blockView->Data());
  return platform::ERROR_SUCCESS;
}

uint32_t ReadRegistrySettings() {
  uint32_t error = g_RegData.Initial();
  if (error != platform::ERROR_SUCCESS) {
    return FailWith(__LINE__, u"[Initial] g_RegData.Initial() failed. err = %d", error);
  }
  HvpxUrlfReadConfig(&g_UrlFilterConfig);
  error = g_RegData.GetLanguageID();
  if (error != platform::ERROR_SUCCESS) {
    return FailWith(__LINE__, u"[Initial] g_RegData.GetLanguageID() failed. err = %d", error);
  }
  error = g_RegData.LanguageIDMapToBackendLanguageID();
  if (error != platform::ERROR_SUCCESS) {
    return FailWith(__LINE__, u"[Initial] g_RegData.LanguageIDMapToBackendLanguageID() failed. err = %d", error);
  }
  error = g_RegData.GetBlockingOrNot();
  if (error != platform::ERROR_SUCCESS) {
    // Start-up goes on with blocking, which the failed read has left in place.
    DebugTraceW(5, kModule, __LINE__, u"[Initial] g_RegData.GetBlockingOrNot() failed. err = %d", AsInt(error));
  }
  error = g_RegData.GetInstallQuororNot();
  if (error != platform::ERROR_SUCCESS) {
    return FailWith(__LINE__, u"[Initial] g_RegData.GetInstallQuororNot() failed. err = %d", error);
  }
  return platform::ERROR_SUCCESS;
}

void PrepareTrafficAnalysis() {
  g_ParsePacketResult.SetReportFlags(static_cast<int32_t>(g_RegData.BackendLanguageID()));
  InitIrcCommandSet();
  RegisterPermanentRules(g_PacketDispatcher);
}

void LoadCounters() {
  std::u16string file = ConfigFile();
  g_pRMCallbackBlock->WebQueryCount =
      static_cast<uint32_t>(platform::GetPrivateProfileIntW(kCounterSection, kWebQueryCountKey, 0, file.c_str()));
  g_pRMCallbackBlock->WebThreatCount =
      static_cast<uint32_t>(platform::GetPrivateProfileIntW(kCounterSection, kWebThreatCountKey, 0, file.c_str()));
  State().countersLoaded = true;
}

void SaveCounter(const char16_t* key, uint32_t value) {
  std::u16string text = platform::StringFormatW(u"%u", value);
  platform::WritePrivateProfileStringW(kCounterSection, key, text.c_str(), ConfigFile().c_str());
}

void HandProxySettingToLocalProxy() {
  std::shared_ptr<const CConfigSettings> config = GetConfig();
  HVPX_PROXY_SETTING setting;
  std::memset(&setting, 0, sizeof(setting));
  setting.UseProxy = static_cast<uint32_t>(config->UseProxy);
  platform::CopyBounded(setting.Host, 256, NarrowCut(config->ProxyServer, 256));
  setting.Port = static_cast<uint32_t>(config->ProxyPort);
  platform::CopyBounded(setting.UserName, sizeof(setting.UserName),
                        NarrowCut(config->ProxyUserName, sizeof(setting.UserName)));
  platform::CopyBounded(setting.Password, sizeof(setting.Password),
                        NarrowCut(config->ProxyPassword, sizeof(setting.Password)));
  SetUrlFilterProxySetting(setting);
}

void RegisterUrlFilterNotification() {
  uint32_t reportOnly = g_RegData.Blocking() == 0 ? 1 : 0;
  g_UrlFilterConfig.ReportOnlyPages = reportOnly;
  g_UrlFilterConfig.ReportOnlyDownloads = reportOnly;
  WriteUrlFilterConfig(g_UrlFilterConfig);
  DebugTraceW(8, kModule, __LINE__, u"[Initial] call HvpxSetNotifyEx()");
  HvpxSetNotifyEx(&RmURLFilterNotify);
  State().notifyRegistered = true;
}

}  // namespace

bool StartThread(std::thread& thread, const WorkerThreadEntry& entry) {
  try {
    thread = std::thread(entry.body, entry.argument);
    return true;
  } catch (const std::system_error& failure) {
    platform::SetLastError(platform::ErrorFromErrno(failure.code().value()));
    return false;
  }
}

uint32_t StartWorkerThreads(std::span<const WorkerThreadEntry> table, platform::Event& stopEvent,
                            std::vector<std::thread>& threads, ThreadStarter start) {
  threads.reserve(threads.size() + table.size());
  for (const WorkerThreadEntry& entry : table) {
    std::thread thread;
    if (!start(thread, entry)) {
      uint32_t error = platform::GetLastError();
      DebugTraceW(5, kModule, __LINE__, u"[Initial] thread %s cannot be created. err = %d", entry.name, AsInt(error));
      stopEvent.Set();
      for (std::thread& started : threads) started.join();
      threads.clear();
      return error == platform::ERROR_SUCCESS ? platform::ERROR_NOT_ENOUGH_MEMORY : error;
    }
    threads.push_back(std::move(thread));
  }
  return platform::ERROR_SUCCESS;
}

uint32_t Initial() {
  uint32_t error = CreateEvents();
  if (error != platform::ERROR_SUCCESS) return error;
  // The two locks are process-wide mutexes that need no set-up.
  error = CreateStatusBlock();
  if (error != platform::ERROR_SUCCESS) return error;
  error = ReadRegistrySettings();
  if (error != platform::ERROR_SUCCESS) return error;
  PrepareTrafficAnalysis();
  CURLcode curl = curl_global_init(CURL_GLOBAL_ALL);
  if (curl != CURLE_OK) return FailWith(__LINE__, u"[Initial] curl_global_init failed. err = %d", curl);
  State().curlInitialised = true;
  InitConfig();
  error = StartWorkerThreads(kWorkerThreads, *g_hSvcStopEvent, State().threads);
  if (error != platform::ERROR_SUCCESS) return error;
  LoadCounters();
  HandProxySettingToLocalProxy();
  if (g_RegData.InstQuor() != 1) return platform::ERROR_SUCCESS;
  RegisterUrlFilterNotification();
  return platform::ERROR_SUCCESS;
}

void WaitForWorkerThreads() {
  for (std::thread& thread : State().threads) {
    if (thread.joinable()) thread.join();
  }
}

void Uninitial() {
  AgentState& state = State();
  if (state.notifyRegistered) {
    HvpxResetSpecificNotifyEx(&RmURLFilterNotify);
    state.notifyRegistered = false;
  }
  // Counters that were never loaded are not saved, so a failed start cannot zero the stored ones.
  if (state.countersLoaded) {
    SaveCounter(kWebQueryCountKey, g_pRMCallbackBlock->WebQueryCount);
    SaveCounter(kWebThreatCountKey, g_pRMCallbackBlock->WebThreatCount);
    state.countersLoaded = false;
  }
  state.threads.clear();
  for (std::unique_ptr<platform::Event>& queueEvent : g_hQueueEvents) queueEvent.reset();
  g_hSvcStopEvent.reset();
  g_hAlertMeEvent.reset();
  g_hFetchCommandThreadReady.reset();
  g_pRMCallbackBlock = nullptr;
  state.blockView.reset();
  state.blockMapping.reset();
  if (state.curlInitialised) {
    curl_global_cleanup();
    state.curlInitialised = false;
  }
}

int32_t WriteUrlFilterConfig(HVPX_URLF_CONFIG config) { return HvpxUrlfWriteConfig(&config); }

int32_t SetUrlFilterProxySetting(HVPX_PROXY_SETTING setting) {
  if (g_RegData.SetProxyPort(setting.Port) != platform::ERROR_SUCCESS) return -1;
  if (g_RegData.InstQuor() != 1) return 0;
  DebugTraceW(8, kModule, __LINE__, u"[SetUrlFilterProxySetting] call HvpxUrlfWriteProxy()");
  return HvpxUrlfWriteProxy(&setting);
}

void RmURLFilterNotify(uint32_t Type, uint32_t Protocol, uint32_t Scan, uintptr_t, const HVPX_URLF_NOTIFY* Notify) {
  DebugTraceW(8, kModule, __LINE__, u"[ RmURLFilterNotify] Type: %d, Protocol: %d, Scan: %d", AsInt(Type),
              AsInt(Protocol), AsInt(Scan));
  if (Protocol != kHvpxProtocolHttp || Notify == nullptr) return;
  DebugTraceW(8, kModule, __LINE__, u"[ RmURLFilterNotify] URL: %s, Score: %d", Notify->URL, AsInt(Notify->Score));
}
