#include "platform/folder_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>

#include "platform/error.h"
#include "platform/unique_fd.h"

namespace platform {
namespace {

uint32_t InotifyMask(uint32_t filter) {
  uint32_t mask = 0;
  if (filter & FILE_NOTIFY_CHANGE_FILE_NAME) mask |= IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
  // A rename into the folder is how files are rewritten safely, so it counts as a write; IN_ATTRIB
  // covers a changed modification time.
  if (filter & FILE_NOTIFY_CHANGE_LAST_WRITE) mask |= IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB | IN_MOVED_TO;
  return mask;
}

class InotifyFolderWatch final : public FolderWatch {
 public:
  InotifyFolderWatch(UniqueFd fd, uint32_t mask) : m_fd(std::move(fd)), m_mask(mask) {}

  int PollFd() const override { return m_fd.Get(); }

  // Drains every queued event; the watch is signalled when one of them concerns a file (not a
  // subfolder) and is of the kinds asked for, or when the folder itself went away.
  bool TestSignalled() override {
    bool signalled = false;
    alignas(struct inotify_event) char buffer[16384];
    for (;;) {
      ssize_t got = ::read(m_fd.Get(), buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return signalled;
      for (ssize_t offset = 0; offset < got;) {
        const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + offset);
        bool aboutFile = (event->mask & IN_ISDIR) == 0;
        if ((aboutFile && (event->mask & m_mask)) || (event->mask & (IN_IGNORED | IN_Q_OVERFLOW))) signalled = true;
        offset += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
      }
    }
  }

 private:
  UniqueFd m_fd;
  uint32_t m_mask;
};

}  // namespace

std::unique_ptr<FolderWatch> FolderWatch::Create(const std::string& folder, uint32_t filter) {
  uint32_t mask = InotifyMask(filter);
  if (mask == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  UniqueFd fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (!fd) {
    SetLastErrorFromErrno();
    return nullptr;
  }
  if (::inotify_add_watch(fd.Get(), folder.c_str(), mask | IN_ONLYDIR) < 0) {
    SetLastErrorFromErrno();
    return nullptr;
  }
  return std::make_unique<InotifyFolderWatch>(std::move(fd), mask);
}

}  // namespace platform
