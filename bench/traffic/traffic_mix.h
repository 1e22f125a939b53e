// A reproducible mix of frames like a desktop's traffic: mostly TCP data and acknowledgements,
// some DNS, web, mail, IRC (with dot-commands from the server), ARP and other UDP and ICMP.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "frames.h"

namespace traffic_bench {

using traffic_test::Bytes;
using namespace traffic_test;

struct MixedFrame {
  Bytes frame;
  int32_t iIO;
};

inline std::vector<MixedFrame> MakeTrafficMix(size_t count, uint32_t seed = 7) {
  std::mt19937 random(seed);
  std::vector<MixedFrame> mix;
  mix.reserve(count);
  // Data frames stay within what a live record carries (1462 bytes).
  const std::string bulk(1400, 'd');
  // A capture's first frame names this computer, so the mix starts with one it sent.
  mix.push_back({DnsQuery(kLocal, "first.example.com"), 1});
  for (size_t i = 1; i < count; ++i) {
    const uint32_t pick = random() % 100;
    const auto port = static_cast<uint16_t>(49152 + random() % 16000);
    if (pick < 45) {
      mix.push_back({TcpFrame(kRemote, 443, kLocal, port, std::string_view(bulk).substr(0, 200 + random() % 1200)), 0});
    } else if (pick < 60) {
      mix.push_back({TcpFrame(kLocal, port, kRemote, 443, ""), 1});
    } else if (pick < 70) {
      mix.push_back({DnsQuery(kLocal, "host" + std::to_string(random() % 500) + ".example.com"), 1});
    } else if (pick < 75) {
      mix.push_back({TcpFrame(kRemote, port, kLocal, 80, "GET /index.html HTTP/1.1\r\nHost: here\r\n\r\n"), 0});
    } else if (pick < 79) {
      mix.push_back({TcpFrame(kLocal, port, kRemote, 25, "EHLO client.example\r\n"), 1});
    } else if (pick < 83) {
      mix.push_back({TcpFrame(kLocal, 51000, kRemote, 6667, "PRIVMSG #chan :hello there\r\n"), 1});
    } else if (pick < 86) {
      mix.push_back({TcpFrame(kRemote, 6667, kLocal, 51000, ":srv PRIVMSG #chan :.scan.start 10|.login\r\n"), 0});
    } else if (pick < 91) {
      mix.push_back({ArpFrame(), 0});
    } else if (pick < 96) {
      mix.push_back({UdpFrame(kLocal, 5353, kRemote, 5353, Bytes(120, 0x11)), 1});
    } else {
      mix.push_back({IpFrame(1, kRemote, kLocal, 64), 0});
    }
  }
  return mix;
}

}  // namespace traffic_bench
