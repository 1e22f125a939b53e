#include "ParsePacketResult.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "TraceFile.h"
#include "report_expectations.h"
#include "test_env.h"

namespace {

using traffic_test::ExpectedDigest;
using velmora::test::ReadFile;
using velmora::test::ScopedTestEnvironment;

class ResultStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LastSendTime = 1000;
    DumpTime = 1030;
  }
  std::string Report() {
    std::string report;
    store.DumpResult(nullptr, report, "AGENT");
    return report;
  }
  ScopedTestEnvironment env;
  CParsePacketResult store;
};

TEST_F(ResultStoreTest, ReportOfTheWorkedExample) {
  store.SetReportFlags(1);
  store.AddIrc(0x0A010203, 6667);
  store.AddSmtpHello();
  store.AddSmtpHello();
  EXPECT_EQ(Report(), "bd_agentid=AGENT&et_1=0&d1_1=1&et_2=201&d1_2=167838211&d2_2=6667&et_3=703&d1_3=2&d2_3=30");
}

TEST_F(ResultStoreTest, NothingRecordedLeavesTheOutputAsItWas) {
  store.SetReportFlags(7);
  std::string report;
  store.DumpResult(nullptr, report, "AGENT");
  EXPECT_EQ(report, "");
  report = "untouched";
  store.DumpResult(nullptr, report, "AGENT");
  EXPECT_EQ(report, "untouched");
}

TEST_F(ResultStoreTest, AddressEncodingsOfIrcServersAndBotCommands) {
  // 192.168.1.2: host order for 201, the frame's bytes read little-endian for 206.
  store.AddIrc(0xC0A80102, 6667);
  store.AddBotCmd(".ddos.syn", 0x0201A8C0);
  store.AddBotCmd(".ddos.syn", 0x0201A8C0);
  EXPECT_EQ(Report(),
            "bd_agentid=AGENT&et_1=0&d1_1=0&et_2=201&d1_2=3232235778&d2_2=6667"
            "&et_3=206&d1_3=.ddos.syn&d2_3=33663168&et_4=206&d1_4=.ddos.syn&d2_4=33663168");
}

TEST_F(ResultStoreTest, DnsNamesAreHashedInOrderAndComparedWithCase) {
  EXPECT_EQ(store.AddDNSQuery("Mail.Example.Net"), 1);
  EXPECT_EQ(store.AddDNSQuery("mail.example.net"), 1);
  EXPECT_EQ(store.AddDNSQuery("mail.example.net"), 0);
  EXPECT_EQ(store.AddDNSQuery("<ROOT>"), 1);
  const std::string mail = ExpectedDigest("mail.example.net");
  EXPECT_EQ(Report(), "bd_agentid=AGENT&et_1=0&d1_1=0&et_2=601&d1_2=" + mail + "&et_3=601&d1_3=" + mail +
                          "&et_4=601&d1_4=" + ExpectedDigest("<ROOT>"));
}

TEST_F(ResultStoreTest, TablesHoldNinetyNineEntries) {
  for (int i = 0; i < 99; ++i) EXPECT_EQ(store.AddDNSQuery("host" + std::to_string(i) + ".example"), 1);
  EXPECT_EQ(store.AddDNSQuery("the100th.example"), 0);
  for (uint32_t i = 0; i < 99; ++i) EXPECT_EQ(store.AddIrc(0x0A000000 + i, 6667), 1);
  EXPECT_EQ(store.AddIrc(0x0B000000, 6667), 0);
  const std::string report = Report();
  EXPECT_NE(report.find("&et_199=601&d1_199=" + ExpectedDigest("host98.example")), std::string::npos);
  EXPECT_EQ(report.find(ExpectedDigest("the100th.example")), std::string::npos);
  EXPECT_EQ(report.find("&et_200="), std::string::npos);
}

TEST_F(ResultStoreTest, KnownIrcAddressWithAnotherPortIsNotStored) {
  EXPECT_EQ(store.AddIrc(0x0A010203, 6667), 1);
  EXPECT_EQ(store.AddIrc(0x0A010203, 7000), 0);
  EXPECT_EQ(Report(), "bd_agentid=AGENT&et_1=0&d1_1=0&et_2=201&d1_2=167838211&d2_2=6667");
}

TEST_F(ResultStoreTest, MarkedFlagsGoOutOnceAndResetClearsTheMark) {
  store.SetReportFlags(1 + 65536);
  store.AddHttpRedirect(60);
  store.AddHttpRedirect(40);
  EXPECT_EQ(Report(), "bd_agentid=AGENT&et_1=0&d1_1=65537&et_2=704&d1_2=100&d2_2=30");
  store.Reset();
  EXPECT_EQ(Report(), "");
  store.AddSmtpHello();
  DumpTime = 1100;
  EXPECT_EQ(Report(), "bd_agentid=AGENT&et_1=0&d1_1=1&et_2=703&d1_2=1&d2_2=100");
}

TEST_F(ResultStoreTest, LongBotCommandIsCutToKeepTheRecordWithinItsLimit) {
  const std::string command = "." + std::string(510, 'x');
  store.AddBotCmd(command, 0x0201A8C0);
  const std::string report = Report();
  const std::string prefix = "bd_agentid=AGENT&et_1=0&d1_1=0";
  ASSERT_EQ(report.rfind(prefix, 0), 0u);
  const std::string record = report.substr(prefix.size());
  EXPECT_EQ(record.size(), 255u);
  EXPECT_EQ(record.rfind("&et_2=206&d1_2=.xxx", 0), 0u);
  EXPECT_EQ(record.substr(record.size() - 14), "&d2_2=33663168");
}

TEST_F(ResultStoreTest, SummaryLinesInTheTraceFile) {
  store.AddDNSQuery("a.example");
  store.AddDNSQuery("b.example");
  store.AddSmtpHello();
  store.AddIrc(0x0A010203, 6667);
  store.AddIrc(0xC0A80102, 7000);
  store.AddHttpRedirect(54);
  const std::string path = env.Root() + "/summary.csv";
  CTraceFile trace;
  ASSERT_TRUE(trace.Create(path));
  std::string report;
  store.DumpResult(&trace, report, "AGENT");
  ASSERT_TRUE(trace.Close());
  EXPECT_EQ(ReadFile(path),
            "Number of,DNS Query: 2,a.example,b.example\r\n"
            "Number of,SMTP EHLO: 1\r\n"
            "Number of,IRC Request: 2,,167838211:6667,3232235778:7000\r\n"
            "Number of,HTTP Redirect: 1, Total Length=54\r\n"
            "Number of,DDoS: 0\r\n");
}

}  // namespace
