// What the classifier finds in one reporting interval, and the report text built from it:
// "bd_agentid=" and the client identifier, then numbered records "&et_N=code&d1_N=...&d2_N=...".
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

class CTraceFile;

// The backend sender's two times (seconds since 1970): when the periodic report was last built,
// and when the sender started or the backend last accepted a report. Records 703 and 704 carry
// the difference.
extern std::atomic<int64_t> DumpTime;
extern std::atomic<int64_t> LastSendTime;

class CParsePacketResult {
 public:
  static constexpr int kMaxDnsNames = 99;
  static constexpr int kMaxIrcServers = 99;
  static constexpr size_t kMaxDnsNameLength = 63;
  static constexpr size_t kMaxRecordLength = 255;

  CParsePacketResult();

  // Empties the interval's findings; of the report flags only the low 8 bits stay.
  void Reset();
  int32_t SetReportFlags(int32_t value);

  // 1 when stored; 0 for a name already stored (compared byte for byte) or a full table.
  int32_t AddDNSQuery(std::string_view name);
  int32_t AddHttpRedirect(int32_t totalLength);
  void AddSmtpHello();
  // address in host byte order (first octet most significant). 1 when stored; 0 when the
  // address is already known (whatever the port) or the table is full.
  int32_t AddIrc(uint32_t address, uint16_t port);
  // server: the four address bytes as they stand in the frame, read as a little-endian value.
  int32_t AddBotCmd(std::string_view command, uint32_t server);

  // Writes the summary to the trace when one is given; when anything was found, replaces output
  // with the report. The identifier is the "GUID" setting unless one is given.
  void DumpResult(CTraceFile* trace, std::string& output);
  void DumpResult(CTraceFile* trace, std::string& output, std::string_view agentId);

 private:
  struct BotCmd {
    std::string command;
    uint32_t server;
  };
  void ClearFindings();
  void WriteSummary(CTraceFile& trace) const;
  void AppendRecords(std::string& output) const;

  mutable std::mutex m_lock;
  std::string m_dnsNames[kMaxDnsNames + 1];
  // The stored names again, so that the duplicate test of every query is one lookup.
  std::unordered_set<std::string> m_dnsIndex;
  int32_t m_dnsCount = 0;
  int32_t m_httpCount = 0;
  int32_t m_httpTotalLength = 0;
  int32_t m_smtpCount = 0;
  int32_t m_ircCount = 0;
  uint32_t m_ircAddresses[kMaxIrcServers + 1] = {};
  uint16_t m_ircPorts[kMaxIrcServers + 1] = {};
  int32_t m_ddosCount = 0;
  std::vector<BotCmd> m_botCmds;
  int32_t m_reportFlags = 0;
};

extern CParsePacketResult g_ParsePacketResult;
