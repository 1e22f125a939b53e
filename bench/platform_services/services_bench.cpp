// Every registry and profile read parses its file afresh; these measure what that costs for
// files of the sizes the agent uses (a reload reads some thirty keys of Config.ini).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/profile.h"
#include "platform/registry.h"

namespace {

using namespace platform;

std::string TempFolder() {
  static const std::string folder = [] {
    char pattern[] = "/tmp/velmora-bench-XXXXXX";
    return std::string(::mkdtemp(pattern));
  }();
  return folder;
}

void WriteText(const std::string& path, const std::string& text) {
  FILE* file = std::fopen(path.c_str(), "wb");
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
}

std::string ConfigFile(int keysPerSection) {
  std::string path = TempFolder() + "/Config.ini";
  std::string text;
  for (const char* section : {"Operation", "Backend Server", "Proxy Server", "URLFilter"}) {
    text += std::string("[") + section + "]\n";
    for (int i = 0; i < keysPerSection; ++i) text += "Key" + std::to_string(i) + "=" + std::to_string(i * 37) + "\n";
    text += "\n";
  }
  WriteText(path, text);
  return path;
}

void BM_ProfileGetString(benchmark::State& state) {
  std::string path = ConfigFile(static_cast<int>(state.range(0)));
  char buffer[256];
  for (auto _ : state) {
    benchmark::DoNotOptimize(GetPrivateProfileStringA("URLFilter", "Key3", "", buffer, sizeof buffer, path.c_str()));
  }
}
BENCHMARK(BM_ProfileGetString)->Arg(8)->Arg(64);

void BM_ProfileWriteString(benchmark::State& state) {
  std::string path = ConfigFile(8);
  int value = 0;
  for (auto _ : state) {
    WritePrivateProfileStringA("Operation", "Key1", std::to_string(++value).c_str(), path.c_str());
  }
}
BENCHMARK(BM_ProfileWriteString);

void BM_RegistryQuery(benchmark::State& state) {
  std::string hive = TempFolder() + "/registry.reg";
  ::setenv("VELMORA_REGISTRY", hive.c_str(), 1);
  std::string text = "Windows Registry Editor Version 5.00\n";
  for (int key = 0; key < state.range(0); ++key) {
    text += "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bench\\Key" + std::to_string(key) + "]\n";
    for (int value = 0; value < 8; ++value) text += "\"Value" + std::to_string(value) + "\"=dword:0000001a\n";
  }
  WriteText(hive, text);
  RegKey key;
  RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Bench\\Key0", 0, KEY_READ, &key);
  for (auto _ : state) {
    uint32_t number = 0, size = sizeof number;
    benchmark::DoNotOptimize(RegQueryValueExW(key, u"Value7", nullptr, nullptr, reinterpret_cast<uint8_t*>(&number), &size));
  }
}
BENCHMARK(BM_RegistryQuery)->Arg(4)->Arg(64);

}  // namespace

BENCHMARK_MAIN();
