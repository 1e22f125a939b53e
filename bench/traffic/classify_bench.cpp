// Frames per second through the classifier on a realistic mix, as live capture runs it (no
// trace) and as capture-file analysis runs it (a trace line per frame).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "Packetdispatcher.h"
#include "ParsePacketResult.h"
#include "TraceFile.h"
#include "dhcpl_DhcpListen.h"
#include "traffic_mix.h"

namespace {

void Classify(benchmark::State& state, CTraceFile* trace) {
  RegisterPermanentRules(g_PacketDispatcher);
  InitIrcCommandSet();
  const auto mix = traffic_bench::MakeTrafficMix(4096);
  uint8_t buffer[kLiveFrameBufferSize] = {};
  size_t next = 0;
  for (auto _ : state) {
    const auto& m = mix[next];
    std::copy(m.frame.begin(), m.frame.end(), buffer);
    ClassifyFrame(buffer, static_cast<int32_t>(m.frame.size()), m.iIO, trace);
    next = (next + 1) % mix.size();
    // An interval's findings are emptied when a report is accepted.
    if (next == 0) g_ParsePacketResult.Reset();
  }
  state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_ClassifyFrameLive(benchmark::State& state) { Classify(state, nullptr); }

void BM_ClassifyFrameWithTraceFile(benchmark::State& state) {
  const char* folder = std::getenv("TMPDIR");
  const std::string path = std::string(folder ? folder : "/tmp") + "/velmora-classify-bench.csv";
  CTraceFile trace;
  if (!trace.Create(path)) {
    state.SkipWithError("cannot create the trace file");
    return;
  }
  Classify(state, &trace);
  trace.Close();
  std::remove(path.c_str());
}

BENCHMARK(BM_ClassifyFrameLive);
BENCHMARK(BM_ClassifyFrameWithTraceFile);

}  // namespace

BENCHMARK_MAIN();
