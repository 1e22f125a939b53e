#include "platform/device.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/error.h"
#include "platform/object_namespace.h"

namespace platform {
namespace {

// A driver that never answers must not hold its caller (a service thread that has to stop) for
// ever.
constexpr int kAnswerTimeoutMs = 10000;

void PutUint32(std::vector<uint8_t>* bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t GetUint32(const uint8_t* bytes) {
  return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

uint32_t SendAll(int fd, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t sent = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0) return ErrorFromErrno(errno);
    done += static_cast<size_t>(sent);
  }
  return ERROR_SUCCESS;
}

uint32_t ReceiveExactly(int fd, void* buffer, size_t size, uint64_t deadline) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < size) {
    uint64_t now = GetTickCount64();
    if (now >= deadline) return ERROR_TIMEOUT;
    pollfd entry{fd, POLLIN, 0};
    int ready = ::poll(&entry, 1, static_cast<int>(deadline - now));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return ErrorFromErrno(errno);
    if (ready == 0) return ERROR_TIMEOUT;
    ssize_t got = ::recv(fd, bytes + done, size - done, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return ErrorFromErrno(errno);
    if (got == 0) return ERROR_BROKEN_PIPE;
    done += static_cast<size_t>(got);
  }
  return ERROR_SUCCESS;
}

}  // namespace

std::unique_ptr<Device> Device::Open(std::string_view deviceName) {
  std::string path = DevicePath(deviceName);
  if (path.empty()) return nullptr;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) {
    SetLastErrorFromErrno();
    return nullptr;
  }
  while (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (errno == EINTR) continue;
    // Nothing at the path, a stale socket, or something that is no socket: no driver there.
    SetLastError(errno == EACCES || errno == EPERM ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return std::unique_ptr<Device>(new Device(std::move(fd)));
}

bool Device::Broken(uint32_t error) {
  m_fd.Reset();
  SetLastError(error);
  return false;
}

bool Device::IoControl(uint32_t code, const void* in, uint32_t inLength, void* out, uint32_t outCapacity,
                       uint32_t* bytesReturned) {
  if (!m_fd) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if ((in == nullptr && inLength != 0) || (out == nullptr && outCapacity != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  std::vector<uint8_t> request;
  request.reserve(12 + inLength);
  PutUint32(&request, code);
  PutUint32(&request, inLength);
  if (inLength != 0) request.insert(request.end(), static_cast<const uint8_t*>(in), static_cast<const uint8_t*>(in) + inLength);
  PutUint32(&request, outCapacity);
  uint32_t error = SendAll(m_fd.Get(), request);
  if (error != ERROR_SUCCESS) return Broken(error);

  uint64_t deadline = GetTickCount64() + kAnswerTimeoutMs;
  uint8_t header[12];
  error = ReceiveExactly(m_fd.Get(), header, sizeof header, deadline);
  if (error != ERROR_SUCCESS) return Broken(error);
  uint32_t ok = GetUint32(header);
  uint32_t driverError = GetUint32(header + 4);
  uint32_t outLength = GetUint32(header + 8);
  if (ok > 1 || outLength > outCapacity) return Broken(ERROR_INVALID_DATA);
  error = ReceiveExactly(m_fd.Get(), out, outLength, deadline);
  if (error != ERROR_SUCCESS) return Broken(error);
  if (bytesReturned) *bytesReturned = outLength;
  SetLastError(ok ? ERROR_SUCCESS : driverError);
  return ok == 1;
}

}  // namespace platform
