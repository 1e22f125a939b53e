// Waitable timers (timerfd), in-process. A manual-reset timer stays signalled after it fires
// until it is armed again or cancelled.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/wait.h"

namespace platform {

class WaitableTimer : public WaitObject {
 public:
  static std::unique_ptr<WaitableTimer> Create(bool manualReset);

  // Arms the timer to fire once, dueMs from now; re-arming clears the signalled state.
  virtual bool SetRelative(uint64_t dueMs) = 0;
  virtual bool Cancel() = 0;
};

}  // namespace platform
