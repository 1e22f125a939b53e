#include "dhcpl_DhcpListen.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstring>
#include <memory>

#include "AgentConfig.h"
#include "Packetdispatcher.h"
#include "ParsePacketResult.h"
#include "TraceFile.h"
#include "dl_DebugLog.h"
#include "platform/clock.h"

std::atomic<int32_t> g_nNonIpFrames{0};

namespace {

constexpr const char* kModule = "dhcpl_DhcpListen";

// Frame offsets. The IPv4 header is taken to be 20 bytes long.
constexpr size_t kEtherTypeOffset = 12;
constexpr size_t kIpHeaderOffset = 14;
constexpr size_t kIpTotalLengthOffset = 16;
constexpr size_t kIpProtocolOffset = 23;
constexpr size_t kIpSourceOffset = 26;
constexpr size_t kIpDestinationOffset = 30;
constexpr size_t kTransportOffset = 34;
constexpr size_t kSourcePortOffset = 34;
constexpr size_t kDestinationPortOffset = 36;
constexpr size_t kTcpDataOffsetOffset = 46;
constexpr size_t kDnsFlagsOffset = 44;
constexpr size_t kDnsQuestionCountOffset = 46;
constexpr size_t kDnsQuestionNameOffset = 54;
// Trace dumps end here (exclusive), or at the frame's end when that comes first.
constexpr size_t kIpDumpEnd = 40;
constexpr size_t kTransportDumpEnd = 90;

constexpr uint16_t kEtherTypeIpv4 = 0x0800;
constexpr uint8_t kProtocolTcp = 6;
constexpr uint8_t kProtocolUdp = 17;
constexpr uint16_t kDnsPort = 53;
constexpr uint16_t kNetbiosSessionPort = 139;
constexpr int64_t kIrcRuleLifetimeSeconds = 3600;
constexpr size_t kBotCmdCapacity = 512;

class IrcCommandSet {
 public:
  IrcCommandSet() {
    std::sort(m_words.begin(), m_words.end());
    for (const std::string_view word : m_words) m_longest = std::max(m_longest, word.size());
  }
  bool Contains(std::string_view word) const { return std::binary_search(m_words.begin(), m_words.end(), word); }
  size_t Longest() const { return m_longest; }

 private:
  std::array<std::string_view, 40> m_words = {
      "ADMIN",   "AWAY",    "DIE",     "ERROR",   "INFO",    "ISON",     "JOIN",   "KILL",
      "LINKS",   "LIST",    "LUSERS",  "MODE",    "MOTD",    "NAMES",    "NICK",   "NOTICE",
      "OPER",    "PART",    "PING",    "PONG",    "PRIVMSG", "QUIT",     "REHASH", "RESTART",
      "SERVICE", "SERVLIST", "SQUERY", "SQUIT",   "STATS",   "SUMMON",   "TIME",   "TOPIC",
      "TRACE",   "USERHOST", "USERS",  "VERSION", "WALLOPS", "WHO",      "WHOIS",  "PROTOCTL"};
  size_t m_longest = 0;
};

const IrcCommandSet& IrcCommands() {
  static const IrcCommandSet set;
  return set;
}

// Reads of the frame at fixed offsets; whatever lies outside the caller's buffer counts as 0.
class Frame {
 public:
  Frame(std::span<uint8_t> buffer, int32_t length)
      : m_buffer(buffer), m_length(std::clamp<int64_t>(length, 0, static_cast<int64_t>(buffer.size()))) {}

  uint8_t Byte(size_t offset) const { return offset < m_buffer.size() ? m_buffer[offset] : 0; }
  uint16_t Be16(size_t offset) const { return static_cast<uint16_t>(Byte(offset) << 8 | Byte(offset + 1)); }
  uint32_t Be32(size_t offset) const { return uint32_t{Be16(offset)} << 16 | Be16(offset + 2); }
  uint32_t Le32(size_t offset) const {
    return uint32_t{Byte(offset)} | uint32_t{Byte(offset + 1)} << 8 | uint32_t{Byte(offset + 2)} << 16 |
           uint32_t{Byte(offset + 3)} << 24;
  }

  void SetPortsToHostOrder(uint16_t source, uint16_t destination) {
    if (m_buffer.size() < kDestinationPortOffset + 2) return;
    std::memcpy(&m_buffer[kSourcePortOffset], &source, 2);
    std::memcpy(&m_buffer[kDestinationPortOffset], &destination, 2);
  }

  // Captured bytes usable from offset on (never beyond the buffer).
  int32_t Available(size_t offset) const {
    return offset < m_length ? static_cast<int32_t>(m_length - offset) : 0;
  }
  const uint8_t* At(size_t offset) const { return m_buffer.data() + offset; }
  std::span<const uint8_t> From(size_t offset) const {
    return offset < m_buffer.size() ? std::span<const uint8_t>(m_buffer).subspan(offset) : std::span<const uint8_t>();
  }

  // Bytes from begin up to end or the frame's end, whichever comes first, each as "%02x ".
  void Dump(CTraceFile& trace, size_t begin, size_t end) const {
    const size_t stop = std::min(end, m_length);
    if (begin < stop) trace.WriteHex(At(begin), stop - begin);
  }

 private:
  std::span<uint8_t> m_buffer;
  size_t m_length;
};

void WriteHardwareAddress(CTraceFile& trace, const Frame& frame, size_t offset) {
  static constexpr char kDigits[] = "0123456789abcdef";
  char text[18];
  for (size_t i = 0; i < 6; ++i) {
    const uint8_t b = frame.Byte(offset + i);
    text[i * 3] = kDigits[b >> 4];
    text[i * 3 + 1] = kDigits[b & 0x0F];
    text[i * 3 + 2] = i < 5 ? ':' : ',';
  }
  trace.Write(std::string_view(text, sizeof(text)));
}

void TraceNonIpFrame(CTraceFile& trace, const Frame& frame, int32_t count) {
  char number[16];
  const auto end = std::to_chars(number, number + sizeof(number), count).ptr;
  trace.Write(std::string_view(number, static_cast<size_t>(end - number)));
  trace.Write(",...,");
  WriteHardwareAddress(trace, frame, 0);
  WriteHardwareAddress(trace, frame, 6);
  trace.Write("Non-IP,Non-IP,");
  frame.Dump(trace, kIpHeaderOffset, kIpDumpEnd);
  trace.Write("\n");
}

void AnalyzeDns(const Frame& frame, CTraceFile* trace) {
  if (trace) trace->Write("DNS,");
  if (!GetConfig()->CheckDnsQuery) return;
  // One question, and the first flags byte below 8: no response bit, opcode 0 (standard query).
  if (frame.Be16(kDnsQuestionCountOffset) == 1 && frame.Byte(kDnsFlagsOffset) < 8) {
    std::string name = DecodeDnsName(frame.From(kDnsQuestionNameOffset));
    if (name.empty()) name = "<ROOT>";
    if (trace) {
      trace->Write("DNS query,");
      trace->Write(name);
      trace->Write("\n");
    }
    g_ParsePacketResult.AddDNSQuery(name);
  } else if (trace) {
    trace->Write("DNS Dynamic Update, \n");
  }
}

void AnalyzeTcp(Frame& frame, int32_t iIO, CTraceFile* trace) {
  if (trace) trace->Write("TCP,");
  const uint16_t sourcePort = frame.Be16(kSourcePortOffset);
  const uint16_t destinationPort = frame.Be16(kDestinationPortOffset);
  // The trace's dump shows the ports as the analysis saw them.
  frame.SetPortsToHostOrder(sourcePort, destinationPort);
  if (sourcePort == kNetbiosSessionPort || destinationPort == kNetbiosSessionPort) return;

  const int32_t headerLength = frame.Byte(kTcpDataOffsetOffset) >> 2;
  const size_t payloadOffset = kTransportOffset + static_cast<size_t>(headerLength);
  const int32_t totalLength = frame.Be16(kIpTotalLengthOffset);
  const int32_t payloadLength = std::min(totalLength - headerLength - 20, frame.Available(payloadOffset));
  if (payloadLength <= 0) return;
  const uint8_t* payload = frame.At(payloadOffset);

  DispatchEntry key{iIO, sourcePort, destinationPort};
  switch (g_PacketDispatcher.Lookup(key)) {
    case HttpIncoming:
      if (GetConfig()->CheckHttpIncoming && totalLength >= 30 &&
          IsHttpRequestText(payload, static_cast<size_t>(frame.Available(payloadOffset)))) {
        g_ParsePacketResult.AddHttpRedirect(totalLength);
        if (trace) trace->Write("HTTP-Redirect,");
      } else if (trace) {
        trace->Write("HTTP Response,");
      }
      break;
    case SmtpOutgoing:
      if (GetConfig()->CheckSmtpOutgoing && payloadLength > 5 &&
          IsSmtpHello(payload, static_cast<size_t>(payloadLength))) {
        g_ParsePacketResult.AddSmtpHello();
        if (trace) trace->Write("SMTP,");
      }
      break;
    case IrcRequest:
      if (GetConfig()->CheckIrcRequest && IsIRCRequest(payload, payloadLength)) {
        g_ParsePacketResult.AddIrc(frame.Be32(kIpDestinationOffset), destinationPort);
        g_PacketDispatcher.Register(
            {0, destinationPort, sourcePort, BotCommand, platform::TimeNow() + kIrcRuleLifetimeSeconds});
        if (trace) trace->Write("IRC Request,");
      }
      break;
    case BotCommand:
      IsBotCmd(payload, payloadLength, frame.Le32(kIpSourceOffset));
      break;
    default:
      break;
  }
  if (trace) {
    frame.Dump(*trace, kTransportOffset, kTransportDumpEnd);
    trace->Write("\n");
  }
}

}  // namespace

void InitIrcCommandSet() { IrcCommands(); }

void ClassifyFrame(std::span<uint8_t> buffer, int32_t length, int32_t iIO, CTraceFile* trace) {
  Frame frame(buffer, length);
  if (frame.Be16(kEtherTypeOffset) != kEtherTypeIpv4) {
    const int32_t count = g_nNonIpFrames.fetch_add(1, std::memory_order_relaxed) + 1;
    if (trace) TraceNonIpFrame(*trace, frame, count);
    return;
  }
  switch (frame.Byte(kIpProtocolOffset)) {
    case kProtocolTcp:
      AnalyzeTcp(frame, iIO, trace);
      break;
    case kProtocolUdp:
      if (frame.Be16(kDestinationPortOffset) == kDnsPort) {
        AnalyzeDns(frame, trace);
      } else if (trace) {
        trace->Write("UDP,Non-DNS,");
        frame.Dump(*trace, kTransportOffset, kTransportDumpEnd);
        trace->Write("\n");
      }
      break;
    default:
      if (trace) {
        trace->Write("IP,Unknown,");
        frame.Dump(*trace, kIpHeaderOffset, kIpDumpEnd);
        trace->Write("\n");
      }
      break;
  }
}

std::string DecodeDnsName(std::span<const uint8_t> bytes) {
  constexpr size_t kMax = CParsePacketResult::kMaxDnsNameLength;
  char name[kMax + 1] = {};
  size_t written = 0;
  size_t pos = 0;
  const auto byteAt = [&](size_t offset) -> uint8_t { return offset < bytes.size() ? bytes[offset] : 0; };
  uint8_t labelLength = byteAt(pos++);
  while (labelLength != 0 && written < kMax) {
    for (uint8_t i = 0; i < labelLength && written < kMax; ++i) name[written++] = static_cast<char>(byteAt(pos++));
    if (byteAt(pos) != 0 && written < kMax) name[written++] = '.';
    labelLength = byteAt(pos++);
  }
  // A zero byte inside a label ends the text there.
  return std::string(name, ::strnlen(name, kMax));
}

bool IsHttpRequestText(const uint8_t* payload, size_t available) {
  char text[30] = {};
  const size_t limit = std::min<size_t>(29, available);
  for (size_t i = 0; i < limit && payload[i] != 0; ++i) {
    text[i] = static_cast<char>(std::toupper(payload[i]));
  }
  const std::string_view upper(text);
  return upper.find("HTTP") != std::string_view::npos && upper.find("PROPFIND") == std::string_view::npos &&
         upper.find("OPTIONS") == std::string_view::npos;
}

bool IsSmtpHello(const uint8_t* payload, size_t available) {
  if (available < 5) return false;
  return std::memcmp(payload, "EHLO ", 5) == 0 || std::memcmp(payload, "HELO ", 5) == 0;
}

bool IsIRCRequest(const uint8_t* payload, int32_t length) {
  const IrcCommandSet& commands = IrcCommands();
  const size_t window = commands.Longest() + 1;
  if (length < 0 || static_cast<size_t>(length) < window) return false;
  const uint8_t* space = std::find(payload, payload + window, uint8_t{' '});
  if (space == payload + window) return false;
  const uint8_t* wordEnd = std::find(payload, space, uint8_t{0});
  const std::string word(reinterpret_cast<const char*>(payload), static_cast<size_t>(wordEnd - payload));
  if (!commands.Contains(word)) return false;
  DebugTraceA(8, kModule, __LINE__, "[IsIRCRequest] IRC command: %s", word.c_str());
  return true;
}

bool NextIrcMessage(const uint8_t*& cursor, const uint8_t* end, std::string_view& text) {
  if (cursor == end) return false;
  if (*cursor == ':' && ++cursor == end) return false;
  const uint8_t* start = cursor;
  const uint8_t* colon = std::find(cursor, end, uint8_t{':'});
  if (colon != end) {
    start = colon + 1;
    cursor = start;
  } else {
    cursor = end;
  }
  if (cursor != end) {
    const uint8_t* lineFeed = std::find(cursor, end, uint8_t{'\n'});
    cursor = lineFeed != end ? lineFeed + 1 : end;
  }
  text = std::string_view(reinterpret_cast<const char*>(start), static_cast<size_t>(cursor - start));
  return true;
}

bool IsBotCmd(const uint8_t* payload, int32_t length, uint32_t server) {
  if (length <= 0) return false;
  const uint8_t* cursor = payload;
  const uint8_t* end = payload + length;
  bool found = false;
  std::string_view text;
  while (NextIrcMessage(cursor, end, text)) {
    if (text.empty() || text.front() != '.') continue;
    found = true;
    // The command is the text up to its first space (or a zero byte); longer than the buffer
    // of 511 characters it is cut.
    std::string_view command = text.substr(0, std::min(text.find_first_of(std::string_view(" \0", 2)), text.size()));
    command = command.substr(0, kBotCmdCapacity - 1);
    size_t pieceStart = 0;
    while (pieceStart <= command.size()) {
      size_t pieceEnd = command.find_first_of("|\r\n", pieceStart);
      if (pieceEnd == std::string_view::npos) pieceEnd = command.size();
      if (pieceEnd > pieceStart) {
        const std::string piece(command.substr(pieceStart, pieceEnd - pieceStart));
        DebugTraceA(8, kModule, __LINE__, "[IsBotCmd] SuspectBotCmd: %s", piece.c_str());
        g_ParsePacketResult.AddBotCmd(piece, server);
      }
      pieceStart = pieceEnd + 1;
    }
  }
  return found;
}
