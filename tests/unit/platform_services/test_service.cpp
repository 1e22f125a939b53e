// A tiny service for the service manager's tests. With the argument "die" it ends abruptly once
// it reports running; otherwise it runs until the stop control.
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <mutex>

#include "platform/error.h"
#include "platform/service_manager.h"

namespace {

using namespace platform;

bool g_die = false;
SERVICE_STATUS_HANDLE g_statusHandle = 0;
std::mutex g_mutex;
std::condition_variable g_stopped;
bool g_stop = false;

void Report(uint32_t state, uint32_t checkPoint = 0, uint32_t waitHint = 0) {
  SERVICE_STATUS status;
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  status.dwCheckPoint = checkPoint;
  status.dwWaitHint = waitHint;
  SetServiceStatus(g_statusHandle, &status);
}

void Handler(uint32_t control) {
  if (control != SERVICE_CONTROL_STOP && control != SERVICE_CONTROL_SHUTDOWN) return;
  Report(SERVICE_STOP_PENDING, 1, 10000);
  std::lock_guard<std::mutex> lock(g_mutex);
  g_stop = true;
  g_stopped.notify_all();
}

void ServiceMain(uint32_t, char16_t** argv) {
  g_statusHandle = RegisterServiceCtrlHandlerW(argv[0], Handler);
  if (g_statusHandle == 0) return;
  Report(SERVICE_RUNNING);
  if (g_die) ::_exit(7);
  std::unique_lock<std::mutex> lock(g_mutex);
  g_stopped.wait(lock, [] { return g_stop; });
  Report(SERVICE_STOPPED);
}

}  // namespace

int main(int argc, char** argv) {
  g_die = argc > 1 && std::strcmp(argv[1], "die") == 0;
  const SERVICE_TABLE_ENTRYW table[] = {{u"VelmoraTestService", ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) return GetLastError() == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT ? 63 : 1;
  return 0;
}
