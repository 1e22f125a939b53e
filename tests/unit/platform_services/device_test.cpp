#include "platform/device.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/error.h"
#include "platform/object_namespace.h"
#include "platform/unique_fd.h"
#include "test_env.h"

namespace platform {
namespace {

using velmora::test::ScopedTestEnvironment;

constexpr uint32_t kEcho = 0x222014;      // answers the input reversed
constexpr uint32_t kRefuse = 1;           // answers failure with error 31
constexpr uint32_t kOverlong = 2;         // claims more bytes than the caller can take
constexpr uint32_t kHangUp = 3;           // closes the connection

bool ReadExactly(int fd, void* buffer, size_t size) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  for (size_t done = 0; done < size;) {
    ssize_t got = ::read(fd, bytes + done, size - done);
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

void WriteWords(int fd, std::initializer_list<uint32_t> words, const std::vector<uint8_t>& tail = {}) {
  std::vector<uint8_t> bytes;
  for (uint32_t word : words) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(word >> (8 * i)));
  }
  bytes.insert(bytes.end(), tail.begin(), tail.end());
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// A small driver that serves one connection with the framing the device calls use.
class FakeDriver {
 public:
  explicit FakeDriver(const std::string& name) {
    std::string path = DevicePath(name);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    m_listener.Reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    EXPECT_EQ(::bind(m_listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(m_listener.Get(), 4), 0);
    m_thread = std::thread([this] { Serve(); });
  }
  ~FakeDriver() {
    ::shutdown(m_listener.Get(), SHUT_RDWR);
    m_thread.join();
  }

 private:
  void Serve() {
    UniqueFd connection(::accept(m_listener.Get(), nullptr, nullptr));
    while (connection) {
      uint32_t head[2];
      if (!ReadExactly(connection.Get(), head, sizeof head)) return;
      std::vector<uint8_t> in(head[1]);
      uint32_t capacity = 0;
      if (!ReadExactly(connection.Get(), in.data(), in.size()) || !ReadExactly(connection.Get(), &capacity, 4)) return;
      switch (head[0]) {
        case kEcho:
          WriteWords(connection.Get(), {1, 0, static_cast<uint32_t>(in.size())}, std::vector<uint8_t>(in.rbegin(), in.rend()));
          break;
        case kRefuse:
          WriteWords(connection.Get(), {0, 31, 0});
          break;
        case kOverlong:
          WriteWords(connection.Get(), {1, 0, capacity + 1}, std::vector<uint8_t>(capacity + 1, 0xEE));
          break;
        default:
          return;
      }
    }
  }

  UniqueFd m_listener;
  std::thread m_thread;
};

class DeviceTest : public ::testing::Test {
 protected:
  ScopedTestEnvironment m_env;
};

TEST_F(DeviceTest, AbsentDriverIsFileNotFound) {
  EXPECT_EQ(Device::Open("\\\\.\\HVPassthru"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  // A socket file left behind by a driver that is gone counts as absent too.
  { FakeDriver gone("Stale"); auto device = Device::Open("\\\\.\\Stale"); ASSERT_NE(device, nullptr); }
  EXPECT_EQ(Device::Open("\\\\.\\Stale"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(DeviceTest, ControlCallsCarryRequestAndAnswer) {
  for (const char* name : {"\\\\.\\HVPassthru", "\\\\.\\Global\\HVPassthru"}) {
    FakeDriver driver("HVPassthru");
    auto device = Device::Open(name);
    ASSERT_NE(device, nullptr) << name;
    uint8_t in[4] = {1, 2, 3, 4};
    uint8_t out[8] = {};
    uint32_t returned = 0;
    ASSERT_TRUE(device->IoControl(kEcho, in, 4, out, sizeof out, &returned));
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{4, 3, 2, 1}));

    EXPECT_FALSE(device->IoControl(kRefuse, nullptr, 0, out, sizeof out, &returned));
    EXPECT_EQ(GetLastError(), 31u);
    EXPECT_TRUE(device->IoControl(kEcho, in, 2, out, sizeof out, &returned));  // still usable
    ::unlink(DevicePath("HVPassthru").c_str());
  }
}

TEST_F(DeviceTest, AnswersThatBreakTheFramingCloseTheConnection) {
  struct Case { uint32_t code; uint32_t error; };
  const Case cases[] = {{kOverlong, ERROR_INVALID_DATA}, {kHangUp, ERROR_BROKEN_PIPE}};
  for (const Case& c : cases) {
    FakeDriver driver("Bad");
    auto device = Device::Open("\\\\.\\Bad");
    ASSERT_NE(device, nullptr);
    uint8_t out[9];
    std::memset(out, 0x11, sizeof out);
    EXPECT_FALSE(device->IoControl(c.code, nullptr, 0, out, 8, nullptr));
    EXPECT_EQ(GetLastError(), c.error) << c.code;
    EXPECT_EQ(out[8], 0x11);  // nothing past the capacity
    EXPECT_FALSE(device->IoControl(kEcho, nullptr, 0, out, 8, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    ::unlink(DevicePath("Bad").c_str());
  }
}

}  // namespace
}  // namespace platform
