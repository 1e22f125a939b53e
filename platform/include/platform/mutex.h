// Named mutexes: the owner holds an exclusive open-file-description lock on byte 1 of the
// object's file; the object lives while any process holds it (shared lock on byte 0).
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/error.h"

namespace platform {

class NamedMutex {
 public:
  virtual ~NamedMutex() = default;

  // Creates the mutex or attaches to the live one (then the last error is ERROR_ALREADY_EXISTS
  // and the initial ownership is not taken).
  static std::unique_ptr<NamedMutex> Create(std::string_view name, bool initialOwner);

  // nullptr with ERROR_FILE_NOT_FOUND when no live mutex has the name.
  static std::unique_ptr<NamedMutex> Open(std::string_view name);

  // 0 tries without blocking (WAIT_TIMEOUT when another holder owns it); INFINITE blocks.
  // WAIT_OBJECT_0 when owned.
  virtual uint32_t Wait(uint32_t timeoutMs) = 0;

  // false with ERROR_NOT_OWNER when this handle does not own the mutex.
  virtual bool Release() = 0;
};

}  // namespace platform
