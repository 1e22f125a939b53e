#include "platform/os_version.h"

#include <sys/utsname.h>

#include <string_view>

#include "platform/error.h"
#include "platform/text.h"

namespace platform {
namespace {

// The leading decimal number of text; text is left after it and one following '.'.
uint32_t TakeNumber(std::string_view* text) {
  uint32_t number = 0;
  while (!text->empty() && text->front() >= '0' && text->front() <= '9') {
    number = number * 10 + static_cast<uint32_t>(text->front() - '0');
    text->remove_prefix(1);
  }
  if (!text->empty() && text->front() == '.') text->remove_prefix(1);
  return number;
}

}  // namespace

bool GetVersionExW(OsVersionInfoEx* info) {
  if (info == nullptr || info->dwOSVersionInfoSize != sizeof(OsVersionInfoEx)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  struct utsname names {};
  if (::uname(&names) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  *info = OsVersionInfoEx{};
  std::string_view release(names.release);
  info->dwMajorVersion = TakeNumber(&release);
  info->dwMinorVersion = TakeNumber(&release);
  info->dwBuildNumber = TakeNumber(&release);
  info->dwPlatformId = VER_PLATFORM_WIN32_NT;
  info->wProductType = VER_NT_WORKSTATION;
  CopyBounded(info->szCSDVersion, std::size(info->szCSDVersion), Utf8ToUtf16(names.version));
  return true;
}

}  // namespace platform
