#include "AgentService.h"

#include <signal.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "HVBotAlertAgent.h"
#include "dl_DebugLog.h"
#include "platform/error.h"
#include "platform/event.h"
#include "platform/identity.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/unique_fd.h"
#include "platform/wait.h"

namespace {

constexpr char16_t kModule[] = u"AgentService";
constexpr char16_t kConsoleSwitch[] = u"-console";
constexpr const char* kProgramFolders[] = {"Config", "Pcap_input", "Pcap_output", "Download", "Temp"};
constexpr size_t kLaunchCommandChars = 1024;
constexpr uint32_t kStopPollMs = 1000;
constexpr int kStopPolls = 10;
constexpr uint32_t kStopWaitHintMs = 10000;

// Written by ServiceMain and service_ctrl, which run on different threads.
std::mutex g_statusLock;
platform::SERVICE_STATUS g_ServiceStatus;
platform::SERVICE_STATUS_HANDLE g_hServiceStatus = 0;

int AsInt(uint32_t value) { return static_cast<int>(value); }

bool ReportStatus() { return platform::SetServiceStatus(g_hServiceStatus, &g_ServiceStatus); }

std::u16string CommandLineTail(int argc, char** argv) {
  std::string tail;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) tail += ' ';
    tail += argv[i];
  }
  return platform::Utf8ToUtf16(tail);
}

// The program file's path when it fits the limit; empty otherwise.
std::string BoundedProgramPath() {
  std::string path = platform::ModuleFileName();
  if (path.empty() || platform::Utf8ToUtf16(path).size() >= kMaxProgramPathChars) return {};
  return path;
}

// Signalled once a stop signal has arrived. The handler only writes to an eventfd, which is safe
// in a signal handler, and it runs on whichever thread the signal lands on, so threads that the
// platform started before console mode began need no signal mask of ours.
int g_stopSignalFd = -1;

void NoteStopSignal(int) {
  uint64_t one = 1;
  ssize_t ignored = ::write(g_stopSignalFd, &one, sizeof(one));
  (void)ignored;
}

class StopSignalWait : public platform::WaitObject {
 public:
  StopSignalWait() : m_fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  bool Valid() const { return m_fd.Valid(); }
  int PollFd() const override { return m_fd.Get(); }
  bool TestSignalled() override {
    uint64_t count = 0;
    return ::read(m_fd.Get(), &count, sizeof(count)) == static_cast<ssize_t>(sizeof(count));
  }

 private:
  platform::UniqueFd m_fd;
};

// In console mode SIGINT and SIGTERM set the stop event, so Ctrl+C ends the run as the stop
// control would. The event is only armed once Initial has made it ours: a signal to an instance
// that failed to start must not stop the one that runs.
class ConsoleStopSignals {
 public:
  ConsoleStopSignals() {
    m_done = platform::Event::Create(true, false);
    if (!m_wait.Valid() || !m_done) return;
    g_stopSignalFd = m_wait.PollFd();
    struct sigaction action {};
    action.sa_handler = &NoteStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &m_previousInt);
    ::sigaction(SIGTERM, &action, &m_previousTerm);
    m_watcher = std::thread([this] { Watch(); });
  }

  ~ConsoleStopSignals() {
    if (!m_watcher.joinable()) return;
    m_done->Set();
    m_watcher.join();
    ::sigaction(SIGINT, &m_previousInt, nullptr);
    ::sigaction(SIGTERM, &m_previousTerm, nullptr);
    g_stopSignalFd = -1;
  }

  void Arm(platform::Event* stopEvent) {
    m_stopEvent.store(stopEvent);
    if (stopEvent != nullptr && m_pending.load()) stopEvent->Set();
  }

 private:
  void Watch() {
    for (;;) {
      uint32_t fired = platform::WaitForAny({m_done.get(), &m_wait}, platform::INFINITE);
      if (fired != platform::WAIT_OBJECT_0 + 1) return;
      DebugTraceW(5, kModule, __LINE__, u"[ServiceMain] stop signal received");
      m_pending.store(true);
      if (platform::Event* stopEvent = m_stopEvent.load()) stopEvent->Set();
    }
  }

  StopSignalWait m_wait;
  std::unique_ptr<platform::Event> m_done;
  struct sigaction m_previousInt {};
  struct sigaction m_previousTerm {};
  std::atomic<platform::Event*> m_stopEvent{nullptr};
  std::atomic<bool> m_pending{false};
  std::thread m_watcher;
};

void RunConsole(int argc, char** argv) {
  std::vector<std::u16string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(platform::Utf8ToUtf16(argv[i]));
  std::vector<char16_t*> vector;
  for (std::u16string& argument : arguments) vector.push_back(argument.data());
  vector.push_back(nullptr);
  ServiceMain(static_cast<uint32_t>(argc), vector.data());
}

void RunConsoleMode() {
  ConsoleStopSignals signals;
  uint32_t error = Initial();
  if (error == platform::ERROR_SUCCESS) signals.Arm(g_hSvcStopEvent.get());
  WaitForWorkerThreads();
  Uninitial();
}

}  // namespace

void SetCurrentDirToModule() {
  std::string path = BoundedProgramPath();
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return;
  platform::SetCurrentDirectory(path.substr(0, slash == 0 ? 1 : slash));
}

void CreateProgramFolders() {
  for (const char* folder : kProgramFolders) ::mkdir(folder, 0755);
}

bool IsServiceInstalled() {
  platform::ScHandle manager = platform::OpenSCManagerW(nullptr, nullptr, platform::SC_MANAGER_ALL_ACCESS);
  if (!manager) return false;
  platform::ScHandle service = platform::OpenServiceW(manager, kServiceName, platform::SERVICE_ALL_ACCESS);
  platform::SERVICE_STATUS status;
  return service && platform::QueryServiceStatus(service, &status);
}

bool InstallService() {
  std::string path = BoundedProgramPath();
  if (path.empty()) return false;
  std::u16string imagePath = platform::StringFormatW(u"\"%s\"", platform::Utf8ToUtf16(path).c_str());
  platform::ScHandle manager = platform::OpenSCManagerW(nullptr, nullptr, platform::SC_MANAGER_ALL_ACCESS);
  if (!manager) return false;
  platform::ScHandle service = platform::CreateServiceW(
      manager, kServiceName, kServiceDisplayName, platform::SERVICE_ALL_ACCESS,
      platform::SERVICE_WIN32_OWN_PROCESS | platform::SERVICE_INTERACTIVE_PROCESS, platform::SERVICE_AUTO_START,
      platform::SERVICE_ERROR_NORMAL, imagePath.c_str());
  if (!service) return false;
  platform::StartServiceW(service, 0, nullptr);
  return true;
}

bool UninstallService() {
  platform::ScHandle manager = platform::OpenSCManagerW(nullptr, nullptr, platform::SC_MANAGER_ALL_ACCESS);
  if (!manager) return false;
  platform::ScHandle service = platform::OpenServiceW(manager, kServiceName, platform::SERVICE_ALL_ACCESS);
  if (!service) return false;
  platform::SERVICE_STATUS status;
  if (platform::ControlService(service, platform::SERVICE_CONTROL_STOP, &status)) {
    for (int polls = 0; polls < kStopPolls; ++polls) {
      ::usleep(kStopPollMs * 1000);
      if (!platform::QueryServiceStatus(service, &status) || status.dwCurrentState != platform::SERVICE_STOP_PENDING) {
        break;
      }
    }
  }
  return platform::DeleteService(service);
}

int RunServiceDispatcher() {
  const platform::SERVICE_TABLE_ENTRYW table[] = {{kServiceName, &ServiceMain}, {nullptr, nullptr}};
  if (!platform::StartServiceCtrlDispatcherW(table)) {
    DebugTraceW(5, kModule, __LINE__, u"StartServiceCtrlDispatcher failed. err = %d",
                AsInt(platform::GetLastError()));
  }
  return 0;
}

void ServiceMain(uint32_t argc, char16_t** argv) {
  const bool console = argc == 2 && std::u16string_view(argv[1]) == kConsoleSwitch;
  if (console) {
    RunConsoleMode();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(g_statusLock);
    g_ServiceStatus = platform::SERVICE_STATUS{};
    g_ServiceStatus.dwServiceType = platform::SERVICE_WIN32_OWN_PROCESS;
    g_ServiceStatus.dwCurrentState = platform::SERVICE_START_PENDING;
    g_ServiceStatus.dwControlsAccepted = platform::SERVICE_ACCEPT_STOP | platform::SERVICE_ACCEPT_SHUTDOWN;
    g_hServiceStatus = platform::RegisterServiceCtrlHandlerW(kServiceName, &service_ctrl);
    if (g_hServiceStatus == 0) return;
  }
  uint32_t error = Initial();
  {
    std::lock_guard<std::mutex> lock(g_statusLock);
    g_ServiceStatus.dwCheckPoint = 0;
    g_ServiceStatus.dwWaitHint = 0;
    if (error != platform::ERROR_SUCCESS) {
      g_ServiceStatus.dwCurrentState = platform::SERVICE_STOPPED;
      g_ServiceStatus.dwWin32ExitCode = 0;
      g_ServiceStatus.dwServiceSpecificExitCode = error;
      ReportStatus();
      return;
    }
    g_ServiceStatus.dwCurrentState = platform::SERVICE_RUNNING;
    if (!ReportStatus()) {
      DebugTraceW(5, kModule, __LINE__, u"[ServiceMain] SetServiceStatus failed. err = %d",
                  AsInt(platform::GetLastError()));
      return;
    }
  }
  WaitForWorkerThreads();
  Uninitial();
  std::lock_guard<std::mutex> lock(g_statusLock);
  g_ServiceStatus.dwCurrentState = platform::SERVICE_STOPPED;
  g_ServiceStatus.dwCheckPoint = 0;
  g_ServiceStatus.dwWaitHint = 0;
  ReportStatus();
}

void service_ctrl(uint32_t control) {
  if (control != platform::SERVICE_CONTROL_STOP && control != platform::SERVICE_CONTROL_SHUTDOWN) return;
  {
    std::lock_guard<std::mutex> lock(g_statusLock);
    g_ServiceStatus.dwCurrentState = platform::SERVICE_STOP_PENDING;
    g_ServiceStatus.dwCheckPoint = 1;
    g_ServiceStatus.dwWaitHint = kStopWaitHintMs;
    g_ServiceStatus.dwWin32ExitCode = 0;
    ReportStatus();
  }
  if (g_hSvcStopEvent) g_hSvcStopEvent->Set();
  DebugTraceW(5, kModule, __LINE__, u"[service_ctrl] Signal SERVICE_STOP_EVENT");
}

int LaunchEXE(const char16_t* programPath) {
  char16_t command[kLaunchCommandChars];
  std::u16string full = platform::StringFormatW(u"\"%s\" %s", programPath, u"");
  platform::CopyBounded(command, kLaunchCommandChars, full);
  DebugTraceW(8, kModule, __LINE__, u"[LaunchEXE] szCommand: %s", command);
  // A command line that had to be cut would start the program with a wrong name.
  uint32_t error = full.size() < kLaunchCommandChars
                       ? platform::LaunchProcess(platform::Utf16ToUtf8(programPath), platform::Utf16ToUtf8(command),
                                                 platform::LaunchOptions{})
                       : platform::ERROR_FILENAME_EXCED_RANGE;
  if (error != platform::ERROR_SUCCESS) {
    DebugTraceW(5, kModule, __LINE__, u"CreateProcess %s failed! err = %d", programPath, AsInt(error));
    return 0;
  }
  return 1;
}

int AgentServiceEntry(int argc, char** argv) {
  StartLogHost(&LaunchEXE);
  InitDebugLogW(nullptr, nullptr, kTraceTag, true);
  SetCurrentDirToModule();
  CreateProgramFolders();
  std::u16string tail = CommandLineTail(argc, argv);
  if (platform::EqualsNoCase(tail, u"-uninstall") || platform::EqualsNoCase(tail, u"-remove")) {
    UninstallService();
  } else if (platform::EqualsNoCase(tail, kConsoleSwitch)) {
    RunConsole(argc, argv);
  } else if (IsServiceInstalled()) {
    RunServiceDispatcher();
    StopLogHost();
  } else {
    InstallService();
  }
  return 1;
}
