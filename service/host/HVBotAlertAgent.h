// Start-up and shutdown of the detection agent: the named events, the status block, the
// registry and configuration settings, the local web proxy's registration and the worker
// threads that the rest of the service shares.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "HvProxy.h"
#include "HvpxCfg.h"
#include "RMCallbackBlock.h"
#include "platform/event.h"

inline constexpr char kSvcStopEventName[] = "KAVO_SVC_STOP_EVENT";  // local namespace
inline constexpr char kAlertMeEventName[] = "Global\\Kavo_Botted_Event";
inline constexpr char kFetchThreadReadyEventName[] = "Global\\Kavo_FetchThreadReady_Event";
inline constexpr char16_t kQueueEventPrefix[] = u"KAVOEventQueueNOTEmpty";
inline constexpr int kCommandQueueCount = 4;

// Config.ini keys that keep the status block's counters across runs.
inline constexpr char16_t kCounterSection[] = u"URLFilter";
inline constexpr char16_t kWebQueryCountKey[] = u"WebQueryCount";
inline constexpr char16_t kWebThreatCountKey[] = u"WebThreatCount";

// Created by Initial before any worker exists and released by Uninitial after they have ended;
// empty when Initial did not get as far.
extern std::unique_ptr<platform::Event> g_hSvcStopEvent;
extern std::unique_ptr<platform::Event> g_hAlertMeEvent;
extern std::unique_ptr<platform::Event> g_hFetchCommandThreadReady;
extern std::unique_ptr<platform::Event> g_hQueueEvents[kCommandQueueCount];
extern RMCallbackBlock* g_pRMCallbackBlock;

// The command-queue lock, and the send lock that serialises building and posting a report
// (taken before the result store's lock).
extern std::mutex g_CommandQueueLock;
extern std::mutex g_SendLock;

// The URL filter's configuration as read from the local proxy at start-up.
extern HVPX_URLF_CONFIG g_UrlFilterConfig;

// 0, or the error code of the step that failed.
uint32_t Initial();
// Releases what Initial created, and only that: after a failed Initial nothing of another
// instance is touched and no counters are saved.
void Uninitial();

// Joins every worker thread that Initial started.
void WaitForWorkerThreads();

int32_t WriteUrlFilterConfig(HVPX_URLF_CONFIG config);
// -1 when the local proxy's redirect port cannot be written.
int32_t SetUrlFilterProxySetting(HVPX_PROXY_SETTING setting);

// Called by the local proxy on its own thread for every rating.
void RmURLFilterNotify(uint32_t Type, uint32_t Protocol, uint32_t Scan, uintptr_t Context,
                       const HVPX_URLF_NOTIFY* Notify);

// ---- worker threads ----

using WorkerBody = void (*)(int argument);
struct WorkerThreadEntry {
  const char16_t* name;
  WorkerBody body;
  int argument;
};

// Starts one thread; false with the last error when it cannot be created.
using ThreadStarter = bool (*)(std::thread& thread, const WorkerThreadEntry& entry);
bool StartThread(std::thread& thread, const WorkerThreadEntry& entry);

// Starts the table's threads in order. When one cannot be created, the stop event is set and the
// threads already started are joined before the error is answered, so nothing shared is
// released under a running worker.
uint32_t StartWorkerThreads(std::span<const WorkerThreadEntry> table, platform::Event& stopEvent,
                            std::vector<std::thread>& threads, ThreadStarter start = &StartThread);
