#include "platform/identity.h"

#include <limits.h>
#include <unistd.h>

#include "platform/error.h"

namespace platform {

uint32_t GetCurrentThreadId() { return static_cast<uint32_t>(::gettid()); }

uint32_t GetCurrentProcessId() { return static_cast<uint32_t>(::getpid()); }

std::string ModuleFileName() {
  char path[PATH_MAX];
  ssize_t length = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (length < 0) {
    SetLastErrorFromErrno();
    return {};
  }
  return std::string(path, static_cast<size_t>(length));
}

std::string ModuleFolder() {
  std::string path = ModuleFileName();
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ModuleBaseName() {
  std::string path = ModuleFileName();
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool SetCurrentDirectory(const std::string& path) {
  if (::chdir(path.c_str()) == 0) return true;
  SetLastErrorFromErrno();
  return false;
}

}  // namespace platform
