// Cost of tracing with and without a log host, and of one request/answer round trip.
#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "KAVOcl_Common.h"
#include "dl_DebugLog.h"
#include "pipe_Server.h"
#include "pipe_Util.h"
#include "platform/event.h"
#include "test_env.h"

namespace {

// A pipe server on its own thread that hands every message to a handler until it is stopped.
class ServerThread {
 public:
  template <typename Handler>
  ServerThread(const char16_t* pipeName, Handler handler) : m_stop(platform::Event::Create(true, false)) {
    m_server.InitialWithEvent(pipeName, m_stop.get());
    m_thread = std::thread([this, handler] {
      std::string message;
      while (m_server.FetchCmd(message)) {
        if (!message.empty()) handler(message);
      }
    });
  }
  ~ServerThread() {
    m_stop->Set();
    m_thread.join();
  }

 private:
  std::unique_ptr<platform::Event> m_stop;
  CPipeServer m_server;
  std::thread m_thread;
};

void BM_TraceHostAbsent(benchmark::State& state) {
  velmora::test::ScopedTestEnvironment env;
  DebugTraceW(8, u"bench", __LINE__, u"[Bench] first call finds no host");
  for (auto _ : state) DebugTraceW(8, u"bench", __LINE__, u"[Bench] record %d", 42);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TraceHostAbsent);

void BM_TraceHostPresent(benchmark::State& state) {
  velmora::test::ScopedTestEnvironment env;
  std::atomic<int64_t> received{0};
  {
    ServerThread host(u"Log_ServerNamePipe", [&](const std::string&) { ++received; });
    DebugLogHostGate().MarkReachable();
    for (auto _ : state) DebugTraceW(8, u"bench", __LINE__, u"[Bench] record %d", 42);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["received"] = static_cast<double>(received.load());
}
BENCHMARK(BM_TraceHostPresent)->UseRealTime();

void BM_SendAndRecvRoundTrip(benchmark::State& state) {
  velmora::test::ScopedTestEnvironment env;
  ServerThread service(u"KAVONamePipe", [](const std::string& bytes) {
    std::u16string text = WideTextFromBytes(bytes);
    CCmdProtocol request(text.c_str(), -1);
    std::u16string name;
    int32_t id = 0;
    request.NextString(name).NextInt(id);
    CCmdProtocol reply;
    reply.AddInt(0).AddInt(1);
    CPipeClient client;
    if (!client.Open(ReplyPipeName(id).c_str())) return;
    size_t count = (reply.GetText().size() + 1) * sizeof(char16_t);
    client.Send(reply.GetText().c_str(), count);
  });
  KAVOClient client;
  for (auto _ : state) {
    CCmdProtocol request;
    int32_t id = MakeRequestId();
    request.Add(u"SETTING_GET_ALERTME").AddInt(id);
    std::u16string reply;
    if (client.Call(request, id, reply) != 0) state.SkipWithError("round trip failed");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SendAndRecvRoundTrip)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
