#include "platform/wait.h"

#include <poll.h>

#include <cerrno>
#include <vector>

#include "platform/clock.h"

namespace platform {
namespace {

int RemainingMs(uint32_t timeoutMs, uint64_t deadline) {
  if (timeoutMs == INFINITE) return -1;
  uint64_t now = GetTickCount64();
  if (now >= deadline) return 0;
  uint64_t left = deadline - now;
  return left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left);
}

uint32_t Fail(uint32_t error) {
  SetLastError(error);
  return WAIT_FAILED;
}

}  // namespace

uint32_t WaitForAny(std::span<WaitObject* const> objects, uint32_t timeoutMs) {
  if (objects.empty()) return Fail(ERROR_INVALID_PARAMETER);
  std::vector<pollfd> fds;
  fds.reserve(objects.size());
  for (WaitObject* object : objects) {
    if (object == nullptr || object->PollFd() < 0) return Fail(ERROR_INVALID_HANDLE);
    fds.push_back(pollfd{object->PollFd(), POLLIN, 0});
  }
  const uint64_t deadline = GetTickCount64() + (timeoutMs == INFINITE ? 0 : timeoutMs);
  // Test before polling: an object signalled before the call has no fresh readiness to report.
  for (;;) {
    for (size_t i = 0; i < objects.size(); ++i) {
      if (objects[i]->TestSignalled()) return WAIT_OBJECT_0 + static_cast<uint32_t>(i);
    }
    const int remaining = RemainingMs(timeoutMs, deadline);
    if (remaining == 0) return WAIT_TIMEOUT;
    const int ready = ::poll(fds.data(), fds.size(), remaining);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return Fail(SetLastErrorFromErrno());
    }
    for (const pollfd& entry : fds) {
      if (entry.revents & POLLNVAL) return Fail(ERROR_INVALID_HANDLE);
    }
  }
}

uint32_t WaitForAny(std::initializer_list<WaitObject*> objects, uint32_t timeoutMs) {
  return WaitForAny(std::span<WaitObject* const>(objects.begin(), objects.size()), timeoutMs);
}

uint32_t WaitForOne(WaitObject& object, uint32_t timeoutMs) { return WaitForAny({&object}, timeoutMs); }

}  // namespace platform
