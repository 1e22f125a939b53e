#include "Packetdispatcher.h"

#include <gtest/gtest.h>

#include "platform/clock.h"

namespace {

class DispatcherTest : public ::testing::Test {
 protected:
  void SetUp() override { RegisterPermanentRules(dispatcher); }
  int32_t Kind(int32_t iIO, uint16_t src, uint16_t dst) {
    DispatchEntry key{iIO, src, dst};
    const int32_t kind = dispatcher.Lookup(key);
    EXPECT_EQ(key.Kind, kind);
    return kind;
  }
  CPacketDispatcher dispatcher;
};

TEST_F(DispatcherTest, PermanentRulesChooseTheAnalysis) {
  struct Case {
    int32_t iIO;
    uint16_t src, dst;
    int32_t kind;
  } cases[] = {
      {0, 51000, 80, HttpIncoming},  // received, to our web server
      {1, 51000, 80, IrcRequest},    // sent to port 80: the HTTP rule is for received packets only
      {1, 51000, 25, SmtpOutgoing},
      {0, 51000, 25, -1},
      {1, 51000, 6667, IrcRequest},
      {0, 6667, 51000, -1},  // received, nothing learned yet
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Kind(c.iIO, c.src, c.dst), c.kind) << c.iIO << " " << c.src << "->" << c.dst;
  }
}

TEST_F(DispatcherTest, LearnedRuleComesAfterThePermanentOnes) {
  dispatcher.Register({0, 6667, 80, BotCommand, platform::TimeNow() + 3600});
  dispatcher.Register({0, 6667, 51000, BotCommand, platform::TimeNow() + 3600});
  EXPECT_EQ(Kind(0, 6667, 80), HttpIncoming);
  EXPECT_EQ(Kind(0, 6667, 51000), BotCommand);
  EXPECT_EQ(Kind(0, 6668, 51000), -1);
}

TEST_F(DispatcherTest, RegisteringTheSameDirectionAndPortsOnlyMovesTheExpiry) {
  dispatcher.Register({0, 6667, 51000, BotCommand, 100});
  dispatcher.Register({0, 6667, 51000, SmtpOutgoing, 5000});
  // A wildcard only equals the same wildcard: this is a new rule, not the HTTP one.
  dispatcher.Register({0, 0xFFFE, 80, SmtpOutgoing, 5000});
  const auto entries = dispatcher.Entries();
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[3].Kind, BotCommand);
  EXPECT_EQ(entries[3].Expiry, 5000);
  EXPECT_EQ(entries[0].Kind, HttpIncoming);
  EXPECT_EQ(entries[0].Expiry, kNeverExpires);
}

TEST_F(DispatcherTest, ExpiredRuleMatchesUntilRemoveExpiredDropsIt) {
  const int64_t now = platform::TimeNow();
  dispatcher.Register({0, 6667, 51000, BotCommand, now - 10});
  dispatcher.Register({0, 6668, 51001, BotCommand, now + 3600});
  dispatcher.Register({0, 6669, 51002, BotCommand, now - 1});
  EXPECT_EQ(Kind(0, 6667, 51000), BotCommand);

  dispatcher.RemoveExpired();
  EXPECT_EQ(Kind(0, 6667, 51000), -1);
  const auto entries = dispatcher.Entries();
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].DestPort, 80);
  EXPECT_EQ(entries[1].DestPort, 25);
  EXPECT_EQ(entries[2].DestPort, kAnyPort);
  EXPECT_EQ(entries[3].SrcPort, 6668);
}

}  // namespace
