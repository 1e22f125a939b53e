// Events: unnamed ones live in this process (eventfd); named ones are files under the object
// namespace whose byte 0 is '1' when signalled and '0' when not, so any process or shell tool
// can set one by writing that byte.
#pragma once

#include <memory>
#include <string_view>

#include "platform/wait.h"

namespace platform {

class Event : public WaitObject {
 public:
  // nullptr with the last error on failure.
  static std::unique_ptr<Event> Create(bool manualReset, bool initialState);

  // Creates the named event or attaches to the live one; then the last error is
  // ERROR_ALREADY_EXISTS and the arguments are ignored, as on Windows.
  static std::unique_ptr<Event> CreateNamed(std::string_view name, bool manualReset, bool initialState);

  // nullptr with ERROR_FILE_NOT_FOUND when no live event has the name.
  static std::unique_ptr<Event> OpenNamed(std::string_view name);

  virtual bool Set() = 0;
  virtual bool Reset() = 0;
};

}  // namespace platform
