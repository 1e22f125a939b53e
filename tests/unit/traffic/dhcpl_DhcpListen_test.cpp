#include "dhcpl_DhcpListen.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "AgentConfig.h"

#include "Packetdispatcher.h"
#include "ParsePacketResult.h"
#include "TraceFile.h"
#include "frames.h"
#include "test_env.h"

namespace {

using namespace traffic_test;
using velmora::test::ReadFile;
using velmora::test::ScopedTestEnvironment;

constexpr const char* kEmptyReport = "bd_agentid=ID&et_1=0&d1_1=0";

// The dump of a TCP frame shows its ports as the classifier turned them around.
Bytes WithHostOrderPorts(Bytes f) {
  std::swap(f[34], f[35]);
  std::swap(f[36], f[37]);
  return f;
}

std::string TcpLine(const Bytes& frame, const std::string& label) {
  return "TCP," + label + HexDump(WithHostOrderPorts(frame), 34, 90) + "\r\n";
}

class ClassifierTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_ParsePacketResult.Reset();
    g_ParsePacketResult.SetReportFlags(0);
    RegisterPermanentRules(g_PacketDispatcher);
    g_nNonIpFrames = 0;
    LastSendTime = 0;
    DumpTime = 0;
  }

  // Classifies in a live-sized buffer, the frame at its start and zeros after it.
  void Classify(const Bytes& frame, int32_t iIO, CTraceFile* trace = nullptr) {
    Bytes buffer(kLiveFrameBufferSize, 0);
    std::copy(frame.begin(), frame.end(), buffer.begin());
    ClassifyFrame(buffer, static_cast<int32_t>(frame.size()), iIO, trace);
  }

  struct Sent {
    Bytes frame;
    int32_t iIO;
  };
  std::string TraceOf(const std::vector<Sent>& frames) {
    const std::string path = env.Root() + "/trace.csv";
    CTraceFile trace;
    EXPECT_TRUE(trace.Create(path));
    for (const Sent& s : frames) Classify(s.frame, s.iIO, &trace);
    EXPECT_TRUE(trace.Close());
    return ReadFile(path);
  }

  // The records after the always-present first one.
  std::string Records() {
    std::string report;
    g_ParsePacketResult.DumpResult(nullptr, report, "ID");
    if (report.empty()) return "(none)";
    EXPECT_EQ(report.rfind(kEmptyReport, 0), 0u) << report;
    return report.substr(std::string(kEmptyReport).size());
  }

  ScopedTestEnvironment env;
};

struct TcpCase {
  const char* what;
  int32_t iIO;
  uint16_t sport, dport;
  const char* payload;
  const char* records;  // after the first record; "(none)" when nothing is reported
  const char* label;
};

TEST_F(ClassifierTest, TcpPayloadsByDirectionAndPort) {
  const TcpCase cases[] = {
      {"GET to our web server", 0, 51000, 80, "GET / HTTP/1.1\r\nHost: x\r\n\r\n", "&et_2=704&d1_2=67&d2_2=0",
       "HTTP-Redirect,"},
      {"lower case request", 0, 51000, 80, "get / http/1.0\r\n\r\n", "&et_2=704&d1_2=58&d2_2=0", "HTTP-Redirect,"},
      {"OPTIONS", 0, 51000, 80, "OPTIONS / HTTP/1.1\r\n\r\n", "(none)", "HTTP Response,"},
      {"PROPFIND", 0, 51000, 80, "PROPFIND /x HTTP/1.1\r\n\r\n", "(none)", "HTTP Response,"},
      {"HTTP beyond 29 bytes", 0, 51000, 80, "GET /a/very/long/path/name.html HTTP/1.1\r\n", "(none)",
       "HTTP Response,"},
      {"a response is no request", 0, 51000, 80, "<html>hello</html>", "(none)", "HTTP Response,"},
      {"sent to port 80 goes to IRC analysis", 1, 51000, 80, "GET / HTTP/1.1\r\n\r\n", "(none)", ""},
      {"EHLO", 1, 51000, 25, "EHLO host\r\n", "&et_2=703&d1_2=1&d2_2=0", "SMTP,"},
      {"HELO", 1, 51000, 25, "HELO host\r\n", "&et_2=703&d1_2=1&d2_2=0", "SMTP,"},
      {"ehlo", 1, 51000, 25, "ehlo host\r\n", "(none)", ""},
      {"EHLO without room after it", 1, 51000, 25, "EHLO ", "(none)", ""},
      {"received EHLO", 0, 51000, 25, "EHLO host\r\n", "(none)", ""},
      {"NICK to port 25 is SMTP analysis", 1, 51000, 25, "NICK bob\r\n", "(none)", ""},
      {"NICK", 1, 51000, 6667, "NICK bob\r\n", "&et_2=201&d1_2=167838211&d2_2=6667", "IRC Request,"},
      {"USERHOST", 1, 51000, 6667, "USERHOST x", "&et_2=201&d1_2=167838211&d2_2=6667", "IRC Request,"},
      {"PRIVMSG", 1, 51000, 7000, "PRIVMSG #chan :hi", "&et_2=201&d1_2=167838211&d2_2=7000", "IRC Request,"},
      {"JOIN #x is too short", 1, 51000, 6667, "JOIN #x", "(none)", ""},
      {"lower-case nick", 1, 51000, 6667, "nick bob\r\n", "(none)", ""},
      {"server reply", 1, 51000, 6667, ":srv 001 bob\r\n", "(none)", ""},
      {"word without space in 9 bytes", 1, 51000, 6667, "PRIVMSGXX #a", "(none)", ""},
      {"received NICK matches no rule", 0, 6667, 51000, "NICK bob\r\n", "(none)", ""},
  };
  for (const TcpCase& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    const Bytes frame = c.iIO == 1 ? TcpFrame(kLocal, c.sport, kRemote, c.dport, c.payload)
                                   : TcpFrame(kRemote, c.sport, kLocal, c.dport, c.payload);
    EXPECT_EQ(TraceOf({{frame, c.iIO}}), TcpLine(frame, c.label));
    EXPECT_EQ(Records(), c.records);
  }
}

TEST_F(ClassifierTest, PortsAreTurnedToHostOrderInTheFrame) {
  Bytes buffer(kLiveFrameBufferSize, 0);
  const Bytes frame = TcpFrame(kLocal, 0x1234, kRemote, 0xABCD, "hi");
  std::copy(frame.begin(), frame.end(), buffer.begin());
  ClassifyFrame(buffer, static_cast<int32_t>(frame.size()), 1, nullptr);
  EXPECT_EQ(buffer[34], 0x34);
  EXPECT_EQ(buffer[35], 0x12);
  EXPECT_EQ(buffer[36], 0xCD);
  EXPECT_EQ(buffer[37], 0xAB);
}

TEST_F(ClassifierTest, FramesThatEndTheirLineEarly) {
  const Bytes netbios = TcpFrame(kLocal, 51000, kRemote, 139, "NICK bob\r\n");
  const Bytes fromNetbios = TcpFrame(kRemote, 139, kLocal, 80, "GET / HTTP/1.1\r\n\r\n");
  const Bytes empty = TcpFrame(kLocal, 51000, kRemote, 6667, "");
  Bytes lying = TcpFrame(kLocal, 51000, kRemote, 6667, "NICK bob\r\n");
  PutBe16(lying, 16, 40);  // the IPv4 length leaves no payload
  const Bytes arp = ArpFrame();
  EXPECT_EQ(TraceOf({{netbios, 1}, {fromNetbios, 0}, {empty, 1}, {lying, 1}, {arp, 0}}),
            "TCP,TCP,TCP,TCP,1,...,ff:ff:ff:ff:ff:ff,de:ad:be:ef:00:01,Non-IP,Non-IP," + HexDump(arp, 14, 40) + "\r\n");
  EXPECT_EQ(Records(), "(none)");
}

TEST_F(ClassifierTest, NonIpAndOtherProtocolLines) {
  Bytes icmp = IpFrame(1, kLocal, kRemote, 30);
  for (size_t i = 34; i < icmp.size(); ++i) icmp[i] = static_cast<uint8_t>(i);
  Bytes shortArp = ArpFrame();
  shortArp.resize(20);
  const Bytes udp = UdpFrame(kLocal, 5000, kRemote, 5001, Bytes(60, 0x41));
  EXPECT_EQ(TraceOf({{ArpFrame(), 0}, {icmp, 1}, {shortArp, 0}, {udp, 1}}),
            "1,...,ff:ff:ff:ff:ff:ff,de:ad:be:ef:00:01,Non-IP,Non-IP," + HexDump(ArpFrame(), 14, 40) + "\r\n" +
                "IP,Unknown," + HexDump(icmp, 14, 40) + "\r\n" +
                "2,...,ff:ff:ff:ff:ff:ff,de:ad:be:ef:00:01,Non-IP,Non-IP," + HexDump(shortArp, 14, 20) + "\r\n" +
                "UDP,Non-DNS," + HexDump(udp, 34, 90) + "\r\n");
  EXPECT_EQ(g_nNonIpFrames.load(), 2);
}

TEST_F(ClassifierTest, DnsQueries) {
  const std::string seventy = std::string(40, 'a') + "." + std::string(29, 'b');
  const std::string cut = std::string(40, 'a') + "." + std::string(22, 'b');
  struct Case {
    const char* what;
    Bytes frame;
    std::string line;
    std::string stored;  // empty: nothing stored
  } cases[] = {
      {"plain name", DnsQuery(kLocal, "www.Example.com"), "DNS,DNS query,www.Example.com\r\n", "www.Example.com"},
      {"root", DnsQuery(kLocal, ""), "DNS,DNS query,<ROOT>\r\n", "<ROOT>"},
      {"70 characters", DnsQuery(kLocal, seventy), "DNS,DNS query," + cut + "\r\n", cut},
      {"two questions", DnsQuery(kLocal, "a.example", 0x01, 2), "DNS,DNS Dynamic Update, \r\n", ""},
      {"no question", DnsQuery(kLocal, "a.example", 0x01, 0), "DNS,DNS Dynamic Update, \r\n", ""},
      {"response", DnsQuery(kLocal, "a.example", 0x81), "DNS,DNS Dynamic Update, \r\n", ""},
      {"update opcode", DnsQuery(kLocal, "a.example", 0x28), "DNS,DNS Dynamic Update, \r\n", ""},
      {"flags 7 still a query", DnsQuery(kLocal, "q.example", 0x07), "DNS,DNS query,q.example\r\n", "q.example"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    EXPECT_EQ(TraceOf({{c.frame, 1}}), c.line);
    CParsePacketResult expected;
    if (!c.stored.empty()) expected.AddDNSQuery(c.stored);
    std::string want, got;
    expected.DumpResult(nullptr, want, "ID");
    g_ParsePacketResult.DumpResult(nullptr, got, "ID");
    EXPECT_EQ(got, want);
  }
}

TEST_F(ClassifierTest, DecodeDnsNameStopsAtItsLimits) {
  struct Case {
    Bytes wire;
    std::string name;
  } cases[] = {
      {{0}, ""},
      {{3, 'w', 'w', 'w', 1, 'x', 0}, "www.x"},
      {{2, 'a', 0, 1, 'b', 0}, "a"},             // a zero byte inside a label ends the text
      {{0xC0, 0x0C}, std::string("\x0c", 1)},    // a compression pointer is only a count
      {{5, 'a', 'b'}, "ab"},                     // the name runs past the bytes given
      {{}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeDnsName(c.wire), c.name);
  Bytes labels;
  for (int i = 0; i < 40; ++i) labels.insert(labels.end(), {1, 'z'});
  labels.push_back(0);
  const std::string name = DecodeDnsName(labels);
  EXPECT_EQ(name.size(), 63u);
  EXPECT_EQ(name.substr(0, 6), "z.z.z.");
}

TEST_F(ClassifierTest, IrcConversationTeachesTheDispatcherToLookForBotCommands) {
  // Ports no other test of this program teaches the process-wide dispatcher.
  const Bytes nick = TcpFrame(kLocal, 52345, kRemote, 6697, "NICK bob\r\n");
  const Bytes command = TcpFrame(kRemote, 6697, kLocal, 52345, ":srv PRIVMSG #c :.ddos.syn 10.0.0.1 80\r\n");
  const Bytes otherClient = TcpFrame(kRemote, 6697, kLocal, 52346, ":srv PRIVMSG #c :.other\r\n");
  const std::string trace = TraceOf({{command, 0}, {nick, 1}, {command, 0}, {otherClient, 0}});
  EXPECT_EQ(trace, TcpLine(command, "") + TcpLine(nick, "IRC Request,") + TcpLine(command, "") +
                       TcpLine(otherClient, ""));
  // 10.1.2.3: the frame's address bytes read little-endian.
  EXPECT_EQ(Records(), "&et_2=201&d1_2=167838211&d2_2=6697&et_3=206&d1_3=.ddos.syn&d2_3=50462986");
  DispatchEntry key{0, 6697, 52345};
  EXPECT_EQ(g_PacketDispatcher.Lookup(key), BotCommand);
}

TEST_F(ClassifierTest, BotCommandPieces) {
  struct Case {
    const char* payload;
    bool found;
    std::vector<std::string> pieces;
  } cases[] = {
      {":srv PRIVMSG #c :.get x\r\n", true, {".get"}},
      {":srv PRIVMSG #c :.scan.start 10|.login\r\n", true, {".scan.start"}},
      {".a|.b c", true, {".a", ".b"}},
      {":a PRIVMSG #c :.one\r\n:b PRIVMSG #c :.two\r\n", true, {".one", ".two"}},
      {"PING srv\r\n:.next line\r\n", true, {".next"}},  // the colon search runs into the next line
      {":srv PRIVMSG #c :hello\r\n", false, {}},
      {"..|||\r", true, {".."}},
      {":", false, {}},
      {"", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.payload);
    SetUp();
    const std::string payload = c.payload;
    EXPECT_EQ(IsBotCmd(reinterpret_cast<const uint8_t*>(payload.data()), static_cast<int32_t>(payload.size()),
                       0x0201A8C0),
              c.found);
    std::string expected;
    for (size_t i = 0; i < c.pieces.size(); ++i) {
      const std::string n = std::to_string(i + 2);
      expected += "&et_" + n + "=206&d1_" + n + "=" + c.pieces[i] + "&d2_" + n + "=33663168";
    }
    EXPECT_EQ(Records(), c.pieces.empty() ? "(none)" : expected);
  }
}

TEST_F(ClassifierTest, BotCommandLongerThanItsBufferIsCut) {
  const std::string payload = ":s PRIVMSG #c :." + std::string(700, 'y') + " arg\r\n";
  EXPECT_TRUE(IsBotCmd(reinterpret_cast<const uint8_t*>(payload.data()), static_cast<int32_t>(payload.size()), 1));
  std::string report;
  g_ParsePacketResult.DumpResult(nullptr, report, "ID");
  // The record itself is then cut to its 255 characters, keeping the address.
  EXPECT_NE(report.find("&d1_2=.yyy"), std::string::npos);
  EXPECT_EQ(report.size(), std::string(kEmptyReport).size() + 255);
}

TEST_F(ClassifierTest, NextIrcMessageGivesTheTrailingText) {
  const std::string line = ":srv PRIVMSG #c :.get x\r\nPING y\r\n";
  const auto* cursor = reinterpret_cast<const uint8_t*>(line.data());
  const auto* end = cursor + line.size();
  std::string_view text;
  ASSERT_TRUE(NextIrcMessage(cursor, end, text));
  EXPECT_EQ(text, ".get x\r\n");
  ASSERT_TRUE(NextIrcMessage(cursor, end, text));
  EXPECT_EQ(text, "PING y\r\n");  // no colon left: the text starts at the cursor
  EXPECT_FALSE(NextIrcMessage(cursor, end, text));
}

// Every fixture frame, cut to every length and handed in a buffer of exactly that size: the
// classifier must stay inside it (the sanitizers see any read or write past it).
TEST_F(ClassifierTest, ShortBuffersAreNeverOverrun) {
  const Bytes frames[] = {
      TcpFrame(kLocal, 51000, kRemote, 6667, "NICK bob\r\n"),
      TcpFrame(kRemote, 6667, kLocal, 51000, ":srv PRIVMSG #c :.ddos.syn 10.0.0.1 80\r\n"),
      TcpFrame(kRemote, 51000, kLocal, 80, "GET / HTTP/1.1\r\n\r\n"),
      DnsQuery(kLocal, std::string(40, 'a') + "." + std::string(40, 'b')),
      ArpFrame(),
  };
  const std::string path = env.Root() + "/trace.csv";
  CTraceFile trace;
  ASSERT_TRUE(trace.Create(path));
  for (const Bytes& whole : frames) {
    for (size_t size = 0; size <= whole.size(); ++size) {
      for (const int32_t length : {static_cast<int32_t>(size), 1462, -1}) {
        std::vector<uint8_t> buffer(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        ClassifyFrame(buffer, length, size % 2 ? 1 : 0, &trace);
        ClassifyFrame(buffer, length, 0, nullptr);
      }
    }
  }
  EXPECT_TRUE(trace.Close());
}

// Each switch off in turn, through the settings file as a user would turn it off.
TEST_F(ClassifierTest, SwitchedOffAnalysesRecordNothing) {
  const std::string folder = env.Root() + "/install/";
  std::filesystem::create_directories(folder + "Config");
  const auto useSettings = [&](const std::string& operation) {
    velmora::test::WriteFile(folder + "Config/Config.ini", "[Operation]\r\nGUID=ID\r\n" + operation);
    InitConfig(folder);
  };
  const uint32_t server2 = Ip(10, 9, 9, 9);
  const Bytes nick = TcpFrame(kLocal, 53001, kRemote, 6668, "NICK bob\r\n");
  const Bytes learnedCommand = TcpFrame(kRemote, 6668, kLocal, 53001, ":s PRIVMSG #c :.learned\r\n");
  const Bytes nick2 = TcpFrame(kLocal, 53002, server2, 6669, "NICK bob\r\n");
  const Bytes unlearnedCommand = TcpFrame(server2, 6669, kLocal, 53002, ":s PRIVMSG #c :.unlearned\r\n");
  const Bytes get = TcpFrame(kRemote, 53003, kLocal, 80, "GET / HTTP/1.1\r\n\r\n");
  const Bytes ehlo = TcpFrame(kLocal, 53004, kRemote, 25, "EHLO host\r\n");
  const Bytes dns = DnsQuery(kLocal, "www.example.com");

  useSettings("");
  Classify(nick, 1);
  g_ParsePacketResult.Reset();

  useSettings("CheckIrcRequest=0\r\n");
  EXPECT_EQ(TraceOf({{nick2, 1}, {unlearnedCommand, 0}, {learnedCommand, 0}}),
            TcpLine(nick2, "") + TcpLine(unlearnedCommand, "") + TcpLine(learnedCommand, ""));
  // A server learned before still has its commands recorded until its rule expires.
  EXPECT_EQ(Records(), "&et_2=206&d1_2=.learned&d2_2=50462986");
  g_ParsePacketResult.Reset();

  useSettings("CheckHttpIncoming=0\r\nCheckSmtpOutgoing=0\r\nCheckDnsQuery=0\r\n");
  EXPECT_EQ(TraceOf({{get, 0}, {ehlo, 1}, {dns, 1}, {ArpFrame(), 0}}),
            TcpLine(get, "HTTP Response,") + TcpLine(ehlo, "") + "DNS," +
                "1,...,ff:ff:ff:ff:ff:ff,de:ad:be:ef:00:01,Non-IP,Non-IP," + HexDump(ArpFrame(), 14, 40) + "\r\n");
  EXPECT_EQ(Records(), "(none)");

  useSettings("");
  EXPECT_EQ(TraceOf({{get, 0}, {ehlo, 1}}), TcpLine(get, "HTTP-Redirect,") + TcpLine(ehlo, "SMTP,"));
}

}  // namespace
