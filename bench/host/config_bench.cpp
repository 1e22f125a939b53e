// The packet path takes the settings snapshot for every frame; the command path unscrambles the
// proxy password on every settings query.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "AgentConfig.h"
#include "StoredSecret.h"

static void BM_GetConfig(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(GetConfig()->CheckDnsQuery);
  }
}
BENCHMARK(BM_GetConfig)->Threads(1)->Threads(2)->Threads(4);

static void BM_UnscrambleSecret(benchmark::State& state) {
  char stored[256];
  ScrambleSecret(std::string(static_cast<size_t>(state.range(0)), 'p').c_str(), stored, sizeof stored);
  char buffer[256];
  for (auto _ : state) {
    std::memcpy(buffer, stored, sizeof buffer);
    UnscrambleSecret(buffer);
    benchmark::DoNotOptimize(buffer);
  }
}
BENCHMARK(BM_UnscrambleSecret)->Arg(8)->Arg(31)->Arg(107);

BENCHMARK_MAIN();
