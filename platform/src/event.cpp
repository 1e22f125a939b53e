#include "platform/event.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/error.h"
#include "platform/object_namespace.h"
#include "platform/unique_fd.h"

namespace platform {
namespace {

bool IsReadableNow(int fd) {
  pollfd entry{fd, POLLIN, 0};
  return ::poll(&entry, 1, 0) == 1 && (entry.revents & POLLIN) != 0;
}

// In-process event: signalled while the eventfd counter is above zero.
class UnnamedEvent final : public Event {
 public:
  UnnamedEvent(UniqueFd fd, bool manualReset) : m_fd(std::move(fd)), m_manualReset(manualReset) {}

  int PollFd() const override { return m_fd.Get(); }

  bool TestSignalled() override { return m_manualReset ? IsReadableNow(m_fd.Get()) : Drain(); }

  bool Set() override {
    uint64_t one = 1;
    if (::write(m_fd.Get(), &one, sizeof one) == sizeof one) return true;
    // A counter near its limit is signalled already.
    if (errno == EAGAIN) return true;
    SetLastErrorFromErrno();
    return false;
  }

  bool Reset() override {
    Drain();
    return true;
  }

 private:
  // Takes the whole counter, so that any number of Sets wake exactly one waiter.
  bool Drain() {
    uint64_t count = 0;
    return ::read(m_fd.Get(), &count, sizeof count) == sizeof count;
  }

  UniqueFd m_fd;
  bool m_manualReset;
};

// Content of a named event file: the state, then the kind.
constexpr char kSignalled = '1';
constexpr char kClear = '0';
constexpr char kManualKind = 'M';
constexpr char kAutoKind = 'A';
constexpr size_t kNamedEventSize = 2;

// Named event: byte 0 of the object file is the state. Waiters learn of writes through inotify
// and re-read the byte, so writers need no handle of ours (a shell tool may set it).
class NamedEvent final : public Event {
 public:
  NamedEvent(std::unique_ptr<NamedObjectFile> file, UniqueFd watch, bool manualReset)
      : m_file(std::move(file)), m_watch(std::move(watch)), m_manualReset(manualReset) {}

  int PollFd() const override { return m_watch.Get(); }

  bool TestSignalled() override {
    DrainWatch();
    if (m_manualReset) return ReadState() == kSignalled;
    return ConsumeSignal();
  }

  bool Set() override { return WriteState(kSignalled); }
  bool Reset() override { return WriteState(kClear); }

 private:
  void DrainWatch() {
    alignas(inotify_event) char buffer[4096];
    while (::read(m_watch.Get(), buffer, sizeof buffer) > 0) {
    }
  }

  char ReadState() const {
    char state = kClear;
    return ::pread(m_file->Fd(), &state, 1, 0) == 1 ? state : kClear;
  }

  bool WriteState(char state) {
    if (::pwrite(m_file->Fd(), &state, 1, 0) == 1) return true;
    SetLastErrorFromErrno();
    return false;
  }

  // Waiters in several processes may see the same '1'; the lock lets exactly one of them take it.
  bool ConsumeSignal() {
    if (ReadState() != kSignalled) return false;
    if (!LockByte(m_file->Fd(), F_WRLCK, kOwnershipByte, true)) return false;
    const bool taken = ReadState() == kSignalled && WriteState(kClear);
    LockByte(m_file->Fd(), F_UNLCK, kOwnershipByte, false);
    return taken;
  }

  std::unique_ptr<NamedObjectFile> m_file;
  UniqueFd m_watch;
  bool m_manualReset;
};

std::unique_ptr<Event> WrapNamedFile(std::unique_ptr<NamedObjectFile> file) {
  UniqueFd watch(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (!watch) {
    SetLastErrorFromErrno();
    return nullptr;
  }
  if (::inotify_add_watch(watch.Get(), file->Path().c_str(), IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB) < 0) {
    SetLastErrorFromErrno();
    return nullptr;
  }
  char kind = kManualKind;
  if (::pread(file->Fd(), &kind, 1, 1) != 1) kind = kManualKind;
  // A file made by some other tool has no kind; it behaves as a manual-reset event.
  return std::make_unique<NamedEvent>(std::move(file), std::move(watch), kind != kAutoKind);
}

}  // namespace

std::unique_ptr<Event> Event::Create(bool manualReset, bool initialState) {
  UniqueFd fd(::eventfd(initialState ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!fd) {
    SetLastErrorFromErrno();
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return std::make_unique<UnnamedEvent>(std::move(fd), manualReset);
}

std::unique_ptr<Event> Event::CreateNamed(std::string_view name, bool manualReset, bool initialState) {
  std::string path = NamedObjectPath(name);
  if (path.empty()) return nullptr;
  const char content[kNamedEventSize] = {initialState ? kSignalled : kClear, manualReset ? kManualKind : kAutoKind};
  auto file = NamedObjectFile::Create(path, kNamedEventSize, std::string_view(content, kNamedEventSize));
  if (!file) return nullptr;
  const uint32_t created = GetLastError();
  auto event = WrapNamedFile(std::move(file));
  if (event) SetLastError(created);
  return event;
}

std::unique_ptr<Event> Event::OpenNamed(std::string_view name) {
  std::string path = NamedObjectPath(name);
  if (path.empty()) return nullptr;
  auto file = NamedObjectFile::Open(path, true);
  if (!file) return nullptr;
  auto event = WrapNamedFile(std::move(file));
  if (event) SetLastError(ERROR_SUCCESS);
  return event;
}

}  // namespace platform
