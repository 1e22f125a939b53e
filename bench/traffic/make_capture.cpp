// make-capture FILE MEGABYTES: writes a capture file of the benchmark's traffic mix.
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "traffic_mix.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make-capture FILE MEGABYTES\n");
    return 1;
  }
  const size_t target = std::strtoull(argv[2], nullptr, 10) * 1024 * 1024;
  const auto mix = traffic_bench::MakeTrafficMix(8192);
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  traffic_test::Bytes chunk = traffic_test::PcapHeader();
  size_t written = 0;
  for (size_t i = 0; written < target; ++i) {
    const auto& frame = mix[i % mix.size()].frame;
    traffic_test::AppendRecord(chunk, frame, static_cast<uint32_t>(frame.size()));
    if (chunk.size() > (1 << 20)) {
      out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(chunk.size()));
      written += chunk.size();
      chunk.clear();
    }
  }
  out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(chunk.size()));
  return out ? 0 : 1;
}
