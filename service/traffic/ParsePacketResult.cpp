#include "ParsePacketResult.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "AgentConfig.h"
#include "SHA1.h"
#include "TraceFile.h"
#include "dl_DebugLog.h"

std::atomic<int64_t> DumpTime{0};
std::atomic<int64_t> LastSendTime{0};

CParsePacketResult g_ParsePacketResult;

namespace {

constexpr const char* kModule = "ParsePacketResult";
// Appended to every DNS name before hashing, so that the digests are not plain name hashes.
constexpr std::string_view kDnsTag = "quilm";

std::string DottedAddress(uint8_t first, uint8_t second, uint8_t third, uint8_t fourth) {
  char text[16];
  std::snprintf(text, sizeof(text), "%d.%d.%d.%d", first, second, third, fourth);
  return text;
}

// Adds one formatted record of at most kMaxRecordLength characters.
void AppendRecord(std::string& output, const char* format, auto... values) {
  char record[CParsePacketResult::kMaxRecordLength + 1];
  const int n = std::snprintf(record, sizeof(record), format, values...);
  if (n > 0) output.append(record, std::min<size_t>(static_cast<size_t>(n), sizeof(record) - 1));
}

bool DigestOfName(const std::string& name, uint32_t digest[5]) {
  SHA1 sha;
  for (const char c : name) {
    const auto lower = static_cast<uint8_t>(std::tolower(static_cast<unsigned char>(c)));
    sha.Input(&lower, 1);
  }
  sha.Input(reinterpret_cast<const uint8_t*>(kDnsTag.data()), kDnsTag.size());
  return sha.Result(digest);
}

}  // namespace

CParsePacketResult::CParsePacketResult() { ClearFindings(); }

void CParsePacketResult::ClearFindings() {
  m_reportFlags &= 0xFF;
  m_ddosCount = 0;
  m_ircCount = 0;
  m_smtpCount = 0;
  m_httpCount = 0;
  m_dnsCount = 0;
  m_dnsIndex.clear();
  m_httpTotalLength = 0;
  m_botCmds.clear();
}

void CParsePacketResult::Reset() {
  std::lock_guard guard(m_lock);
  DebugTraceA(8, kModule, __LINE__, "[CParsePacketResult::Reset] >>>");
  ClearFindings();
}

int32_t CParsePacketResult::SetReportFlags(int32_t value) {
  std::lock_guard guard(m_lock);
  m_reportFlags = value;
  return 1;
}

int32_t CParsePacketResult::AddDNSQuery(std::string_view name) {
  std::lock_guard guard(m_lock);
  DebugTraceA(8, kModule, __LINE__, "[CParsePacketResult::AddDNSQuery] >>>");
  const std::string stored(name.substr(0, kMaxDnsNameLength));
  if (m_dnsIndex.contains(stored) || m_dnsCount >= kMaxDnsNames) return 0;
  m_dnsIndex.insert(stored);
  m_dnsNames[m_dnsCount++] = stored;
  return 1;
}

int32_t CParsePacketResult::AddHttpRedirect(int32_t totalLength) {
  std::lock_guard guard(m_lock);
  ++m_httpCount;
  // The sum has no limit of its own; it wraps like the 32-bit value it is reported as
  // instead of overflowing.
  m_httpTotalLength = static_cast<int32_t>(static_cast<uint32_t>(m_httpTotalLength) +
                                           static_cast<uint32_t>(totalLength));
  return 1;
}

void CParsePacketResult::AddSmtpHello() {
  std::lock_guard guard(m_lock);
  ++m_smtpCount;
}

int32_t CParsePacketResult::AddIrc(uint32_t address, uint16_t port) {
  std::lock_guard guard(m_lock);
  DebugTraceA(8, kModule, __LINE__, "[CParsePacketResult::AddIrc] >>>");
  if (m_ircCount >= kMaxIrcServers) return 0;
  for (int32_t i = 0; i < m_ircCount; ++i) {
    if (m_ircAddresses[i] == address) {
      DebugTraceA(5, kModule, __LINE__, "[AddIrc] This IP entry already exist.");
      return 0;
    }
  }
  m_ircAddresses[m_ircCount] = address;
  m_ircPorts[m_ircCount] = port;
  ++m_ircCount;
  return 1;
}

int32_t CParsePacketResult::AddBotCmd(std::string_view command, uint32_t server) {
  std::lock_guard guard(m_lock);
  DebugTraceA(8, kModule, __LINE__, "[CParsePacketResult::AddBotCmd] >>>");
  m_botCmds.push_back({std::string(command), server});
  return 1;
}

void CParsePacketResult::DumpResult(CTraceFile* trace, std::string& output) {
  const std::shared_ptr<const CConfigSettings> config = GetConfig();
  DumpResult(trace, output, config->GUID);
}

void CParsePacketResult::DumpResult(CTraceFile* trace, std::string& output, std::string_view agentId) {
  std::lock_guard guard(m_lock);
  DebugTraceA(8, kModule, __LINE__, "[CParsePacketResult::DumpResult] >>>");
  if (trace) WriteSummary(*trace);
  if (m_dnsCount == 0 && m_ircCount == 0 && m_smtpCount == 0 && m_httpCount == 0 && m_ddosCount == 0 &&
      m_botCmds.empty()) {
    return;
  }
  output = "bd_agentid=";
  output.append(agentId);
  AppendRecords(output);
}

void CParsePacketResult::WriteSummary(CTraceFile& trace) const {
  trace.Printf("Number of,DNS Query: %d", m_dnsCount);
  for (int32_t i = 0; i < m_dnsCount; ++i) {
    trace.Write(",");
    trace.Write(m_dnsNames[i]);
  }
  trace.Write("\n");
  trace.Printf("Number of,SMTP EHLO: %d\n", m_smtpCount);
  trace.Printf("Number of,IRC Request: %d,", m_ircCount);
  for (int32_t i = 0; i < m_ircCount; ++i) trace.Printf(",%u:%u", m_ircAddresses[i], m_ircPorts[i]);
  trace.Write("\n");
  trace.Printf("Number of,HTTP Redirect: %d, Total Length=%d\n", m_httpCount, m_httpTotalLength);
  trace.Printf("Number of,DDoS: %d\n", m_ddosCount);
}

void CParsePacketResult::AppendRecords(std::string& output) const {
  int index = 1;
  AppendRecord(output, "&et_%d=0&d1_%d=%d", index, index, m_reportFlags);
  ++index;

  for (int32_t i = 0; i < m_ircCount; ++i) {
    const uint32_t address = m_ircAddresses[i];
    AppendRecord(output, "&et_%d=201&d1_%d=%u&d2_%d=%u", index, index, address, index, unsigned{m_ircPorts[i]});
    DebugTraceA(8, kModule, __LINE__, "[DumpResult] IRC ip is %s,port is %d",
                DottedAddress(address >> 24, address >> 16, address >> 8, address).c_str(), m_ircPorts[i]);
    ++index;
  }

  for (const BotCmd& bot : m_botCmds) {
    // A long command is cut so that the record keeps its server address and stays within
    // its 255 characters.
    char tail[64];
    const int tailLength = std::snprintf(tail, sizeof(tail), "&d2_%d=%u", index, bot.server);
    char head[64];
    const int headLength = std::snprintf(head, sizeof(head), "&et_%d=206&d1_%d=", index, index);
    const size_t room = kMaxRecordLength - static_cast<size_t>(headLength + tailLength);
    output.append(head, static_cast<size_t>(headLength));
    output.append(bot.command, 0, room);
    output.append(tail, static_cast<size_t>(tailLength));
    DebugTraceA(8, kModule, __LINE__, "[DumpResult] BotCmd: %s, ServerIP: %s", bot.command.c_str(),
                DottedAddress(bot.server, bot.server >> 8, bot.server >> 16, bot.server >> 24).c_str());
    ++index;
  }

  for (int32_t i = 0; i < m_dnsCount; ++i) {
    const std::string& name = m_dnsNames[i];
    uint32_t digest[5];
    const bool computed = DigestOfName(name, digest);
    DebugTraceA(8, kModule, __LINE__, "[DumpResult] DNS name is %s", name.c_str());
    if (!computed) {
      DebugTraceA(8, kModule, __LINE__, "[DumpResult] could not compute message digest for %s", name.c_str());
      continue;
    }
    AppendRecord(output, "&et_%d=601&d1_%d=%08X%08X%08X%08X%08X", index, index, digest[0], digest[1], digest[2],
                 digest[3], digest[4]);
    ++index;
  }

  const auto interval =
      static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(DumpTime.load() - LastSendTime.load())));
  if (m_smtpCount != 0) {
    AppendRecord(output, "&et_%d=703&d1_%d=%d&d2_%d=%d", index, index, m_smtpCount, index, interval);
    ++index;
  }
  if (m_httpCount != 0) {
    AppendRecord(output, "&et_%d=704&d1_%d=%d&d2_%d=%d", index, index, m_httpTotalLength, index, interval);
  }
}
