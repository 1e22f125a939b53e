#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "frames.h"
#include "report_expectations.h"
#include "test_env.h"

namespace {

using namespace traffic_test;
using velmora::test::ReadFile;
using velmora::test::ScopedTestEnvironment;

struct ToolRun {
  int exitCode = -1;
  std::string out;
};

// Runs the staged tool in folder with the arguments (already quoted for the shell).
ToolRun Analyze(const std::string& folder, const std::string& arguments) {
  const std::string command = "cd '" + folder + "' && exec '" VELMORA_DIST_DIR "/velmora-analyze' " + arguments;
  ToolRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return run;
  std::array<char, 4096> chunk;
  size_t n;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) run.out.append(chunk.data(), n);
  const int status = ::pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

class AnalyzeTool : public ::testing::Test {
 protected:
  ScopedTestEnvironment env;
  std::string dir = env.Root();
};

TEST_F(AnalyzeTool, WritesTheTraceFileAndPrintsTheReport) {
  const Bytes dns = DnsQuery(kLocal, "Mail.Example.NET");
  const Bytes ehlo = TcpFrame(kLocal, 51000, kRemote, 25, "EHLO host\r\n");
  const Bytes http = TcpFrame(kRemote, 51001, kLocal, 80, "GET / HTTP/1.1\r\n\r\n");
  const Bytes nick = TcpFrame(kLocal, 51002, kRemote, 6667, "NICK bob\r\n");
  const Bytes bot = TcpFrame(kRemote, 6667, kLocal, 51002, ":srv PRIVMSG #c :.ddos.syn 10.0.0.1 80\r\n");
  WriteBytes(dir + "/net.pcap", Pcap({dns, ehlo, http, nick, bot}));

  const ToolRun run = Analyze(dir, "net.pcap --agent-id 0123abcd --flags 65537");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "bd_agentid=0123abcd&et_1=0&d1_1=65537&et_2=201&d1_2=167838211&d2_2=6667"
                     "&et_3=206&d1_3=.ddos.syn&d2_3=50462986&et_4=601&d1_4=" +
                         ExpectedDigest("mail.example.net") + "&et_5=703&d1_5=1&d2_5=0&et_6=704&d1_6=58&d2_6=0\n");
  EXPECT_EQ(ReadFile(dir + "/net.csv"),
            "DNS,DNS query,Mail.Example.NET\r\n"
            "TCP,SMTP," + HexDump(WithHostOrderPorts(ehlo), 34, 90) + "\r\n" +
                "TCP,HTTP-Redirect," + HexDump(WithHostOrderPorts(http), 34, 90) + "\r\n" +
                "TCP,IRC Request," + HexDump(WithHostOrderPorts(nick), 34, 90) + "\r\n" +
                "TCP," + HexDump(WithHostOrderPorts(bot), 34, 90) + "\r\n" +
                "Number of,DNS Query: 1,Mail.Example.NET\r\n"
                "Number of,SMTP EHLO: 1\r\n"
                "Number of,IRC Request: 1,,167838211:6667\r\n"
                "Number of,HTTP Redirect: 1, Total Length=58\r\n"
                "Number of,DDoS: 0\r\n");
}

TEST_F(AnalyzeTool, NothingToReportPrintsNothing) {
  std::filesystem::create_directory(dir + "/out");
  WriteBytes(dir + "/quiet.cap", Pcap({ArpFrame()}));
  const ToolRun run = Analyze(dir, "quiet.cap --csv out/q.txt");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(ReadFile(dir + "/out/q.txt"),
            "1,...,ff:ff:ff:ff:ff:ff,de:ad:be:ef:00:01,Non-IP,Non-IP," + HexDump(ArpFrame(), 14, 40) + "\r\n" +
                kEmptySummary);
  EXPECT_FALSE(std::filesystem::exists(dir + "/quiet.csv"));
}

TEST_F(AnalyzeTool, RefusedHeadersLeaveAnEmptyOutputFile) {
  struct Case {
    const char* what;
    Bytes header;
    const char* message;
  } cases[] = {
      {"snapshot 262144", PcapHeader(0xA1B2C3D4, 262144), "Wrong Check 1!\n"},
      {"nanosecond", PcapHeader(0xA1B23C4D), "Magic number error!\n"},
      {"byte-swapped", PcapHeader(0xD4C3B2A1), "Magic number error!\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes file = c.header;
    AppendRecord(file, ArpFrame(), 42);
    WriteBytes(dir + "/bad.pcap", file);
    const ToolRun run = Analyze(dir, "bad.pcap");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, c.message);
    EXPECT_TRUE(std::filesystem::exists(dir + "/bad.csv"));
    EXPECT_EQ(ReadFile(dir + "/bad.csv"), "");
  }
}

TEST_F(AnalyzeTool, OversizedRecordEndsTheFramesButNotTheSummary) {
  const Bytes ehlo = TcpFrame(kLocal, 51000, kRemote, 25, "EHLO host\r\n");
  Bytes file = Pcap({ehlo});
  AppendRecord(file, Bytes(5000, 0xEE), 5000);
  AppendRecord(file, ehlo, static_cast<uint32_t>(ehlo.size()));
  WriteBytes(dir + "/big.pcap", file);
  const ToolRun run = Analyze(dir, "big.pcap --agent-id A");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "bd_agentid=A&et_1=0&d1_1=0&et_2=703&d1_2=1&d2_2=0\n");
  EXPECT_EQ(ReadFile(dir + "/big.csv"),
            "TCP,SMTP," + HexDump(WithHostOrderPorts(ehlo), 34, 90) + "\r\n" +
                "packet is bigger than buffer!\r\n"
                "Number of,DNS Query: 0\r\nNumber of,SMTP EHLO: 1\r\nNumber of,IRC Request: 0,\r\n"
                "Number of,HTTP Redirect: 0, Total Length=0\r\nNumber of,DDoS: 0\r\n");
}

TEST_F(AnalyzeTool, UsageAndFileErrors) {
  struct Case {
    const char* arguments;
    int exitCode;
  } cases[] = {
      {"", 1},
      {"absent.pcap", 1},
      {"a.pcap b.pcap", 1},
      {"a.pcap --flags", 1},
      {"a.pcap --flags 12x", 1},
      {"a.pcap --bogus", 1},
      {"short.pcap", 2},
  };
  WriteBytes(dir + "/short.pcap", Bytes(10, 0));
  for (const Case& c : cases) {
    const ToolRun run = Analyze(dir, std::string(c.arguments) + " 2>/dev/null");
    EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments;
    EXPECT_EQ(run.out, "") << c.arguments;
  }
}

}  // namespace
