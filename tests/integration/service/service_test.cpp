// Corvane run from a temporary installation: console mode, a second instance, registry failures,
// the local proxy's notifications and the service path. A log host beside the installation keeps
// the traces, which is how the test sees what the service did.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "HVBotAlertAgent.h"
#include "HvpxCfg.h"
#include "RMCallbackBlock.h"
#include "kavo_RegData.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/object_namespace.h"
#include "platform/pipe.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/service_manager.h"
#include "platform/text.h"
#include "registry_values.h"
#include "test_env.h"

namespace {

using namespace platform;
using velmora::test::PutDword;
using velmora::test::PutProductKey;
using velmora::test::PutText;
using velmora::test::ReadFile;
using velmora::test::LaunchProgram;
using velmora::test::ScopedTestEnvironment;
using velmora::test::WaitUntil;
using velmora::test::WriteFile;

constexpr uint32_t kPatienceMs = 30000;
constexpr char kTraceFile[] = "trace.log";
const char* const kFolders[] = {"Config", "Pcap_input", "Pcap_output", "Download", "Temp"};

void DeleteValue(const char16_t* name) {
  RegKey key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteValueW(key, name), ERROR_SUCCESS);
}

// Exit status, or -1 when the process did not end in time (it is then killed).
int WaitForExit(pid_t pid, uint32_t patienceMs = kPatienceMs) {
  int status = 0;
  bool ended = WaitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, patienceMs);
  if (!ended) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
  }
  if (!WIFEXITED(status)) ADD_FAILURE() << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool IsRunning(pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) == 0; }

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    install = env.MakeInstallation();
    // Started from elsewhere: the service must find its folder by itself.
    ASSERT_EQ(::chdir(env.Root().c_str()), 0);
    // The log host runs from a folder of its own, and the installation has no "qzdebug.ini", so
    // the service does not start a second host that could outlive the test.
    std::string hostFolder = env.Root() + "/loghost/";
    std::filesystem::create_directories(hostFolder);
    std::filesystem::copy_file(install + "LogHost", hostFolder + "LogHost");
    traceFile = hostFolder + kTraceFile;
    WriteFile(hostFolder + "qzdebug.ini", "[debug]\ndebuglog=" + traceFile + "\ndebuglevel=8\n");
    logHost = Launch(hostFolder + "LogHost", "");
    ASSERT_TRUE(WaitUntil([] { return WaitNamedPipe("Log_ServerNamePipe", 0); }));
    PutProductKey(kProductKeyPath);
  }

  void TearDown() override {
    for (pid_t pid : started) {
      if (IsRunning(pid)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
      }
    }
    RemoveServiceIfAny();
    if (logHost > 0) {
      ::kill(logHost, SIGTERM);
      ::waitpid(logHost, nullptr, 0);
    }
  }

  pid_t Launch(const std::string& program, const std::string& arguments) {
    pid_t pid = LaunchProgram(program, arguments);
    if (pid > 0) started.push_back(pid);
    return pid;
  }

  pid_t StartCorvane(const std::string& arguments) { return Launch(install + "Corvane", arguments); }
  int RunCorvane(const std::string& arguments) { return WaitForExit(StartCorvane(arguments)); }

  std::string Traces() const { return ReadFile(traceFile); }
  bool WaitForTrace(const std::string& text) {
    return WaitUntil([&] { return Traces().find(text) != std::string::npos; });
  }
  bool Traced(const std::string& text) const { return Traces().find(text) != std::string::npos; }

  std::string ConfigFile() const { return install + "Config/Config.ini"; }
  int32_t Counter(const char* key) const {
    return GetPrivateProfileIntA("URLFilter", key, -1, ConfigFile().c_str());
  }

  std::string StopEventPath() const { return NamedObjectPath(kSvcStopEventName); }
  std::string BlockPath() const { return NamedObjectPath(kRMCallbackBlockName); }

  RMCallbackBlock ReadBlock() const {
    RMCallbackBlock block;
    std::memset(&block, 0xFF, sizeof(block));
    std::string bytes = ReadFile(BlockPath());
    EXPECT_EQ(bytes.size(), sizeof(block));
    if (bytes.size() == sizeof(block)) std::memcpy(&block, bytes.data(), sizeof(block));
    return block;
  }

  // Any party may change the shared block; the file is the mapping.
  void WriteBlockCounter(size_t offset, uint32_t value) {
    int fd = ::open(BlockPath().c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::pwrite(fd, &value, sizeof(value), static_cast<off_t>(offset)), static_cast<ssize_t>(sizeof(value)));
    ::close(fd);
  }

  // As any tool can: write the signalled byte into the event's file.
  void SetStopEventByFile() {
    int fd = ::open(StopEventPath().c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::pwrite(fd, "1", 1, 0), 1);
    ::close(fd);
  }

  pid_t StartConsoleAndWaitUntilRunning() {
    pid_t pid = StartCorvane("-console");
    EXPECT_TRUE(WaitForTrace("[MonitorConfigDirectory] >>>")) << Traces();
    return pid;
  }

  int NotifyTool(const std::string& url, const std::string& score) {
    return WaitForExit(Launch(install + "hvproxy-notify", "\"" + url + "\" " + score));
  }

  void RemoveServiceIfAny() {
    ScHandle manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ScHandle service = OpenServiceW(manager, u"Corvane", SERVICE_ALL_ACCESS);
    if (!service) return;
    SERVICE_STATUS status;
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    WaitUntil([&] { return QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOPPED; });
    DeleteService(service);
  }

  ScopedTestEnvironment env;
  std::string install;
  std::string traceFile;
  pid_t logHost = -1;
  std::vector<pid_t> started;
};

TEST_F(ServiceTest, FirstConsoleRunPreparesItsFolderAndEndsOnTheStopEvent) {
  pid_t pid = StartConsoleAndWaitUntilRunning();
  for (const char* folder : kFolders) EXPECT_TRUE(std::filesystem::is_directory(install + folder)) << folder;
  EXPECT_FALSE(std::filesystem::exists(env.Root() + "/Config")) << "nothing in the caller's directory";
  EXPECT_TRUE(std::filesystem::exists(ConfigFile()));
  EXPECT_EQ(std::filesystem::file_size(BlockPath()), sizeof(RMCallbackBlock));
  EXPECT_TRUE(IsRunning(pid));
  SetStopEventByFile();
  EXPECT_EQ(WaitForExit(pid), 0);
  EXPECT_TRUE(Traced("[MonitorConfigDirectory] g_hSvcStopEvent happened"));
  EXPECT_FALSE(NamedObjectFile::IsLive(StopEventPath())) << "released at the end";
}

TEST_F(ServiceTest, CountersSurviveARunEndedByCtrlC) {
  std::filesystem::create_directories(install + "Config");
  WriteFile(ConfigFile(), "[URLFilter]\nWebQueryCount=25\nWebThreatCount=3\n");
  pid_t pid = StartConsoleAndWaitUntilRunning();
  RMCallbackBlock block = ReadBlock();
  EXPECT_EQ(block.WebQueryCount, 25u);
  EXPECT_EQ(block.WebThreatCount, 3u);
  WriteBlockCounter(offsetof(RMCallbackBlock, WebThreatCount), 31);
  ::kill(pid, SIGINT);
  EXPECT_EQ(WaitForExit(pid), 0);
  EXPECT_EQ(Counter("WebQueryCount"), 25);
  EXPECT_EQ(Counter("WebThreatCount"), 31) << "saved from the block at the end";
}

TEST_F(ServiceTest, SecondInstanceFailsWith183AndLeavesTheFirstAlone) {
  std::filesystem::create_directories(install + "Config");
  WriteFile(ConfigFile(), "[URLFilter]\nWebQueryCount=25\n");
  pid_t first = StartConsoleAndWaitUntilRunning();
  WriteBlockCounter(offsetof(RMCallbackBlock, WebQueryCount), 40);

  EXPECT_EQ(RunCorvane("-console"), 0);
  EXPECT_TRUE(Traced("[Initial] CreateEvent g_hSvcStopEvent failed. err = 183"));
  EXPECT_TRUE(IsRunning(first));
  EXPECT_EQ(ReadFile(StopEventPath()).substr(0, 1), "0") << "the first one's stop event is not set";
  EXPECT_EQ(ReadBlock().WebQueryCount, 40u) << "the block is not zeroed";
  EXPECT_EQ(Counter("WebQueryCount"), 25) << "the second instance saves no counters";

  SetStopEventByFile();
  EXPECT_EQ(WaitForExit(first), 0);
  EXPECT_EQ(Counter("WebQueryCount"), 40);
}

TEST_F(ServiceTest, MissingRegistryValuesFailStartUpWithTheRegistrysCode) {
  struct Case {
    const char16_t* missing;  // null: the whole product key
    const char* trace;
  };
  const Case cases[] = {
      {nullptr, "[Initial] g_RegData.Initial() failed. err = 2"},
      {u"Lang", "[Initial] g_RegData.GetLanguageID() failed. err = 2"},
      {u"InstQuor", "[Initial] g_RegData.GetInstallQuororNot() failed. err = 2"},
  };
  for (const Case& c : cases) {
    WriteFile(traceFile, "");
    PutProductKey(kProductKeyPath);  // the previous case may have removed all of it
    if (c.missing == nullptr) {
      ASSERT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProductKeyPath), ERROR_SUCCESS);
    } else {
      DeleteValue(c.missing);
    }
    EXPECT_EQ(RunCorvane("-console"), 0) << c.trace;
    EXPECT_TRUE(Traced(c.trace)) << c.trace;
    EXPECT_FALSE(Traced("[MonitorConfigDirectory] >>>")) << c.trace;
    EXPECT_FALSE(NamedObjectFile::IsLive(StopEventPath()));
  }
}

TEST_F(ServiceTest, MissingBlockingStillStartsWithReportOnlySwitchesOff) {
  DeleteValue(u"Blocking");
  PutDword(kProductKeyPath, u"InstQuor", 1);
  pid_t pid = StartConsoleAndWaitUntilRunning();
  EXPECT_TRUE(Traced("[Initial] g_RegData.GetBlockingOrNot() failed. err = 2"));
  HVPX_URLF_CONFIG config;
  ASSERT_TRUE(WaitUntil([&] {
    RegKey key;
    uint32_t size = sizeof(config);
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, kHvpxUrlFilterKeyPath, 0, KEY_READ, &key) == ERROR_SUCCESS &&
           RegQueryValueExW(key, kHvpxUrlFilterConfigValue, nullptr, nullptr, reinterpret_cast<uint8_t*>(&config),
                            &size) == ERROR_SUCCESS;
  }));
  EXPECT_EQ(config.ReportOnlyPages, 0u);
  EXPECT_EQ(config.ReportOnlyDownloads, 0u);
  EXPECT_EQ(config.CredScrThreshold, kHvpxDefaultCredScrThreshold);
  SetStopEventByFile();
  EXPECT_EQ(WaitForExit(pid), 0);
}

TEST_F(ServiceTest, WithoutTheProxyComponentNobodyListensForRatings) {
  pid_t pid = StartConsoleAndWaitUntilRunning();
  EXPECT_EQ(NotifyTool("http://bad.example/", "40"), 1);
  SetStopEventByFile();
  EXPECT_EQ(WaitForExit(pid), 0);
  EXPECT_FALSE(Traced("[Initial] call HvpxSetNotifyEx()"));
  EXPECT_FALSE(Traced("RmURLFilterNotify"));
}

TEST_F(ServiceTest, WithTheProxyComponentRatingsReachTheCallbackUntilShutdown) {
  PutDword(kProductKeyPath, u"InstQuor", 1);
  pid_t pid = StartConsoleAndWaitUntilRunning();
  ASSERT_TRUE(WaitForTrace("[Initial] call HvpxSetNotifyEx()"));
  EXPECT_EQ(NotifyTool("http://bad.example/", "40"), 0);
  EXPECT_TRUE(WaitForTrace("[ RmURLFilterNotify] URL: http://bad.example/, Score: 40"));
  EXPECT_TRUE(Traced("[ RmURLFilterNotify] Type: 1, Protocol: 3, Scan: 0"));
  SetStopEventByFile();
  EXPECT_EQ(WaitForExit(pid), 0);
  EXPECT_EQ(NotifyTool("http://late.example/", "40"), 1);
  EXPECT_FALSE(Traced("late.example"));
}

TEST_F(ServiceTest, DebugSettingsStartTheLogHostThroughTheServicesLauncher) {
  // Without its program file the start fails, so no second host can outlive the test; the
  // attempt and its failure reach the host that already runs.
  WriteFile(install + "qzdebug.ini", "[debug]\ndebuglog=debug.log\ndebuglevel=8\n");
  std::filesystem::remove(install + "LogHost");
  EXPECT_EQ(RunCorvane("-uninstall"), 0);
  EXPECT_TRUE(Traced("[LaunchEXE] szCommand: \"" + install + "LogHost\" ")) << Traces();
  EXPECT_TRUE(Traced("CreateProcess " + install + "LogHost failed! err = 2")) << Traces();
  EXPECT_FALSE(Traced("[StartLogHost] LogHost ready"));
}

TEST_F(ServiceTest, ServiceWhoseStartFailsReportsStoppedWithTheCode) {
  DeleteValue(u"Lang");
  EXPECT_EQ(RunCorvane(""), 0);
  ScHandle manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ScHandle service = OpenServiceW(manager, u"Corvane", SERVICE_ALL_ACCESS);
  ASSERT_TRUE(service);
  EXPECT_TRUE(WaitForTrace("[Initial] g_RegData.GetLanguageID() failed. err = 2"));
  SERVICE_STATUS status;
  EXPECT_TRUE(WaitUntil([&] { return QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOPPED; }));
  EXPECT_EQ(status.dwWin32ExitCode, 0u);
  EXPECT_EQ(status.dwServiceSpecificExitCode, ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(Traced("[MonitorConfigDirectory] >>>")) << "no worker started";
}

TEST_F(ServiceTest, ServicePathInstallsStartsAndRemoves) {
  // No service yet: the program installs and starts it, then ends.
  EXPECT_EQ(RunCorvane(""), 0);
  ScHandle manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ScHandle service = OpenServiceW(manager, u"Corvane", SERVICE_ALL_ACCESS);
  ASSERT_TRUE(service);
  SERVICE_STATUS status;
  EXPECT_TRUE(WaitUntil([&] { return QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING; }));
  EXPECT_EQ(status.dwServiceType, SERVICE_WIN32_OWN_PROCESS);
  EXPECT_EQ(status.dwControlsAccepted, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN);
  EXPECT_TRUE(WaitForTrace("[MonitorConfigDirectory] >>>"));

  // Not console mode: with the service installed this is the dispatcher, outside the manager.
  EXPECT_EQ(RunCorvane("-console x"), 0);
  EXPECT_TRUE(Traced("StartServiceCtrlDispatcher failed. err = 1063"));
  EXPECT_TRUE(QueryServiceStatus(service, &status));
  EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);

  EXPECT_EQ(RunCorvane("-REMOVE"), 0);
  EXPECT_TRUE(Traced("[service_ctrl] Signal SERVICE_STOP_EVENT"));
  EXPECT_TRUE(WaitUntil([&] { return !NamedObjectFile::IsLive(StopEventPath()); }));
  ScHandle gone = OpenServiceW(manager, u"Corvane", SERVICE_ALL_ACCESS);
  EXPECT_FALSE(gone);
  EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
}

}  // namespace
