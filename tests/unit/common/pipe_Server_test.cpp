#include "pipe_Server.h"

#include <gtest/gtest.h>

#include <future>
#include <string>
#include <thread>
#include <vector>

#include "pipe_Util.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/event.h"
#include "test_env.h"

namespace {

constexpr char16_t kPipe[] = u"TestServerPipe";

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 977) & 0xFF);
  return bytes;
}

// Writes the message in the given pieces and closes.
void SendPieces(const std::vector<std::string>& pieces, uint32_t pauseMs = 0) {
  CPipeClient client;
  ASSERT_TRUE(client.Open(kPipe)) << platform::GetLastError();
  for (const std::string& piece : pieces) {
    size_t count = piece.size();
    ASSERT_TRUE(client.Send(piece.data(), count));
    EXPECT_EQ(count, piece.size());
    if (pauseMs != 0) platform::Sleep(pauseMs);
  }
}

class PipeServerTest : public ::testing::Test {
 protected:
  velmora::test::ScopedTestEnvironment m_env;
};

TEST_F(PipeServerTest, MessagesOfAnySizeArriveWhole) {
  const size_t sizes[] = {1, 2, 4096, CPipeServer::kBufferBytes - 1, CPipeServer::kBufferBytes,
                          CPipeServer::kBufferBytes + 1, 3 * CPipeServer::kBufferBytes + 17};
  CPipeServer server;
  ASSERT_TRUE(server.InitialWithEvent(kPipe, nullptr));
  for (size_t size : sizes) {
    std::string sent = Pattern(size);
    std::thread client([&] { SendPieces({sent}); });
    std::string received;
    EXPECT_TRUE(server.FetchCmd(received)) << size;
    client.join();
    EXPECT_EQ(received.size(), size);
    EXPECT_TRUE(received == sent) << "content differs for size " << size;
  }
}

TEST_F(PipeServerTest, SeveralWritesMakeOneMessage) {
  CPipeServer server;
  ASSERT_TRUE(server.InitialWithEvent(kPipe, nullptr));
  std::thread client([] { SendPieces({"first ", "second ", "third"}, 20); });
  std::string received;
  EXPECT_TRUE(server.FetchCmd(received));
  client.join();
  EXPECT_EQ(received, "first second third");
}

TEST_F(PipeServerTest, ClientsAreServedOneMessageEachInTurn) {
  CPipeServer server;
  ASSERT_TRUE(server.InitialWithEvent(kPipe, nullptr));
  // Both connect before the server reads anything; the second waits and comes as its own message.
  std::thread first([] { SendPieces({"one"}); });
  first.join();
  std::thread second([] { SendPieces({"two"}); });
  second.join();
  std::string a, b;
  EXPECT_TRUE(server.FetchCmd(a));
  EXPECT_TRUE(server.FetchCmd(b));
  EXPECT_EQ(a, "one");
  EXPECT_EQ(b, "two");
}

TEST_F(PipeServerTest, ClientThatWritesNothingGivesAnEmptyMessage) {
  CPipeServer server;
  ASSERT_TRUE(server.InitialWithEvent(kPipe, nullptr));
  std::thread client([] { SendPieces({}); });
  std::string received = "stale";
  EXPECT_TRUE(server.FetchCmd(received));
  client.join();
  EXPECT_EQ(received, "");
}

TEST_F(PipeServerTest, BusyNameIsRetriedThenRefused) {
  CPipeServer holder;
  ASSERT_TRUE(holder.InitialWithEvent(kPipe, nullptr));
  CPipeServer second;
  EXPECT_FALSE(second.InitialWithEvent(kPipe, nullptr));
  EXPECT_EQ(platform::GetLastError(), platform::ERROR_PIPE_BUSY);
  std::string received;
  EXPECT_FALSE(second.FetchCmd(received)) << "a server that never listened must not wait";
}

TEST_F(PipeServerTest, NameFreedByItsServerCanBeTakenAgain) {
  {
    CPipeServer first;
    ASSERT_TRUE(first.InitialWithEvent(kPipe, nullptr));
  }
  CPipeServer second;
  EXPECT_TRUE(second.InitialWithEvent(kPipe, nullptr));
}

TEST_F(PipeServerTest, StopEventEndsAWaitingReceive) {
  std::unique_ptr<platform::Event> stop = platform::Event::Create(true, false);
  CPipeServer server;
  ASSERT_TRUE(server.InitialWithEvent(kPipe, stop.get()));
  auto fetched = std::async(std::launch::async, [&] {
    std::string received;
    return server.FetchCmd(received);
  });
  platform::Sleep(50);
  stop->Set();
  EXPECT_FALSE(fetched.get());
}

TEST_F(PipeServerTest, StopEventEndsAReceiveInTheMiddleOfAMessage) {
  std::unique_ptr<platform::Event> stop = platform::Event::Create(true, false);
  CPipeServer server;
  ASSERT_TRUE(server.InitialWithEvent(kPipe, stop.get()));
  CPipeClient client;
  ASSERT_TRUE(client.Open(kPipe));
  size_t count = 4;
  ASSERT_TRUE(client.Send("part", count));
  auto fetched = std::async(std::launch::async, [&] {
    std::string received;
    bool ok = server.FetchCmd(received);
    return std::make_pair(ok, received);
  });
  platform::Sleep(50);
  stop->Set();
  auto [ok, received] = fetched.get();
  EXPECT_FALSE(ok);
  EXPECT_EQ(received, "") << "a failed receive hands over nothing";
}

TEST_F(PipeServerTest, ReplyLimitEndsAReceiveThatGetsNoAnswer) {
  CPipeServer server;
  ASSERT_TRUE(server.InitialWithTimer(kPipe, 1));
  std::string received;
  EXPECT_FALSE(server.FetchCmd(received));
}

TEST_F(PipeServerTest, ReplyLimitAppliesToEachWaitNotTheWholeMessage) {
  CPipeServer server;
  ASSERT_TRUE(server.InitialWithTimer(kPipe, 2));
  // Four pieces 700 ms apart take longer than the limit in all, but no single wait does.
  std::thread client([] { SendPieces({"a", "b", "c", "d"}, 700); });
  std::string received;
  EXPECT_TRUE(server.FetchCmd(received));
  client.join();
  EXPECT_EQ(received, "abcd");
}

TEST(PipeClient, MissingServerIsFileNotFound) {
  velmora::test::ScopedTestEnvironment env;
  CPipeClient client;
  EXPECT_FALSE(client.Open(u"NobodyListensHere"));
  EXPECT_EQ(platform::GetLastError(), platform::ERROR_FILE_NOT_FOUND);
  size_t count = 1;
  EXPECT_FALSE(client.Send("x", count));
  EXPECT_EQ(count, 0u);
}

TEST(PipeSendAndRecv, ReplyPipeListensBeforeTheRequestLeaves) {
  velmora::test::ScopedTestEnvironment env;
  CPipeServer service;
  ASSERT_TRUE(service.InitialWithEvent(kPipe, nullptr));
  const std::u16string request = u"REQ";
  CPipeServer reply;
  ASSERT_TRUE(PipeSendAndRecvW(request.c_str(), (request.size() + 1) * 2, u"ReplyPipe", kPipe, reply, 5));
  std::string received;
  ASSERT_TRUE(service.FetchCmd(received));
  EXPECT_EQ(received, std::string("R\0E\0Q\0\0\0", 8));
  // The request is in; the reply pipe was already there to answer on.
  CPipeClient answer;
  ASSERT_TRUE(answer.Open(u"ReplyPipe"));
  size_t count = 3;
  ASSERT_TRUE(answer.Send("ok!", count));
  answer.Close();
  std::string replied;
  EXPECT_TRUE(reply.FetchCmd(replied));
  EXPECT_EQ(replied, "ok!");
}

TEST(PipeSendAndRecv, FailsWhenTheServerIsAbsent) {
  velmora::test::ScopedTestEnvironment env;
  CPipeServer reply;
  EXPECT_FALSE(PipeSendAndRecvW(u"X", 4, u"ReplyPipe", u"AbsentServer", reply, 5));
  EXPECT_EQ(platform::GetLastError(), platform::ERROR_FILE_NOT_FOUND);
}

}  // namespace
