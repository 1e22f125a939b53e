#include "platform/timer.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/error.h"
#include "platform/unique_fd.h"

namespace platform {
namespace {

class TimerFdTimer final : public WaitableTimer {
 public:
  TimerFdTimer(UniqueFd fd, bool manualReset) : m_fd(std::move(fd)), m_manualReset(manualReset) {}

  int PollFd() const override { return m_fd.Get(); }

  bool TestSignalled() override {
    const bool expired = TakeExpirations();
    if (!m_manualReset) return expired;
    if (expired) m_fired = true;
    return m_fired;
  }

  bool SetRelative(uint64_t dueMs) override {
    itimerspec due{};
    due.it_value.tv_sec = static_cast<time_t>(dueMs / 1000);
    due.it_value.tv_nsec = static_cast<long>(dueMs % 1000) * 1000000L;
    // A zero due time would disarm the timer; it means "fire now".
    if (dueMs == 0) due.it_value.tv_nsec = 1;
    return Arm(due);
  }

  bool Cancel() override { return Arm(itimerspec{}); }

 private:
  // Setting the timer also clears the expirations the kernel counted.
  bool Arm(const itimerspec& due) {
    m_fired = false;
    if (::timerfd_settime(m_fd.Get(), 0, &due, nullptr) == 0) return true;
    SetLastErrorFromErrno();
    return false;
  }

  bool TakeExpirations() {
    uint64_t count = 0;
    return ::read(m_fd.Get(), &count, sizeof count) == sizeof count;
  }

  UniqueFd m_fd;
  bool m_manualReset;
  std::atomic<bool> m_fired{false};
};

}  // namespace

std::unique_ptr<WaitableTimer> WaitableTimer::Create(bool manualReset) {
  UniqueFd fd(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
  if (!fd) {
    SetLastErrorFromErrno();
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return std::make_unique<TimerFdTimer>(std::move(fd), manualReset);
}

}  // namespace platform
