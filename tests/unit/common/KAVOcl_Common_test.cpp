#include "KAVOcl_Common.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dl_DebugLog.h"
#include "pipe_Util.h"
#include "platform/error.h"
#include "platform/event.h"
#include "test_env.h"

namespace {

std::u16string Terminated(const std::u16string& text) { return std::u16string(text.c_str(), text.size() + 1); }

std::vector<std::u16string> ReadAllFields(CCmdProtocol& message, size_t count) {
  std::vector<std::u16string> fields(count);
  for (auto& field : fields) message.NextString(field);
  return fields;
}

TEST(CCmdProtocolBuild, EmptyMessageIsWrittenAsTwoZeroBytes) {
  CCmdProtocol message;
  EXPECT_TRUE(message.GetText().empty());
  std::u16string written = Terminated(message.GetText());
  ASSERT_EQ(written.size() * sizeof(char16_t), 2u);
  EXPECT_EQ(written[0], u'\0');
}

TEST(CCmdProtocolBuild, FieldsAreTabSeparatedInOrder) {
  struct Case {
    const char* what;
    void (*build)(CCmdProtocol&);
    std::u16string expected;
  };
  const Case cases[] = {
      {"request with id", [](CCmdProtocol& m) { m.Add(u"SETTING_GET_ALERTME").AddInt(77); },
       u"SETTING_GET_ALERTME\t77"},
      {"signed negative", [](CCmdProtocol& m) { m.AddInt(-5); }, u"-5"},
      {"unsigned large", [](CCmdProtocol& m) { m.AddUInt(4294967291u); }, u"4294967291"},
      {"int limits", [](CCmdProtocol& m) { m.AddInt(INT32_MIN).AddInt(INT32_MAX); },
       u"-2147483648\t2147483647"},
      {"absent text is an empty field", [](CCmdProtocol& m) { m.Add(u"A").Add(nullptr).Add(u"B"); },
       u"A\t\tB"},
      {"absent first field adds nothing", [](CCmdProtocol& m) { m.Add(nullptr).Add(u"B"); }, u"\tB"},
      {"length limits the text", [](CCmdProtocol& m) { m.Add(u"ABCDEF", 3).Add(u"X", 0); }, u"ABC\t"},
      {"empty trailing field", [](CCmdProtocol& m) { m.Add(u"A").Add(u""); }, u"A\t"},
  };
  for (const Case& c : cases) {
    CCmdProtocol message;
    c.build(message);
    EXPECT_EQ(message.GetText(), c.expected) << c.what;
  }
}

TEST(CCmdProtocolBuild, GrowsPastTheInitialRoom) {
  CCmdProtocol message;
  std::u16string big(5000, u'x');
  message.Add(big).Add(big);
  EXPECT_EQ(message.GetText(), big + u"\t" + big);
}

TEST(CCmdProtocolBuild, ConstructedTextGetsSeparatorBeforeAddedField) {
  const std::u16string text = u"0\t1";
  CCmdProtocol fromBytes(text.c_str(), static_cast<int>(text.size() * sizeof(char16_t)));
  fromBytes.Add(u"more");
  EXPECT_EQ(fromBytes.GetText(), u"0\t1\tmore");

  CCmdProtocol fromTerminated(text.c_str(), -1);
  fromTerminated.AddInt(2);
  EXPECT_EQ(fromTerminated.GetText(), u"0\t1\t2");

  CCmdProtocol fromNothing(text.c_str(), 0);
  fromNothing.Add(u"first");
  EXPECT_EQ(fromNothing.GetText(), u"first");
}

TEST(CCmdProtocolRead, ByteLengthTakesHalfAsManyCharactersAndOddBytesAreDropped) {
  const char16_t text[] = u"ABCD";
  EXPECT_EQ(CCmdProtocol(text, 4).GetText(), u"AB");
  EXPECT_EQ(CCmdProtocol(text, 7).GetText(), u"ABC");
  EXPECT_EQ(CCmdProtocol(text, -1).GetText(), u"ABCD");
  EXPECT_EQ(CCmdProtocol(nullptr, -1).GetText(), u"");
}

TEST(CCmdProtocolRead, FieldsComeBackAndPastTheEndAreEmptyAndZero) {
  CCmdProtocol message;
  message.Add(u"NAME").AddInt(-7).AddUInt(4294967295u).Add(u"").Add(u"last");
  CCmdProtocol reader(message.GetText().c_str(), -1);
  char16_t name[30];
  int32_t id = 0;
  uint32_t code = 0;
  std::u16string empty = u"sentinel", last, past = u"sentinel";
  reader.NextText(name, 30).NextInt(id).NextULong(code).NextString(empty).NextString(last);
  EXPECT_EQ(std::u16string(name), u"NAME");
  EXPECT_EQ(id, -7);
  EXPECT_EQ(code, 4294967295u);
  EXPECT_EQ(empty, u"");
  EXPECT_EQ(last, u"last");

  int32_t pastInt = 99;
  uint32_t pastULong = 99;
  char16_t pastText[4] = u"abc";
  reader.NextString(past).NextInt(pastInt).NextULong(pastULong).NextText(pastText, 4);
  EXPECT_EQ(past, u"");
  EXPECT_EQ(pastInt, 0);
  EXPECT_EQ(pastULong, 0u);
  EXPECT_EQ(pastText[0], u'\0');
}

TEST(CCmdProtocolRead, NextFieldHandsStartAndCountThenTheEndMarker) {
  CCmdProtocol reader(u"ab\t\tcd", -1);
  struct Seen {
    int start, count;
  };
  std::vector<Seen> seen;
  auto record = [](void* data, const char16_t*, int start, int count) {
    static_cast<std::vector<Seen>*>(data)->push_back({start, count});
  };
  for (int i = 0; i < 5; ++i) reader.NextField(record, &seen);
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen[0].start, 0);
  EXPECT_EQ(seen[0].count, 2);
  EXPECT_EQ(seen[1].start, 3);
  EXPECT_EQ(seen[1].count, 0);
  EXPECT_EQ(seen[2].start, 4);
  EXPECT_EQ(seen[2].count, 2);
  for (size_t i = 3; i < 5; ++i) {
    EXPECT_EQ(seen[i].start, -1);
    EXPECT_EQ(seen[i].count, -1);
  }
}

TEST(CCmdProtocolRead, NumbersFollowTheRuntimeConversions) {
  struct Case {
    std::u16string field;
    int32_t asInt;
    uint32_t asULong;
  };
  const Case cases[] = {
      {u"-5", -5, 4294967291u},
      {u"4294967291", INT32_MAX, 4294967291u},
      {u"-1", -1, 4294967295u},
      {u"12abc", 12, 12u},
      {u"abc", 0, 0u},
      {u"", 0, 0u},
      // Only the first 19 characters count: of these 25 digits "0000000000000000012" is read.
      {u"0000000000000000012345678", 12, 12u},
      {u"                   7", 0, 0u},
  };
  for (const Case& c : cases) {
    CCmdProtocol reader(c.field.c_str(), -1);
    int32_t asInt = 42;
    reader.NextInt(asInt);
    CCmdProtocol again(c.field.c_str(), -1);
    uint32_t asULong = 42;
    again.NextULong(asULong);
    EXPECT_EQ(asInt, c.asInt) << std::string(c.field.begin(), c.field.end());
    EXPECT_EQ(asULong, c.asULong) << std::string(c.field.begin(), c.field.end());
  }
}

TEST(CCmdProtocolRead, NextTextCutsToTheBufferAndTerminates) {
  CCmdProtocol reader(u"ABCDEFGH\tNEXT", -1);
  char16_t small[5];
  reader.NextText(small, 5);
  EXPECT_EQ(std::u16string(small), u"ABCD");
  std::u16string next;
  reader.NextString(next);
  EXPECT_EQ(next, u"NEXT");
}

TEST(CCmdProtocolRead, TabInsideATextFieldShiftsLaterFields) {
  CCmdProtocol message;
  message.Add(u"LOG_WRITE").Add(u"mod\tule").AddInt(12);
  CCmdProtocol reader(message.GetText().c_str(), -1);
  auto fields = ReadAllFields(reader, 4);
  EXPECT_EQ(fields[1], u"mod");
  EXPECT_EQ(fields[2], u"ule");
  EXPECT_EQ(fields[3], u"12");
}

TEST(RequestIds, NegativeIdKeepsItsSignInTheReplyPipeName) {
  EXPECT_EQ(ReplyPipeName(static_cast<int32_t>(0x80010000u)), u"KAVOCln_-2147418112");
  EXPECT_EQ(ReplyPipeName(77), u"KAVOCln_77");
  CCmdProtocol request;
  request.Add(u"X").AddInt(static_cast<int32_t>(0x80010000u));
  CCmdProtocol reader(request.GetText().c_str(), -1);
  std::u16string name;
  int32_t id = 0;
  reader.NextString(name).NextInt(id);
  EXPECT_EQ(ReplyPipeName(id), u"KAVOCln_-2147418112");
}

TEST(WideTextFromBytes, TakesWholeUnitsAndKeepsTheTerminator) {
  const char16_t text[] = u"0\t1";
  std::string bytes(reinterpret_cast<const char*>(text), sizeof(text));
  EXPECT_EQ(WideTextFromBytes(bytes), std::u16string(text, 4));
  EXPECT_EQ(WideTextFromBytes(bytes.substr(0, 3)), u"0");
  EXPECT_EQ(WideTextFromBytes(""), u"");
}

// A stand-in for the service's command pipe on a thread: takes one request and, when told to,
// answers it the way every handler does (result code first) on the request's reply pipe.
class ServiceStandIn {
 public:
  explicit ServiceStandIn(bool answers) : m_stop(platform::Event::Create(true, false)) {
    m_listening = m_server.InitialWithEvent(u"KAVONamePipe", m_stop.get());
    m_thread = std::thread([this, answers] {
      std::string bytes;
      while (m_server.FetchCmd(bytes) && bytes.empty()) {
      }
      std::u16string text = WideTextFromBytes(bytes);
      m_request.set_value(text);
      if (!answers) return;
      CCmdProtocol request(text.c_str(), -1);
      std::u16string name, value;
      int32_t id = 0;
      request.NextString(name).NextInt(id).NextString(value);
      CCmdProtocol reply;
      reply.AddInt(-1).Add(u"echo:" + value);
      CPipeClient client;
      if (!client.Open(ReplyPipeName(id).c_str())) return;
      size_t count = (reply.GetText().size() + 1) * sizeof(char16_t);
      client.Send(reply.GetText().c_str(), count);
    });
  }
  ~ServiceStandIn() {
    m_stop->Set();
    m_thread.join();
  }
  bool Listening() const { return m_listening; }
  std::u16string Request() { return m_request.get_future().get(); }

 private:
  std::unique_ptr<platform::Event> m_stop;
  CPipeServer m_server;
  bool m_listening = false;
  std::promise<std::u16string> m_request;
  std::thread m_thread;
};

TEST(KAVOClient, RequestAndAnswerMakeARoundTrip) {
  velmora::test::ScopedTestEnvironment env;
  ServiceStandIn service(true);
  ASSERT_TRUE(service.Listening());
  const int32_t id = static_cast<int32_t>(0x80010000u);  // a negative id names the reply pipe too
  CCmdProtocol request;
  request.Add(u"SETTING_GET_ALERTME").AddInt(id).Add(u"payload");
  std::u16string reply;
  ASSERT_EQ(KAVOClient().Call(request, id, reply), 0);
  EXPECT_EQ(service.Request(), std::u16string(u"SETTING_GET_ALERTME\t-2147418112\tpayload\0", 40));
  EXPECT_EQ(reply.back(), u'\0') << "the sender's terminator is kept";
  CCmdProtocol answer(reply.c_str(), -1);
  uint32_t code = 0;
  std::u16string value;
  answer.NextULong(code).NextString(value);
  EXPECT_EQ(code, 4294967295u);
  EXPECT_EQ(value, u"echo:payload");
}

TEST(KAVOClient, AnswerThatNeverComesEndsAtTheReplyLimit) {
  velmora::test::ScopedTestEnvironment env;
  ServiceStandIn service(false);
  ASSERT_TRUE(service.Listening());
  KAVOClient client(1);
  CPipeServer replyServer;
  CCmdProtocol request;
  request.Add(u"SETTING_GET_ALERTME").AddInt(5);
  ASSERT_EQ(client.SendAndRecv(request.GetText(), replyServer, 5), 0);
  std::u16string reply = u"untouched";
  EXPECT_EQ(client.Recv(replyServer, reply), -1);
  EXPECT_EQ(reply, u"untouched");
  service.Request();
}

TEST(KAVOClient, OneWaySendArrivesWithItsTerminator) {
  velmora::test::ScopedTestEnvironment env;
  ServiceStandIn service(false);
  ASSERT_TRUE(service.Listening());
  EXPECT_EQ(KAVOClient().Send(u"UNLOAD"), 0);
  EXPECT_EQ(service.Request(), std::u16string(u"UNLOAD\0", 7));
}

TEST(KAVOClient, WithoutTheServiceCallsFail) {
  velmora::test::ScopedTestEnvironment env;
  KAVOClient client(1);
  EXPECT_EQ(client.Send(u"UNLOAD"), static_cast<int>(platform::ERROR_FILE_NOT_FOUND));
  CPipeServer replyServer;
  EXPECT_EQ(client.SendAndRecv(u"X\t1", replyServer, 1), -1);
  CCmdProtocol request;
  request.Add(u"X").AddInt(2);
  std::u16string reply;
  EXPECT_EQ(client.Call(request, 2, reply), -1);
}

}  // namespace
