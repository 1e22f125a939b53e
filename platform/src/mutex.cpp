#include "platform/mutex.h"

#include <fcntl.h>

#include <algorithm>
#include <functional>
#include <string>

#include "platform/clock.h"
#include "platform/object_namespace.h"

namespace platform {
namespace {

// How often a bounded wait retries the lock; the kernel offers no timed lock wait.
constexpr uint32_t kRetryIntervalMs = 5;

// Ownership belongs to the handle and counts like a Windows mutex: every successful wait needs
// one release. Another handle, in this process or another, is another holder.
class FileLockMutex final : public NamedMutex {
 public:
  FileLockMutex(std::unique_ptr<NamedObjectFile> file, uint32_t ownCount)
      : m_file(std::move(file)), m_ownCount(ownCount) {}

  uint32_t Wait(uint32_t timeoutMs) override {
    if (m_ownCount > 0) {
      ++m_ownCount;
      return WAIT_OBJECT_0;
    }
    const uint32_t result = Acquire(timeoutMs);
    if (result == WAIT_OBJECT_0) m_ownCount = 1;
    return result;
  }

  bool Release() override {
    if (m_ownCount == 0) {
      SetLastError(ERROR_NOT_OWNER);
      return false;
    }
    if (--m_ownCount == 0) LockByte(m_file->Fd(), F_UNLCK, kOwnershipByte, false);
    return true;
  }

 private:
  uint32_t Acquire(uint32_t timeoutMs) {
    const int fd = m_file->Fd();
    if (timeoutMs == INFINITE) return LockByte(fd, F_WRLCK, kOwnershipByte, true) ? WAIT_OBJECT_0 : WAIT_FAILED;
    const uint64_t deadline = GetTickCount64() + timeoutMs;
    for (;;) {
      if (LockByte(fd, F_WRLCK, kOwnershipByte, false)) return WAIT_OBJECT_0;
      if (GetLastError() != ERROR_IO_PENDING) return WAIT_FAILED;
      const uint64_t now = GetTickCount64();
      if (now >= deadline) return WAIT_TIMEOUT;
      Sleep(static_cast<uint32_t>(std::min<uint64_t>(kRetryIntervalMs, deadline - now)));
    }
  }

  std::unique_ptr<NamedObjectFile> m_file;
  uint32_t m_ownCount;
};

// The mutex file carries no content; the locks are the object.
constexpr size_t kMutexFileSize = 0;

}  // namespace

std::unique_ptr<NamedMutex> NamedMutex::Create(std::string_view name, bool initialOwner) {
  std::string path = NamedObjectPath(name);
  if (path.empty()) return nullptr;
  bool owned = false;
  // Initial ownership is taken before the mutex becomes visible, so no other holder can win it first.
  auto takeOwnership = [&owned](int fd) {
    owned = LockByte(fd, F_WRLCK, kOwnershipByte, false);
    return owned;
  };
  auto file = NamedObjectFile::Create(path, kMutexFileSize, {},
                                      initialOwner ? std::function<bool(int)>(takeOwnership) : nullptr);
  if (!file) return nullptr;
  const uint32_t created = GetLastError();
  auto mutex = std::make_unique<FileLockMutex>(std::move(file), owned ? 1u : 0u);
  SetLastError(created);
  return mutex;
}

std::unique_ptr<NamedMutex> NamedMutex::Open(std::string_view name) {
  std::string path = NamedObjectPath(name);
  if (path.empty()) return nullptr;
  // Ownership needs a write lock, and a write lock needs a descriptor open for writing.
  auto file = NamedObjectFile::Open(path, true);
  if (!file) return nullptr;
  return std::make_unique<FileLockMutex>(std::move(file), 0u);
}

}  // namespace platform
