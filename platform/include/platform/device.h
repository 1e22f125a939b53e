// Devices: "\\.\NAME" (or "\\.\Global\NAME") is a driver listening on the Unix stream socket
// RT/device/NAME, and the open handle is one connection to it. A device control call writes one
// request and reads one answer, all integers little-endian 32-bit:
//   request  code, in_length, in bytes, out_capacity
//   answer   ok (1 or 0), last_error, out_length, out bytes
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/unique_fd.h"

namespace platform {

class Device {
 public:
  // nullptr with the last error: ERROR_FILE_NOT_FOUND when no driver listens at the name.
  static std::unique_ptr<Device> Open(std::string_view deviceName);

  // The handle's value, which some drivers take as their input.
  int Handle() const { return m_fd.Get(); }

  // One request and its answer; *bytesReturned (optional) receives out_length. false with the
  // last error: the driver's own when it answers failure; ERROR_INVALID_DATA when its answer
  // does not fit outCapacity or breaks the framing, ERROR_BROKEN_PIPE when it hangs up and
  // ERROR_TIMEOUT when it does not answer within ten seconds. After those three the connection
  // is closed and every further call fails with ERROR_INVALID_HANDLE.
  bool IoControl(uint32_t code, const void* in, uint32_t inLength, void* out, uint32_t outCapacity,
                 uint32_t* bytesReturned);

 private:
  explicit Device(UniqueFd fd) : m_fd(std::move(fd)) {}
  bool Broken(uint32_t error);
  UniqueFd m_fd;
};

}  // namespace platform
