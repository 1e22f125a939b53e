#include "platform/service_manager.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "platform/error.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/unique_fd.h"
#include "test_env.h"

namespace platform {
namespace {

using velmora::test::ReadFile;
using velmora::test::ScopedTestEnvironment;

constexpr char16_t kName[] = u"VelmoraTestService";

std::u16string HelperImagePath(const char* arguments = "") {
  return Utf8ToUtf16(std::string("\"") + VELMORA_TEST_BIN_DIR "/velmora_test_service\"" + arguments);
}

class ServiceManagerTest : public ::testing::Test {
 protected:
  ScHandle Install(const std::u16string& imagePath) {
    m_manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    EXPECT_TRUE(m_manager.Valid());
    ScHandle service = CreateServiceW(m_manager, kName, u"Velmora Test Service", SERVICE_ALL_ACCESS,
                                      SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, SERVICE_AUTO_START,
                                      SERVICE_ERROR_NORMAL, imagePath.c_str());
    EXPECT_TRUE(service.Valid()) << GetLastError();
    return service;
  }

  // The status once it has left the given states (queries report, they do not wait), or the
  // last one seen after 20 seconds.
  SERVICE_STATUS StatusAfter(const ScHandle& service, std::initializer_list<uint32_t> passingStates) {
    SERVICE_STATUS status;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (QueryServiceStatus(service, &status) && std::chrono::steady_clock::now() < deadline &&
           std::find(passingStates.begin(), passingStates.end(), status.dwCurrentState) != passingStates.end()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status;
  }

  SERVICE_STATUS StatusOnceStopped(const ScHandle& service) {
    return StatusAfter(service, {SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOP_PENDING});
  }

  ScopedTestEnvironment m_env;
  ScHandle m_manager;
};

TEST_F(ServiceManagerTest, InstallStartQueryStopDelete) {
  ScHandle service = Install(HelperImagePath());
  ASSERT_TRUE(service.Valid());
  EXPECT_FALSE(CreateServiceW(m_manager, u"velmoratestservice", nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                              SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, u"/bin/true")
                   .Valid());
  EXPECT_EQ(GetLastError(), ERROR_SERVICE_EXISTS);

  RegKey key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\VelmoraTestService", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  uint32_t start = 0, size = 4;
  ASSERT_EQ(RegQueryValueExW(key, u"Start", nullptr, nullptr, reinterpret_cast<uint8_t*>(&start), &size), ERROR_SUCCESS);
  EXPECT_EQ(start, SERVICE_AUTO_START);

  SERVICE_STATUS status;
  ASSERT_TRUE(QueryServiceStatus(service, &status));
  EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
  EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(GetLastError(), ERROR_SERVICE_NOT_ACTIVE);

  ASSERT_TRUE(StartServiceW(service, 0, nullptr)) << GetLastError();
  ScHandle byOtherCase = OpenServiceW(m_manager, u"VELMORATESTSERVICE", SERVICE_ALL_ACCESS);
  ASSERT_TRUE(byOtherCase.Valid());
  // The service reports running right after it connects.
  status = StatusAfter(byOtherCase, {SERVICE_START_PENDING});
  EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);
  EXPECT_EQ(status.dwServiceType, SERVICE_WIN32_OWN_PROCESS);
  EXPECT_EQ(status.dwControlsAccepted, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN);
  EXPECT_NE(ReadFile(m_env.RuntimeDir() + "/services/VelmoraTestService").find("State=4\n"), std::string::npos);
  EXPECT_FALSE(StartServiceW(service, 0, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_SERVICE_ALREADY_RUNNING);
  EXPECT_FALSE(ControlService(service, 128, &status));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_SERVICE_CONTROL);

  ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
  status = StatusOnceStopped(service);
  EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
  EXPECT_EQ(status.dwWin32ExitCode, ERROR_SUCCESS);

  EXPECT_TRUE(DeleteService(service));
  EXPECT_FALSE(DeleteService(service));
  EXPECT_EQ(GetLastError(), ERROR_SERVICE_MARKED_FOR_DELETE);
  ScHandle moved = std::move(service);
  EXPECT_FALSE(service.Valid());  // not a handle to the manager
  EXPECT_TRUE(CloseServiceHandle(moved));
  EXPECT_FALSE(CloseServiceHandle(moved));
  EXPECT_FALSE(OpenServiceW(m_manager, kName, SERVICE_ALL_ACCESS).Valid());
  EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
}

TEST_F(ServiceManagerTest, AServiceThatDiesIsReportedStopped) {
  ScHandle service = Install(HelperImagePath(" die"));
  ASSERT_TRUE(StartServiceW(service, 0, nullptr)) << GetLastError();
  SERVICE_STATUS status = StatusOnceStopped(service);
  EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
  EXPECT_EQ(status.dwWin32ExitCode, ERROR_PROCESS_ABORTED);
  EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_INTERROGATE, &status));
  EXPECT_EQ(GetLastError(), ERROR_SERVICE_NOT_ACTIVE);
  // It can be started again.
  ASSERT_TRUE(StartServiceW(service, 0, nullptr)) << GetLastError();
}

TEST_F(ServiceManagerTest, StartFailsForAProgramThatIsNoService) {
  struct Case { std::u16string imagePath; uint32_t error; };
  const Case cases[] = {
      {u"\"/bin/true\"", ERROR_SERVICE_REQUEST_TIMEOUT},       // ends without reaching a dispatcher
      {u"\"/no/such/program\"", ERROR_FILE_NOT_FOUND},
  };
  for (const Case& c : cases) {
    ScHandle service = Install(c.imagePath);
    EXPECT_FALSE(StartServiceW(service, 0, nullptr));
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_TRUE(DeleteService(service));
  }
}

TEST_F(ServiceManagerTest, DispatcherRefusesAProcessNotStartedAsAService) {
  ::unsetenv("VELMORA_SERVICE");
  const SERVICE_TABLE_ENTRYW table[] = {{kName, [](uint32_t, char16_t**) { ADD_FAILURE(); }}, {nullptr, nullptr}};
  EXPECT_FALSE(StartServiceCtrlDispatcherW(table));
  EXPECT_EQ(GetLastError(), ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  EXPECT_EQ(RegisterServiceCtrlHandlerW(kName, [](uint32_t) {}), 0u);
  SERVICE_STATUS status;
  EXPECT_FALSE(SetServiceStatus(1, &status));
}

TEST_F(ServiceManagerTest, StatusReachesSystemdsNotifySocket) {
  std::string socketPath = m_env.Root() + "/notify";
  UniqueFd listener(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  timeval timeout{20, 0};
  ::setsockopt(listener.Get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  ::setenv("NOTIFY_SOCKET", socketPath.c_str(), 1);
  ScHandle service = Install(HelperImagePath());
  bool started = StartServiceW(service, 0, nullptr);
  ::unsetenv("NOTIFY_SOCKET");
  ASSERT_TRUE(started);
  std::string messages;
  while (messages.find("READY=1") == std::string::npos) {
    char buffer[512];
    ssize_t got = ::recv(listener.Get(), buffer, sizeof buffer, 0);
    ASSERT_GT(got, 0) << "no readiness message";
    messages.append(buffer, static_cast<size_t>(got)).push_back('\n');
  }
  ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, nullptr));
  while (messages.find("STOPPING=1") == std::string::npos) {
    char buffer[512];
    ssize_t got = ::recv(listener.Get(), buffer, sizeof buffer, 0);
    ASSERT_GT(got, 0) << "no stopping message";
    messages.append(buffer, static_cast<size_t>(got)).push_back('\n');
  }
  EXPECT_EQ(StatusOnceStopped(service).dwCurrentState, SERVICE_STOPPED);
}

}  // namespace
}  // namespace platform
