#include "PcapMonitor.h"

#include <gtest/gtest.h>

#include <string>

#include "Packetdispatcher.h"
#include "ParsePacketResult.h"
#include "report_expectations.h"
#include "dhcpl_DhcpListen.h"
#include "frames.h"
#include "test_env.h"

namespace {

using namespace traffic_test;
using velmora::test::ReadFile;
using velmora::test::ScopedTestEnvironment;

TEST(CheckPcapHeader, AcceptsOnlyTheClassicLittleEndianEthernetFormat) {
  struct Case {
    const char* what;
    Bytes header;
    const char* message;  // printed on standard output; empty when accepted
  } cases[] = {
      {"classic", PcapHeader(), ""},
      {"nanosecond", PcapHeader(0xA1B23C4D), "Magic number error!\n"},
      {"byte-swapped", PcapHeader(0xD4C3B2A1), "Magic number error!\n"},
      {"snapshot 262144", PcapHeader(0xA1B2C3D4, 262144), "Wrong Check 1!\n"},
      {"raw IP link", PcapHeader(0xA1B2C3D4, 65535, 101), "Wrong Check 2!\n"},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(CheckPcapHeader(c.header.data()), c.message[0] == 0) << c.what;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message) << c.what;
  }
  struct Patch {
    size_t offset;
    uint8_t value;
    const char* message;
  } patches[] = {
      {4, 3, "Wrong Version!\n"},     // version 2.3
      {8, 1, "Wrong 6 zeros!\n"},     // time-zone correction
      {13, 1, "Wrong 6 zeros!\n"},    // first half of the accuracy field
      {14, 0xFF, ""},                 // its second half is not looked at
      {15, 0xFF, ""},
  };
  for (const Patch& p : patches) {
    Bytes header = PcapHeader();
    header[p.offset] = p.value;
    testing::internal::CaptureStdout();
    EXPECT_EQ(CheckPcapHeader(header.data()), p.message[0] == 0) << p.offset;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), p.message) << p.offset;
  }
}

TEST(PcapOutputPath, SiblingFolderAndCsvExtension) {
  struct Case {
    const char* capture;
    std::optional<std::string> output;
  } cases[] = {
      {"/opt/velmora/Pcap_input/net.pcap", "/opt/velmora/Pcap_output/net.csv"},
      {"/opt/velmora/Pcap_input/a.b.cap", "/opt/velmora/Pcap_output/a.b.csv"},
      {"/opt/v.1/Pcap_input/noext", "/opt/v.1/Pcap_output/noextcsv"},  // a folder's dot is not the extension
      {"in/x.pcap", std::nullopt},
      {"x.pcap", std::nullopt},
      {"/x.pcap", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(MakePcapOutputPath(c.capture), c.output) << c.capture;
  EXPECT_EQ(MakePcapOutputPath("/" + std::string(250, 'f') + "/Pcap_input/net.pcap"), std::nullopt);
  EXPECT_EQ(CsvFileName("trace.pcap"), "trace.csv");
  EXPECT_EQ(CsvFileName("trace."), "trace.csv");
}

class CaptureFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitIrcCommandSet();
    RegisterPermanentRules(g_PacketDispatcher);
    g_ParsePacketResult.Reset();
    g_nNonIpFrames = 0;
    LastSendTime = 0;
    DumpTime = 0;
  }
  CaptureAnalysis Analyze(const Bytes& file, std::string& report) {
    WriteBytes(capture, file);
    return TraceCaptureFile(capture, output, "ID", report);
  }
  ScopedTestEnvironment env;
  std::string capture = env.Root() + "/net.pcap";
  std::string output = env.Root() + "/net.csv";
};

TEST_F(CaptureFileTest, TracesEveryFrameThenTheSummary) {
  const Bytes nick = TcpFrame(kLocal, 51000, kRemote, 6667, "NICK bob\r\n");
  const Bytes command = TcpFrame(kRemote, 6667, kLocal, 51000, ":srv PRIVMSG #c :.get x\r\n");
  const Bytes dns = DnsQuery(kLocal, "www.example.com");
  const Bytes arp = ArpFrame();
  std::string report;
  ASSERT_EQ(Analyze(Pcap({nick, command, dns, arp}), report), CaptureAnalysis::Analysed);
  EXPECT_EQ(ReadFile(output),
            "TCP,IRC Request," + HexDump(WithHostOrderPorts(nick), 34, 90) + "\r\n" +
                "TCP," + HexDump(WithHostOrderPorts(command), 34, 90) + "\r\n" +
                "DNS,DNS query,www.example.com\r\n" +
                "1,...,ff:ff:ff:ff:ff:ff,de:ad:be:ef:00:01,Non-IP,Non-IP," + HexDump(arp, 14, 40) + "\r\n" +
                "Number of,DNS Query: 1,www.example.com\r\n"
                "Number of,SMTP EHLO: 0\r\n"
                "Number of,IRC Request: 1,,167838211:6667\r\n"
                "Number of,HTTP Redirect: 0, Total Length=0\r\n"
                "Number of,DDoS: 0\r\n");
  EXPECT_EQ(report.rfind("bd_agentid=ID&et_1=0&d1_1=0&et_2=201&d1_2=167838211&d2_2=6667"
                         "&et_3=206&d1_3=.get&d2_3=50462986&et_4=601&d1_4=",
                         0),
            0u)
      << report;
}

TEST_F(CaptureFileTest, FirstFrameDecidesWhichAddressIsThisComputer) {
  // The file starts with a frame from the IRC server, so the server counts as this computer and
  // its command to the client is taken as sent, not as a bot command received.
  const Bytes command = TcpFrame(kRemote, 6667, kLocal, 51000, ":srv PRIVMSG #c :.get x\r\n");
  const Bytes nick = TcpFrame(kLocal, 51000, kRemote, 6667, "NICK bob\r\n");
  std::string report;
  ASSERT_EQ(Analyze(Pcap({command, nick, command}), report), CaptureAnalysis::Analysed);
  EXPECT_EQ(report, "");
  EXPECT_EQ(ReadFile(output), "TCP," + HexDump(WithHostOrderPorts(command), 34, 90) + "\r\n" +
                                  "TCP," + HexDump(WithHostOrderPorts(nick), 34, 90) + "\r\n" +
                                  "TCP," + HexDump(WithHostOrderPorts(command), 34, 90) + "\r\n" + kEmptySummary);
}

TEST_F(CaptureFileTest, ReadingStopsAtARecordThatCannotBeReadWhole) {
  const Bytes arp = ArpFrame();
  const std::string arpLine =
      "1,...,ff:ff:ff:ff:ff:ff,de:ad:be:ef:00:01,Non-IP,Non-IP," + HexDump(arp, 14, 40) + "\r\n";
  struct Case {
    const char* what;
    Bytes tail;  // after the first record; the file ends with it unless more follows
    bool moreFollows;
    const char* message;
  } cases[] = {
      {"oversized", [] { Bytes t; AppendRecord(t, Bytes(5000, 0), 5000); return t; }(), true,
       "packet is bigger than buffer!\r\n"},
      {"4096 bytes", [] { Bytes t; AppendRecord(t, Bytes(4096, 0), 4096); return t; }(), true,
       "packet is bigger than buffer!\r\n"},
      {"cut head", Bytes(10, 0), false, "Error at read block head!\r\n"},
      {"cut content", [] { Bytes t; AppendRecord(t, Bytes(20, 0), 60); return t; }(), false,
       "Error at read block content!\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    Bytes file = Pcap({arp});
    file.insert(file.end(), c.tail.begin(), c.tail.end());
    if (c.moreFollows) AppendRecord(file, arp, static_cast<uint32_t>(arp.size()));
    std::string report;
    ASSERT_EQ(Analyze(file, report), CaptureAnalysis::Analysed);
    EXPECT_EQ(ReadFile(output), arpLine + c.message + kEmptySummary);
  }
}

TEST_F(CaptureFileTest, BytesBeyondAShortFrameDoNotComeFromTheFrameBefore) {
  // A long DNS query, then the same frame cut before its name ends: the second must not pick up
  // the rest of the first one's name.
  const Bytes whole = DnsQuery(kLocal, "abcdefghij.example");
  Bytes cut = whole;
  cut.resize(58);
  Bytes file = Pcap({whole});
  AppendRecord(file, cut, static_cast<uint32_t>(cut.size()));
  std::string report;
  ASSERT_EQ(Analyze(file, report), CaptureAnalysis::Analysed);
  const std::string trace = ReadFile(output);
  EXPECT_EQ(trace.substr(0, trace.find("Number of")), "DNS,DNS query,abcdefghij.example\r\nDNS,DNS query,abc\r\n");
}

TEST_F(CaptureFileTest, RefusedOrMissingFiles) {
  std::string report = "kept";
  testing::internal::CaptureStdout();
  EXPECT_EQ(Analyze(PcapHeader(0xA1B2C3D4, 262144), report), CaptureAnalysis::HeaderRejected);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Wrong Check 1!\n");
  EXPECT_EQ(ReadFile(output), "");
  EXPECT_EQ(Analyze(Bytes(10, 0), report), CaptureAnalysis::HeaderMissing);
  EXPECT_EQ(report, "kept");

  EXPECT_EQ(TraceCaptureFile(env.Root() + "/absent.pcap", output, "ID", report), CaptureAnalysis::CaptureNotOpened);
  EXPECT_EQ(TraceCaptureFile(capture, env.Root() + "/no/such/folder/x.csv", "ID", report),
            CaptureAnalysis::OutputFailed);
}

}  // namespace
