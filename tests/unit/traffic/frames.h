// Frames and capture files built byte by byte for the traffic tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace traffic_test {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t Ip(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return uint32_t{a} << 24 | uint32_t{b} << 16 | uint32_t{c} << 8 | d;
}

inline constexpr uint32_t kLocal = Ip(192, 168, 1, 2);
inline constexpr uint32_t kRemote = Ip(10, 1, 2, 3);

inline void PutBe16(Bytes& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v >> 8);
  b[at + 1] = static_cast<uint8_t>(v);
}
inline void PutBe32(Bytes& b, size_t at, uint32_t v) {
  PutBe16(b, at, static_cast<uint16_t>(v >> 16));
  PutBe16(b, at + 2, static_cast<uint16_t>(v));
}

// Ethernet + 20-byte IPv4 header for protocol, with transportLength bytes after it.
inline Bytes IpFrame(uint8_t protocol, uint32_t src, uint32_t dst, size_t transportLength) {
  Bytes f(34 + transportLength, 0);
  const uint8_t macs[12] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb};
  std::copy(macs, macs + 12, f.begin());
  PutBe16(f, 12, 0x0800);
  f[14] = 0x45;
  PutBe16(f, 16, static_cast<uint16_t>(20 + transportLength));
  f[22] = 64;
  f[23] = protocol;
  PutBe32(f, 26, src);
  PutBe32(f, 30, dst);
  return f;
}

inline Bytes TcpFrame(uint32_t src, uint16_t sport, uint32_t dst, uint16_t dport, std::string_view payload) {
  Bytes f = IpFrame(6, src, dst, 20 + payload.size());
  PutBe16(f, 34, sport);
  PutBe16(f, 36, dport);
  f[46] = 0x50;  // 5 words of TCP header
  f[47] = 0x18;
  std::copy(payload.begin(), payload.end(), f.begin() + 54);
  return f;
}

inline Bytes UdpFrame(uint32_t src, uint16_t sport, uint32_t dst, uint16_t dport, const Bytes& payload) {
  Bytes f = IpFrame(17, src, dst, 8 + payload.size());
  PutBe16(f, 34, sport);
  PutBe16(f, 36, dport);
  PutBe16(f, 38, static_cast<uint16_t>(8 + payload.size()));
  std::copy(payload.begin(), payload.end(), f.begin() + 42);
  return f;
}

// A DNS message with the given first flags byte and question count; name as wire labels.
inline Bytes DnsMessage(const Bytes& wireName, uint8_t flags = 0x01, uint16_t questions = 1) {
  // Header, name, then type A and class IN.
  Bytes m(12 + wireName.size() + 4, 0);
  m[0] = 0x12;
  m[1] = 0x34;
  m[2] = flags;
  PutBe16(m, 4, questions);
  std::copy(wireName.begin(), wireName.end(), m.begin() + 12);
  m[m.size() - 3] = 0x01;
  m[m.size() - 1] = 0x01;
  return m;
}

// "www.example.com" as length-prefixed labels ending in a zero byte.
inline Bytes WireName(std::string_view dotted) {
  Bytes out;
  while (!dotted.empty()) {
    const size_t dot = dotted.find('.');
    const std::string_view label = dotted.substr(0, dot);
    out.push_back(static_cast<uint8_t>(label.size()));
    out.insert(out.end(), label.begin(), label.end());
    dotted = dot == std::string_view::npos ? std::string_view() : dotted.substr(dot + 1);
  }
  out.push_back(0);
  return out;
}

inline Bytes DnsQuery(uint32_t src, std::string_view name, uint8_t flags = 0x01, uint16_t questions = 1) {
  return UdpFrame(src, 40000, Ip(8, 8, 8, 8), 53, DnsMessage(WireName(name), flags, questions));
}

inline Bytes ArpFrame() {
  Bytes f(42, 0);
  for (int i = 0; i < 6; ++i) f[i] = 0xff;
  const uint8_t src[6] = {0xde, 0xad, 0xbe, 0xef, 0x00, 0x01};
  std::copy(src, src + 6, f.begin() + 6);
  PutBe16(f, 12, 0x0806);
  for (size_t i = 14; i < f.size(); ++i) f[i] = static_cast<uint8_t>(i);
  return f;
}

// Each byte as "%02x ", as the trace dumps it.
inline std::string HexDump(const Bytes& f, size_t begin, size_t end) {
  std::string out;
  char cell[4];
  for (size_t i = begin; i < end && i < f.size(); ++i) {
    std::snprintf(cell, sizeof(cell), "%02x ", f[i]);
    out += cell;
  }
  return out;
}

inline void PutLe32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline Bytes PcapHeader(uint32_t magic = 0xA1B2C3D4, uint32_t snaplen = 65535, uint32_t link = 1) {
  Bytes h;
  PutLe32(h, magic);
  PutLe32(h, 0x00040002);
  PutLe32(h, 0);
  PutLe32(h, 0);
  PutLe32(h, snaplen);
  PutLe32(h, link);
  return h;
}

inline void AppendRecord(Bytes& file, const Bytes& frame, uint32_t capturedLength) {
  PutLe32(file, 1700000000);
  PutLe32(file, 0);
  PutLe32(file, capturedLength);
  PutLe32(file, capturedLength);
  file.insert(file.end(), frame.begin(), frame.end());
}

inline Bytes Pcap(const std::vector<Bytes>& frames) {
  Bytes file = PcapHeader();
  for (const Bytes& f : frames) AppendRecord(file, f, static_cast<uint32_t>(f.size()));
  return file;
}

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace traffic_test
