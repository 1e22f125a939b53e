// The service control manager. The service table lives in the registry as on Windows, under
// HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\<Name> ("ImagePath", "DisplayName",
// "Start", "Type", "ErrorControl"). Starting a service spawns its ImagePath detached with
// VELMORA_SERVICE=<Name> in its environment; only such a process (or one that systemd starts
// with the same variable) gets past the dispatcher, any other gets
// ERROR_FAILED_SERVICE_CONTROLLER_CONNECT.
//
// The running service's dispatcher holds the object file RT/services/<Name> (the liveness rule
// of named objects) and writes every status it reports there as "Key=value" lines (State,
// ControlsAccepted, Win32ExitCode, ServiceSpecificExitCode, CheckPoint, WaitHint, ServiceType,
// ProcessId); with NOTIFY_SOCKET set it also tells systemd. A service whose process is gone is
// stopped; when it had not reported so, its exit code is ERROR_PROCESS_ABORTED. The stop control
// reaches the service as SIGTERM, which the dispatcher turns into SERVICE_CONTROL_STOP for the
// control handler.
//
// Calls that answer a handle answer an invalid one with the last error on failure; the others
// answer false with the last error.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace platform {

inline constexpr uint32_t SERVICE_WIN32_OWN_PROCESS = 0x10;
inline constexpr uint32_t SERVICE_INTERACTIVE_PROCESS = 0x100;

inline constexpr uint32_t SERVICE_AUTO_START = 2;
inline constexpr uint32_t SERVICE_DEMAND_START = 3;
inline constexpr uint32_t SERVICE_DISABLED = 4;
inline constexpr uint32_t SERVICE_ERROR_NORMAL = 1;

inline constexpr uint32_t SERVICE_STOPPED = 1;
inline constexpr uint32_t SERVICE_START_PENDING = 2;
inline constexpr uint32_t SERVICE_STOP_PENDING = 3;
inline constexpr uint32_t SERVICE_RUNNING = 4;
inline constexpr uint32_t SERVICE_CONTINUE_PENDING = 5;
inline constexpr uint32_t SERVICE_PAUSE_PENDING = 6;
inline constexpr uint32_t SERVICE_PAUSED = 7;

inline constexpr uint32_t SERVICE_CONTROL_STOP = 1;
inline constexpr uint32_t SERVICE_CONTROL_INTERROGATE = 4;
inline constexpr uint32_t SERVICE_CONTROL_SHUTDOWN = 5;

inline constexpr uint32_t SERVICE_ACCEPT_STOP = 0x1;
inline constexpr uint32_t SERVICE_ACCEPT_SHUTDOWN = 0x4;

inline constexpr uint32_t SC_MANAGER_ALL_ACCESS = 0xF003F;
inline constexpr uint32_t SERVICE_QUERY_STATUS = 0x0004;
inline constexpr uint32_t SERVICE_START = 0x0010;
inline constexpr uint32_t SERVICE_STOP = 0x0020;
inline constexpr uint32_t SERVICE_ALL_ACCESS = 0xF01FF;

struct SERVICE_STATUS {
  uint32_t dwServiceType = 0;
  uint32_t dwCurrentState = 0;
  uint32_t dwControlsAccepted = 0;
  uint32_t dwWin32ExitCode = 0;
  uint32_t dwServiceSpecificExitCode = 0;
  uint32_t dwCheckPoint = 0;
  uint32_t dwWaitHint = 0;
};

// A handle to the manager or to one service; closed at destruction.
class ScHandle {
 public:
  ScHandle() = default;
  // A moved-from handle is closed, never a handle to the manager.
  ScHandle(ScHandle&& other) noexcept { *this = std::move(other); }
  ScHandle& operator=(ScHandle&& other) noexcept {
    if (this != &other) {
      m_valid = std::exchange(other.m_valid, false);
      m_serviceName = std::move(other.m_serviceName);
      other.m_serviceName.clear();
    }
    return *this;
  }
  ScHandle(const ScHandle&) = delete;
  ScHandle& operator=(const ScHandle&) = delete;

  bool Valid() const { return m_valid; }
  explicit operator bool() const { return m_valid; }
  bool IsService() const { return m_valid && !m_serviceName.empty(); }
  const std::u16string& ServiceName() const { return m_serviceName; }
  void Close() { *this = ScHandle(); }

 private:
  friend struct ScHandleAccess;
  bool m_valid = false;
  std::u16string m_serviceName;  // empty for the manager
};

// Only the local manager exists: machineName and databaseName must be null or empty.
ScHandle OpenSCManagerW(const char16_t* machineName, const char16_t* databaseName, uint32_t access);

// ERROR_SERVICE_EXISTS when the name is taken.
ScHandle CreateServiceW(const ScHandle& manager, const char16_t* serviceName, const char16_t* displayName,
                        uint32_t access, uint32_t serviceType, uint32_t startType, uint32_t errorControl,
                        const char16_t* binaryPathName);

// ERROR_SERVICE_DOES_NOT_EXIST when there is no such service.
ScHandle OpenServiceW(const ScHandle& manager, const char16_t* serviceName, uint32_t access);

// Starts the service and answers once its dispatcher is up: ERROR_SERVICE_ALREADY_RUNNING when
// it runs, ERROR_SERVICE_REQUEST_TIMEOUT when the process does not reach its dispatcher within
// 30 seconds or ends first. Start arguments are not carried (argc must be 0).
bool StartServiceW(const ScHandle& service, uint32_t argc, const char16_t** argv);

// SERVICE_CONTROL_STOP or SERVICE_CONTROL_INTERROGATE; status (optional) receives the latest
// status. ERROR_SERVICE_NOT_ACTIVE when the service does not run,
// ERROR_SERVICE_CANNOT_ACCEPT_CTRL when it does not take the control now,
// ERROR_INVALID_SERVICE_CONTROL for other controls.
bool ControlService(const ScHandle& service, uint32_t control, SERVICE_STATUS* status);

bool QueryServiceStatus(const ScHandle& service, SERVICE_STATUS* status);

// Removes the service from the table; a running process goes on until it stops.
// ERROR_SERVICE_MARKED_FOR_DELETE when it was deleted already.
bool DeleteService(const ScHandle& service);

bool CloseServiceHandle(ScHandle& handle);

// ---- In the service's own process ----

using LPSERVICE_MAIN_FUNCTIONW = void (*)(uint32_t argc, char16_t** argv);
using LPHANDLER_FUNCTION = void (*)(uint32_t control);
using SERVICE_STATUS_HANDLE = uintptr_t;  // 0 is no handle

struct SERVICE_TABLE_ENTRYW {
  const char16_t* lpServiceName;
  LPSERVICE_MAIN_FUNCTIONW lpServiceProc;
};

// Runs the service named by VELMORA_SERVICE (the entry of that name, or the table's only entry)
// on a thread of its own with argv = { name }, delivers controls to its handler on the calling
// thread, and returns when the service main function has returned. The table ends with a null
// entry. ERROR_FAILED_SERVICE_CONTROLLER_CONNECT when the process was not started as a service;
// ERROR_SERVICE_ALREADY_RUNNING when another process runs the service.
bool StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* table);

// 0 with the last error when no dispatcher runs the named service in this process.
SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerW(const char16_t* serviceName, LPHANDLER_FUNCTION handler);

bool SetServiceStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS* status);

}  // namespace platform
