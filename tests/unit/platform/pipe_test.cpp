#include "platform/pipe.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cstring>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "platform/event.h"
#include "platform/object_namespace.h"
#include "test_env.h"

namespace platform {
namespace {

using velmora::test::ScopedTestEnvironment;

constexpr size_t kReceiveBuffer = 512000;

// The receive loop a pipe server runs: take one client, read until it closes. nullopt when the
// user object ended the receive first.
std::optional<std::string> ReceiveMessage(PipeListener& listener, WaitObject& user) {
  std::unique_ptr<PipeConnection> client;
  while (!client) {
    if (WaitForAny({&listener, &user}, INFINITE) != WAIT_OBJECT_0) return std::nullopt;
    client = listener.Accept();
  }
  std::string message;
  std::vector<char> buffer(kReceiveBuffer);
  for (;;) {
    if (WaitForAny({client.get(), &user}, INFINITE) != WAIT_OBJECT_0) return std::nullopt;
    ssize_t n = client->Read(buffer.data(), buffer.size());
    if (n > 0) {
      message.append(buffer.data(), static_cast<size_t>(n));
    } else if (n == 0 || GetLastError() != ERROR_IO_PENDING) {
      return message;
    }
  }
}

bool SendMessage(const std::string& pipe, const std::vector<std::string>& parts) {
  auto client = PipeConnection::Connect(pipe);
  if (!client) return false;
  for (const std::string& part : parts) {
    size_t written = 0;
    if (!client->Write(part.data(), part.size(), &written) || written != part.size()) return false;
  }
  return true;
}

std::string Pattern(size_t size) {
  std::string text(size, '\0');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i % 23);
  return text;
}

class PipeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    listener = PipeListener::Create(kName, true);
    ASSERT_NE(listener, nullptr) << GetLastError();
    stop = Event::Create(true, false);
  }
  ScopedTestEnvironment env;
  const std::string kName = "KAVONamePipe";
  std::unique_ptr<PipeListener> listener;
  std::unique_ptr<Event> stop;
};

TEST_F(PipeTest, MessagesArriveWholeWhateverTheirSizeAndWrites) {
  const struct {
    const char* label;
    std::vector<std::string> parts;
  } cases[] = {
      {"several writes", {"SETTING_GET_ALERTME", "\t", "12345", std::string(1, '\0')}},
      {"exactly one buffer", {Pattern(kReceiveBuffer)}},
      {"one byte over a buffer", {Pattern(kReceiveBuffer + 1)}},
      {"empty", {}},
  };
  for (const auto& c : cases) {
    std::string expected;
    for (const std::string& part : c.parts) expected += part;
    auto sent = std::async(std::launch::async, [&] { return SendMessage(kName, c.parts); });
    auto received = ReceiveMessage(*listener, *stop);
    EXPECT_TRUE(sent.get()) << c.label;
    ASSERT_TRUE(received.has_value()) << c.label;
    EXPECT_EQ(received->size(), expected.size()) << c.label;
    EXPECT_TRUE(*received == expected) << c.label;
  }
}

TEST_F(PipeTest, ClientsAreServedInTurnAsSeparateMessages) {
  ASSERT_TRUE(SendMessage(kName, {"first"}));
  ASSERT_TRUE(SendMessage(kName, {"second"}));
  EXPECT_EQ(ReceiveMessage(*listener, *stop), "first");
  EXPECT_EQ(ReceiveMessage(*listener, *stop), "second");
}

TEST_F(PipeTest, UserObjectEndsAWaitingReceiveAtOnce) {
  auto idle = std::async(std::launch::async, [&] { return ReceiveMessage(*listener, *stop); });
  stop->Set();
  EXPECT_EQ(idle.get(), std::nullopt);

  // Also in the middle of a message whose client has not closed yet.
  stop->Reset();
  auto client = PipeConnection::Connect(kName);
  ASSERT_NE(client, nullptr);
  size_t written = 0;
  ASSERT_TRUE(client->Write("part", 4, &written));
  auto midway = std::async(std::launch::async, [&] { return ReceiveMessage(*listener, *stop); });
  stop->Set();
  EXPECT_EQ(midway.get(), std::nullopt);
}

TEST_F(PipeTest, NameHeldByALiveServerIsBusy) {
  EXPECT_EQ(PipeListener::Create(kName, true), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PIPE_BUSY);
  // Looking did not leave a client behind on the live server.
  EXPECT_FALSE(listener->TestSignalled());
}

TEST_F(PipeTest, MissingOrClosedPipeIsNotFound) {
  EXPECT_EQ(PipeConnection::Connect("NoSuchPipe"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(WaitNamedPipe("NoSuchPipe", 0));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  listener.reset();
  EXPECT_EQ(PipeConnection::Connect(kName), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(PipeTest, FullBacklogIsBusyUntilAClientIsTaken) {
  std::vector<std::unique_ptr<PipeConnection>> waiting;
  for (int i = 0; i < 1000; ++i) {
    auto client = PipeConnection::Connect(kName);
    if (!client) break;
    waiting.push_back(std::move(client));
  }
  EXPECT_EQ(GetLastError(), ERROR_PIPE_BUSY);
  ASSERT_LT(waiting.size(), 1000u);
  EXPECT_FALSE(WaitNamedPipe(kName, 20));
  EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
  ASSERT_NE(listener->Accept(), nullptr);
  EXPECT_TRUE(WaitNamedPipe(kName, 20000));
  EXPECT_NE(PipeConnection::Connect(kName), nullptr);
}

TEST_F(PipeTest, ReadTellsNothingYetFromEndOfFile) {
  auto client = PipeConnection::Connect(kName);
  ASSERT_NE(client, nullptr);
  auto server = listener->Accept();
  ASSERT_NE(server, nullptr);
  EXPECT_EQ(listener->Accept(), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
  char byte;
  EXPECT_EQ(server->Read(&byte, 1), -1);
  EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
  EXPECT_FALSE(server->TestSignalled());
  client.reset();
  EXPECT_TRUE(server->TestSignalled());
  EXPECT_EQ(server->Read(&byte, 1), 0);
}

TEST_F(PipeTest, DescriptorsAreNotInherited) {
  auto client = PipeConnection::Connect(kName);
  auto server = listener->Accept();
  ASSERT_NE(server, nullptr);
  for (int fd : {listener->PollFd(), client->PollFd(), server->PollFd()}) {
    EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC) << fd;
  }
}

TEST(PipeListener, SocketModeFollowsTheAudience) {
  ScopedTestEnvironment env;
  for (bool anyUser : {true, false}) {
    auto listener = PipeListener::Create("Audience", anyUser);
    ASSERT_NE(listener, nullptr);
    struct stat info {};
    ASSERT_EQ(::stat(listener->Path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, anyUser ? 0666u : 0600u);
  }
}

TEST(PipeListener, StaleSocketFileIsReused) {
  ScopedTestEnvironment env;
  const std::string path = PipePath("Log_ServerNamePipe");
  {
    // A server that died without cleaning up: bound, never removed.
    platform::UniqueFd dead(::socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(::bind(dead.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(dead.Get(), 1), 0);
  }
  EXPECT_EQ(PipeConnection::Connect("Log_ServerNamePipe"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  auto listener = PipeListener::Create("Log_ServerNamePipe", true);
  ASSERT_NE(listener, nullptr) << GetLastError();
  EXPECT_NE(PipeConnection::Connect("Log_ServerNamePipe"), nullptr);
}

TEST(PipeListener, LeavesASuccessorsSocketFileInPlace) {
  ScopedTestEnvironment env;
  auto first = PipeListener::Create("Taken", true);
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(::unlink(first->Path().c_str()), 0);  // its file is gone ...
  auto second = PipeListener::Create("Taken", true);  // ... and a new server bound the name
  ASSERT_NE(second, nullptr);
  first.reset();
  EXPECT_NE(PipeConnection::Connect("Taken"), nullptr);
  second.reset();
  EXPECT_NE(::access(PipePath("Taken").c_str(), F_OK), 0);  // its own file goes with it
}

TEST(PipeListener, RefusesAPathThatIsNotASocket) {
  ScopedTestEnvironment env;
  velmora::test::WriteFile(PipePath("Plain"), "data");
  EXPECT_EQ(PipeListener::Create("Plain", true), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(velmora::test::ReadFile(PipePath("Plain")), "data");
}

}  // namespace
}  // namespace platform
