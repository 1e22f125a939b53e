#include "platform/service_manager.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/error.h"
#include "platform/object_namespace.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/unique_fd.h"

namespace platform {

struct ScHandleAccess {
  static ScHandle Make(std::u16string serviceName) {
    ScHandle handle;
    handle.m_valid = true;
    handle.m_serviceName = std::move(serviceName);
    return handle;
  }
};

namespace {

constexpr char16_t kServicesKey[] = u"SYSTEM\\CurrentControlSet\\Services";
constexpr char kServiceVariable[] = "VELMORA_SERVICE";
constexpr auto kStartTimeout = std::chrono::seconds(30);
constexpr off_t kStatusContentByte = 1;  // readers and the writer of the status lines lock it
constexpr SERVICE_STATUS_HANDLE kStatusHandle = 1;

// ---- The status file ----

struct StatusRecord {
  SERVICE_STATUS status;
  pid_t processId = 0;
};

constexpr struct {
  const char* key;
  uint32_t SERVICE_STATUS::*field;
} kStatusFields[] = {
    {"State", &SERVICE_STATUS::dwCurrentState},
    {"ControlsAccepted", &SERVICE_STATUS::dwControlsAccepted},
    {"Win32ExitCode", &SERVICE_STATUS::dwWin32ExitCode},
    {"ServiceSpecificExitCode", &SERVICE_STATUS::dwServiceSpecificExitCode},
    {"CheckPoint", &SERVICE_STATUS::dwCheckPoint},
    {"WaitHint", &SERVICE_STATUS::dwWaitHint},
    {"ServiceType", &SERVICE_STATUS::dwServiceType},
};

std::string FormatStatus(const StatusRecord& record) {
  std::string text;
  for (const auto& field : kStatusFields) {
    text += StringFormatA("%s=%u\n", field.key, record.status.*field.field);
  }
  text += StringFormatA("ProcessId=%d\n", static_cast<int>(record.processId));
  return text;
}

StatusRecord ParseStatus(std::string_view text) {
  StatusRecord record;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    std::string_view key = line.substr(0, equals);
    uint32_t value = static_cast<uint32_t>(TextToInt(line.substr(equals + 1)));
    for (const auto& field : kStatusFields) {
      if (key == field.key) record.status.*field.field = value;
    }
    if (key == "ProcessId") record.processId = static_cast<pid_t>(value);
  }
  return record;
}

bool WriteStatusFile(int fd, const StatusRecord& record) {
  std::string text = FormatStatus(record);
  if (!LockByte(fd, F_WRLCK, kStatusContentByte, true)) return false;
  bool written = ::pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()) &&
                 ::ftruncate(fd, static_cast<off_t>(text.size())) == 0;
  if (!written) SetLastErrorFromErrno();
  LockByte(fd, F_UNLCK, kStatusContentByte, false);
  return written;
}

// The last status the service reported, and whether its process still holds the file.
bool ReadStatusFile(const std::u16string& serviceName, StatusRecord* record, bool* live) {
  *record = StatusRecord{};
  *live = false;
  std::string path = ServiceStatusPath(Utf16ToUtf8(serviceName));
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd) return false;
  *live = IsByteLockedElsewhere(fd.Get(), 0);
  if (!LockByte(fd.Get(), F_RDLCK, kStatusContentByte, true)) return false;
  std::string text;
  char block[512];
  ssize_t got;
  while ((got = ::pread(fd.Get(), block, sizeof block, static_cast<off_t>(text.size()))) > 0) {
    text.append(block, static_cast<size_t>(got));
  }
  LockByte(fd.Get(), F_UNLCK, kStatusContentByte, false);
  *record = ParseStatus(text);
  return true;
}

// ---- The service table ----

bool IsValidServiceName(std::u16string_view name) {
  return !name.empty() && name.size() <= 256 && name.find_first_of(u"\\/") == std::u16string_view::npos;
}

std::u16string ServiceKeyPath(std::u16string_view name) {
  return std::u16string(kServicesKey) + u"\\" + std::u16string(name);
}

// Names compare without regard to case, but the status file's path is spelt one way: the way
// the service was created.
uint32_t CanonicalServiceName(std::u16string_view name, std::u16string* canonical) {
  RegKey services;
  uint32_t error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServicesKey, 0, KEY_READ, &services);
  if (error == ERROR_FILE_NOT_FOUND) return ERROR_SERVICE_DOES_NOT_EXIST;
  if (error != ERROR_SUCCESS) return error;
  for (uint32_t index = 0;; ++index) {
    char16_t child[260];
    uint32_t size = 260;
    error = RegEnumKeyExW(services, index, child, &size);
    if (error == ERROR_NO_MORE_ITEMS) return ERROR_SERVICE_DOES_NOT_EXIST;
    if (error == ERROR_MORE_DATA) continue;
    if (error != ERROR_SUCCESS) return error;
    if (EqualsNoCase(name, std::u16string_view(child, size))) {
      canonical->assign(child, size);
      return ERROR_SUCCESS;
    }
  }
}

uint32_t ReadDword(const RegKey& key, const char16_t* name, uint32_t* value) {
  uint32_t size = sizeof *value;
  return RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<uint8_t*>(value), &size);
}

uint32_t ReadText(const RegKey& key, const char16_t* name, std::u16string* text) {
  uint32_t size = 0;
  uint32_t error = RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &size);
  if (error != ERROR_SUCCESS) return error;
  std::vector<uint8_t> bytes(size);
  error = RegQueryValueExW(key, name, nullptr, nullptr, bytes.data(), &size);
  if (error != ERROR_SUCCESS) return error;
  text->clear();
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) text->push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
  while (!text->empty() && text->back() == u'\0') text->pop_back();
  return ERROR_SUCCESS;
}

uint32_t WriteDword(const RegKey& key, const char16_t* name, uint32_t value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const uint8_t*>(&value), sizeof value);
}

uint32_t WriteText(const RegKey& key, const char16_t* name, std::u16string_view text) {
  std::u16string terminated(text);
  terminated.push_back(u'\0');
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const uint8_t*>(terminated.data()),
                        static_cast<uint32_t>(terminated.size() * sizeof(char16_t)));
}

template <typename T>
T Fail(uint32_t error, T answer) {
  SetLastError(error);
  return answer;
}

bool Fail(uint32_t error) { return Fail(error, false); }

bool CheckService(const ScHandle& service) {
  if (!service.IsService()) return Fail(ERROR_INVALID_HANDLE);
  return true;
}

// A started process is reaped when it ends, so that it leaves no zombie; the flag tells the start
// call that it ended before reaching its dispatcher.
std::shared_ptr<std::atomic<bool>> ReapInBackground(pid_t child) {
  auto ended = std::make_shared<std::atomic<bool>>(false);
  std::thread([child, ended] {
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    ended->store(true);
  }).detach();
  return ended;
}

// ---- The dispatcher in the service's process ----

int g_stopSignalFd = -1;  // written by the SIGTERM handler

void OnStopSignal(int) {
  int saved = errno;
  uint64_t one = 1;
  if (g_stopSignalFd >= 0) (void)!::write(g_stopSignalFd, &one, sizeof one);
  errno = saved;
}

class Dispatcher {
 public:
  static Dispatcher& Instance() {
    static Dispatcher dispatcher;
    return dispatcher;
  }

  bool Run(const SERVICE_TABLE_ENTRYW& entry, std::u16string name);
  SERVICE_STATUS_HANDLE Register(std::u16string_view name, LPHANDLER_FUNCTION handler);
  bool Report(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS& status);

 private:
  void DeliverPendingStop();
  void Wake() {
    uint64_t one = 1;
    (void)!::write(m_wake.Get(), &one, sizeof one);
  }

  std::mutex m_mutex;
  bool m_active = false;
  std::u16string m_name;
  std::unique_ptr<NamedObjectFile> m_statusFile;
  StatusRecord m_record;
  LPHANDLER_FUNCTION m_handler = nullptr;
  bool m_stopPending = false;  // a stop arrived before the service could take it
  UniqueFd m_wake;             // status reports and the end of the service thread
};

void NotifySystemd(const SERVICE_STATUS& status) {
  switch (status.dwCurrentState) {
    case SERVICE_RUNNING:
      sd_notify(0, "READY=1\nSTATUS=Running");
      break;
    case SERVICE_STOP_PENDING:
      sd_notify(0, "STOPPING=1\nSTATUS=Stopping");
      break;
    case SERVICE_STOPPED:
      sd_notifyf(0, "STATUS=Stopped (exit code %u, service code %u)", status.dwWin32ExitCode,
                 status.dwServiceSpecificExitCode);
      break;
    case SERVICE_START_PENDING:
      if (status.dwWaitHint != 0) sd_notifyf(0, "EXTEND_TIMEOUT_USEC=%llu", status.dwWaitHint * 1000ULL);
      break;
    default:
      break;
  }
}

bool Dispatcher::Run(const SERVICE_TABLE_ENTRYW& entry, std::u16string name) {
  UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  UniqueFd stopSignal(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wake || !stopSignal) return Fail(SetLastErrorFromErrno());
  std::unique_ptr<NamedObjectFile> statusFile = NamedObjectFile::Create(ServiceStatusPath(Utf16ToUtf8(name)), 0, {});
  if (!statusFile) return false;
  if (GetLastError() == ERROR_ALREADY_EXISTS) return Fail(ERROR_SERVICE_ALREADY_RUNNING);
  StatusRecord starting;
  starting.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  starting.status.dwCurrentState = SERVICE_START_PENDING;
  starting.processId = ::getpid();
  if (!WriteStatusFile(statusFile->Fd(), starting)) return false;

  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_active = true;
    m_name = name;
    m_statusFile = std::move(statusFile);
    m_record = starting;
    m_handler = nullptr;
    m_stopPending = false;
    m_wake = std::move(wake);
  }
  g_stopSignalFd = stopSignal.Get();
  struct sigaction action {}, previous {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &action, &previous);

  std::atomic<bool> ended{false};
  std::thread serviceThread([&] {
    std::u16string argument = name;
    char16_t* argv[] = {argument.data(), nullptr};
    entry.lpServiceProc(1, argv);
    ended.store(true);
    Wake();
  });
  while (!ended.load()) {
    pollfd fds[2] = {{m_wake.Get(), POLLIN, 0}, {stopSignal.Get(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
    uint64_t count = 0;
    (void)!::read(m_wake.Get(), &count, sizeof count);
    if (::read(stopSignal.Get(), &count, sizeof count) == sizeof count) {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_stopPending = true;
    }
    DeliverPendingStop();
  }
  serviceThread.join();

  ::sigaction(SIGTERM, &previous, nullptr);
  g_stopSignalFd = -1;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_record.status.dwCurrentState != SERVICE_STOPPED) {
    m_record.status.dwCurrentState = SERVICE_STOPPED;
    m_record.status.dwControlsAccepted = 0;
    WriteStatusFile(m_statusFile->Fd(), m_record);
    NotifySystemd(m_record.status);
  }
  m_active = false;
  m_handler = nullptr;
  m_statusFile.reset();
  m_wake.Reset();
  SetLastError(ERROR_SUCCESS);
  return true;
}

// A stop goes to the handler once the service runs and says that it takes stops.
void Dispatcher::DeliverPendingStop() {
  LPHANDLER_FUNCTION handler = nullptr;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    bool acceptable = m_handler != nullptr && m_record.status.dwCurrentState == SERVICE_RUNNING &&
                      (m_record.status.dwControlsAccepted & SERVICE_ACCEPT_STOP) != 0;
    if (!m_stopPending || !acceptable) return;
    m_stopPending = false;
    handler = m_handler;
  }
  handler(SERVICE_CONTROL_STOP);
}

SERVICE_STATUS_HANDLE Dispatcher::Register(std::u16string_view name, LPHANDLER_FUNCTION handler) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_active) return Fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT, SERVICE_STATUS_HANDLE{0});
  if (!EqualsNoCase(name, m_name)) return Fail(ERROR_SERVICE_DOES_NOT_EXIST, SERVICE_STATUS_HANDLE{0});
  if (handler == nullptr) return Fail(ERROR_INVALID_PARAMETER, SERVICE_STATUS_HANDLE{0});
  m_handler = handler;
  SetLastError(ERROR_SUCCESS);
  return kStatusHandle;
}

bool Dispatcher::Report(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS& status) {
  if (status.dwCurrentState < SERVICE_STOPPED || status.dwCurrentState > SERVICE_PAUSED) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_active || handle != kStatusHandle) return Fail(ERROR_INVALID_HANDLE);
    m_record.status = status;
    if (!WriteStatusFile(m_statusFile->Fd(), m_record)) return false;
  }
  NotifySystemd(status);
  Wake();
  SetLastError(ERROR_SUCCESS);
  return true;
}

}  // namespace

// ---- Manager calls ----

ScHandle OpenSCManagerW(const char16_t* machineName, const char16_t* databaseName, uint32_t /*access*/) {
  if ((machineName && *machineName) || (databaseName && *databaseName)) return Fail(ERROR_NOT_SUPPORTED, ScHandle());
  SetLastError(ERROR_SUCCESS);
  return ScHandleAccess::Make(u"");
}

ScHandle CreateServiceW(const ScHandle& manager, const char16_t* serviceName, const char16_t* displayName,
                        uint32_t /*access*/, uint32_t serviceType, uint32_t startType, uint32_t errorControl,
                        const char16_t* binaryPathName) {
  if (!manager.Valid() || manager.IsService()) return Fail(ERROR_INVALID_HANDLE, ScHandle());
  std::u16string name = serviceName ? serviceName : u"";
  if (!IsValidServiceName(name) || binaryPathName == nullptr || *binaryPathName == u'\0') {
    return Fail(ERROR_INVALID_PARAMETER, ScHandle());
  }
  RegKey key;
  uint32_t disposition = 0;
  uint32_t error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, ServiceKeyPath(name).c_str(), KEY_ALL_ACCESS, &key, &disposition);
  if (error != ERROR_SUCCESS) return Fail(error, ScHandle());
  if (disposition != REG_CREATED_NEW_KEY) return Fail(ERROR_SERVICE_EXISTS, ScHandle());
  for (uint32_t written : {WriteText(key, u"ImagePath", binaryPathName),
                           WriteText(key, u"DisplayName", displayName ? displayName : name.c_str()),
                           WriteDword(key, u"Type", serviceType), WriteDword(key, u"Start", startType),
                           WriteDword(key, u"ErrorControl", errorControl)}) {
    if (written != ERROR_SUCCESS) {
      RegDeleteTreeW(HKEY_LOCAL_MACHINE, ServiceKeyPath(name).c_str());
      return Fail(written, ScHandle());
    }
  }
  SetLastError(ERROR_SUCCESS);
  return ScHandleAccess::Make(std::move(name));
}

ScHandle OpenServiceW(const ScHandle& manager, const char16_t* serviceName, uint32_t /*access*/) {
  if (!manager.Valid() || manager.IsService()) return Fail(ERROR_INVALID_HANDLE, ScHandle());
  std::u16string name = serviceName ? serviceName : u"";
  if (!IsValidServiceName(name)) return Fail(ERROR_INVALID_PARAMETER, ScHandle());
  std::u16string canonical;
  uint32_t error = CanonicalServiceName(name, &canonical);
  if (error != ERROR_SUCCESS) return Fail(error, ScHandle());
  SetLastError(ERROR_SUCCESS);
  return ScHandleAccess::Make(std::move(canonical));
}

bool StartServiceW(const ScHandle& service, uint32_t argc, const char16_t** /*argv*/) {
  if (!CheckService(service)) return false;
  if (argc != 0) return Fail(ERROR_NOT_SUPPORTED);
  StatusRecord record;
  bool live = false;
  ReadStatusFile(service.ServiceName(), &record, &live);
  if (live) return Fail(ERROR_SERVICE_ALREADY_RUNNING);
  RegKey key;
  uint32_t error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, ServiceKeyPath(service.ServiceName()).c_str(), 0, KEY_READ, &key);
  if (error == ERROR_FILE_NOT_FOUND) return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
  std::u16string imagePath;
  if (error == ERROR_SUCCESS) error = ReadText(key, u"ImagePath", &imagePath);
  if (error != ERROR_SUCCESS) return Fail(error);
  std::string commandLine = Utf16ToUtf8(imagePath);
  std::vector<std::string> words = SplitCommandLine(commandLine);
  if (words.empty()) return Fail(ERROR_FILE_NOT_FOUND);

  LaunchOptions options;
  options.hidden = true;
  options.extraEnvironment.emplace_back(kServiceVariable, Utf16ToUtf8(service.ServiceName()));
  pid_t child = -1;
  error = LaunchProcess(words.front(), commandLine, options, &child);
  if (error != ERROR_SUCCESS) return Fail(error);
  auto ended = ReapInBackground(child);

  auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    // A status written by the new process means it reached its dispatcher, even when it has
    // ended since.
    ReadStatusFile(service.ServiceName(), &record, &live);
    if (record.processId == child) {
      SetLastError(ERROR_SUCCESS);
      return true;
    }
    if (ended->load()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return Fail(ERROR_SERVICE_REQUEST_TIMEOUT);
}

bool QueryServiceStatus(const ScHandle& service, SERVICE_STATUS* status) {
  if (!CheckService(service)) return false;
  if (status == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  StatusRecord record;
  bool live = false;
  bool reported = ReadStatusFile(service.ServiceName(), &record, &live);
  if (!live) {
    bool stoppedCleanly = !reported || record.status.dwCurrentState == SERVICE_STOPPED;
    record.status.dwWin32ExitCode = stoppedCleanly ? record.status.dwWin32ExitCode : ERROR_PROCESS_ABORTED;
    if (!stoppedCleanly) record.status.dwServiceSpecificExitCode = 0;
    record.status.dwCurrentState = SERVICE_STOPPED;
    record.status.dwControlsAccepted = 0;
    record.status.dwCheckPoint = 0;
    record.status.dwWaitHint = 0;
    if (!reported) {
      RegKey key;
      uint32_t type = SERVICE_WIN32_OWN_PROCESS;
      if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ServiceKeyPath(service.ServiceName()).c_str(), 0, KEY_READ, &key) ==
          ERROR_SUCCESS) {
        ReadDword(key, u"Type", &type);
      }
      record.status.dwServiceType = type;
    }
  }
  *status = record.status;
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool ControlService(const ScHandle& service, uint32_t control, SERVICE_STATUS* status) {
  if (!CheckService(service)) return false;
  if (control != SERVICE_CONTROL_STOP && control != SERVICE_CONTROL_INTERROGATE) {
    return Fail(ERROR_INVALID_SERVICE_CONTROL);
  }
  StatusRecord record;
  bool live = false;
  ReadStatusFile(service.ServiceName(), &record, &live);
  if (!live) return Fail(ERROR_SERVICE_NOT_ACTIVE);
  if (status) *status = record.status;
  if (control == SERVICE_CONTROL_STOP) {
    bool acceptable = record.status.dwCurrentState == SERVICE_RUNNING &&
                      (record.status.dwControlsAccepted & SERVICE_ACCEPT_STOP) != 0;
    if (!acceptable) return Fail(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    if (record.processId <= 0) return Fail(ERROR_SERVICE_NOT_ACTIVE);
    if (::kill(record.processId, SIGTERM) != 0) {
      return Fail(errno == ESRCH ? ERROR_SERVICE_NOT_ACTIVE : ErrorFromErrno(errno));
    }
  }
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool DeleteService(const ScHandle& service) {
  if (!CheckService(service)) return false;
  uint32_t error = RegDeleteTreeW(HKEY_LOCAL_MACHINE, ServiceKeyPath(service.ServiceName()).c_str());
  if (error == ERROR_FILE_NOT_FOUND) return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
  if (error != ERROR_SUCCESS) return Fail(error);
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool CloseServiceHandle(ScHandle& handle) {
  if (!handle.Valid()) return Fail(ERROR_INVALID_HANDLE);
  handle.Close();
  return true;
}

// ---- Dispatcher calls ----

bool StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* table) {
  if (table == nullptr || table[0].lpServiceName == nullptr || table[0].lpServiceProc == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const char* variable = ::getenv(kServiceVariable);
  if (variable == nullptr || *variable == '\0') return Fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  std::u16string name = Utf8ToUtf16(variable);
  const SERVICE_TABLE_ENTRYW* chosen = nullptr;
  size_t count = 0;
  for (const SERVICE_TABLE_ENTRYW* entry = table; entry->lpServiceName != nullptr; ++entry, ++count) {
    if (chosen == nullptr && EqualsNoCase(name, entry->lpServiceName)) chosen = entry;
  }
  if (chosen == nullptr && count == 1) chosen = table;
  if (chosen == nullptr || chosen->lpServiceProc == nullptr) return Fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  // The status goes where the manager looks for it: under the name it started the process with.
  return Dispatcher::Instance().Run(*chosen, std::move(name));
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerW(const char16_t* serviceName, LPHANDLER_FUNCTION handler) {
  return Dispatcher::Instance().Register(serviceName ? serviceName : u"", handler);
}

bool SetServiceStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS* status) {
  if (status == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  return Dispatcher::Instance().Report(handle, *status);
}

}  // namespace platform
