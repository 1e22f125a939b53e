// One wait over many objects, answering like the Windows multiple-object wait: the lowest index
// among the signalled objects, WAIT_TIMEOUT, or WAIT_FAILED with the last error set.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>

#include "platform/error.h"

namespace platform {

// Anything the wait can watch: events, timers, sockets, pipe ends, folder watches.
class WaitObject {
 public:
  virtual ~WaitObject() = default;

  // A descriptor that polls readable when the object may have become signalled.
  virtual int PollFd() const = 0;

  // Non-blocking test. Answers whether the object is signalled now and, for objects whose
  // wait consumes the signal (auto-reset events, folder watches), consumes it. Must drain
  // whatever made PollFd readable when the object turns out not to be signalled.
  virtual bool TestSignalled() = 0;
};

// WAIT_OBJECT_0 + index, WAIT_TIMEOUT or WAIT_FAILED. A null entry fails with
// ERROR_INVALID_HANDLE. timeoutMs may be INFINITE.
uint32_t WaitForAny(std::span<WaitObject* const> objects, uint32_t timeoutMs);
uint32_t WaitForAny(std::initializer_list<WaitObject*> objects, uint32_t timeoutMs);

// WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED.
uint32_t WaitForOne(WaitObject& object, uint32_t timeoutMs);

}  // namespace platform
