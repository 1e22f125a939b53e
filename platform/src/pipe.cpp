#include "platform/pipe.h"

#include <fcntl.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/unix_diag.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/clock.h"
#include "platform/error.h"
#include "platform/object_namespace.h"

namespace platform {
namespace {

// Clients beyond this many waiting to be accepted see ERROR_PIPE_BUSY.
constexpr int kListenBacklog = 64;
constexpr uint32_t kBusyRetryMs = 10;

bool MakeAddress(const std::string& path, sockaddr_un* address) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  if (path.size() >= sizeof address->sun_path) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

UniqueFd NewSocket() {
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd) SetLastErrorFromErrno();
  return fd;
}

struct FileId {
  dev_t dev = 0;
  ino_t ino = 0;
  bool operator==(const FileId&) const = default;
};

enum class PathState { kMissing, kStale, kListening, kBusy, kNotASocket, kUnknown };

// When one diagnostics record describes the listener bound to the file, found receives
// whether its accept queue has room.
void NoteIfListenerOf(const nlmsghdr& header, const FileId& file, PathState* found) {
  const char* record = reinterpret_cast<const char*>(NLMSG_DATA(&header));
  const size_t length = header.nlmsg_len - NLMSG_LENGTH(0);
  bool sameFile = false;
  unix_diag_rqlen queue{};
  for (size_t at = NLMSG_ALIGN(sizeof(unix_diag_msg)); at + sizeof(rtattr) <= length;) {
    rtattr attribute;
    std::memcpy(&attribute, record + at, sizeof attribute);
    if (attribute.rta_len < sizeof attribute || attribute.rta_len > length - at) break;
    const char* payload = record + at + RTA_LENGTH(0);
    const size_t payloadLength = attribute.rta_len - RTA_LENGTH(0);
    if (attribute.rta_type == UNIX_DIAG_VFS && payloadLength >= sizeof(unix_diag_vfs)) {
      unix_diag_vfs vfs;
      std::memcpy(&vfs, payload, sizeof vfs);
      // The kernel reports its internal device number: major in the bits above 20.
      sameFile = vfs.udiag_vfs_ino == file.ino && (vfs.udiag_vfs_dev >> 20) == major(file.dev) &&
                 (vfs.udiag_vfs_dev & 0xFFFFF) == minor(file.dev);
    } else if (attribute.rta_type == UNIX_DIAG_RQLEN && payloadLength >= sizeof queue) {
      std::memcpy(&queue, payload, sizeof queue);
    }
    at += RTA_ALIGN(attribute.rta_len);
  }
  // Linux refuses a connect once more than the backlog wait.
  if (sameFile) *found = queue.udiag_rqueue > queue.udiag_wqueue ? PathState::kBusy : PathState::kListening;
}

// The kernel's own view of the listener bound to a socket file: whether one listens, and
// whether its accept queue has room. Asking never disturbs the listener, unlike a probing
// connect, which it would take for a client. kUnknown when the kernel does not answer.
PathState ListenerStateByDiag(const FileId& file) {
  UniqueFd nl(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
  if (!nl) return PathState::kUnknown;
  struct {
    nlmsghdr header;
    unix_diag_req body;
  } request{};
  request.header.nlmsg_len = sizeof request;
  request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.body.sdiag_family = AF_UNIX;
  request.body.udiag_states = 1u << TCP_LISTEN;
  request.body.udiag_show = UDIAG_SHOW_VFS | UDIAG_SHOW_RQLEN;
  if (::send(nl.Get(), &request, sizeof request, 0) != static_cast<ssize_t>(sizeof request)) return PathState::kUnknown;

  PathState found = PathState::kStale;
  // Large enough for any one datagram of a dump, so that none is cut.
  std::vector<char> buffer(65536);
  for (;;) {
    ssize_t received = ::recv(nl.Get(), buffer.data(), buffer.size(), 0);
    if (received < 0 && errno == EINTR) continue;
    if (received <= 0) return PathState::kUnknown;
    for (size_t offset = 0; offset + sizeof(nlmsghdr) <= static_cast<size_t>(received);) {
      auto* header = reinterpret_cast<nlmsghdr*>(buffer.data() + offset);
      if (header->nlmsg_len < NLMSG_LENGTH(0) || header->nlmsg_len > static_cast<size_t>(received) - offset) {
        return PathState::kUnknown;
      }
      if (header->nlmsg_type == NLMSG_DONE) return found;
      if (header->nlmsg_type == NLMSG_ERROR) return PathState::kUnknown;
      if (header->nlmsg_len >= NLMSG_LENGTH(sizeof(unix_diag_msg))) NoteIfListenerOf(*header, file, &found);
      offset += NLMSG_ALIGN(header->nlmsg_len);
    }
  }
}

// Where the kernel cannot be asked: a connect tells, at the price of an empty connection.
PathState ListenerStateByConnect(const std::string& path) {
  sockaddr_un address;
  UniqueFd fd = NewSocket();
  if (!fd || !MakeAddress(path, &address)) return PathState::kUnknown;
  if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return PathState::kListening;
  if (errno == EAGAIN) return PathState::kBusy;
  if (errno == ECONNREFUSED) return PathState::kStale;
  return errno == ENOENT ? PathState::kMissing : PathState::kUnknown;
}

PathState ProbePath(const std::string& path, FileId* id = nullptr) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return errno == ENOENT ? PathState::kMissing : PathState::kUnknown;
  if (!S_ISSOCK(info.st_mode)) return PathState::kNotASocket;
  FileId file{info.st_dev, info.st_ino};
  if (id != nullptr) *id = file;
  PathState state = ListenerStateByDiag(file);
  return state == PathState::kUnknown ? ListenerStateByConnect(path) : state;
}

// Serialises the servers of one runtime folder while they look at, remove and bind socket
// files, so that two servers taking over one stale path cannot both succeed.
class PipeFolderLock {
 public:
  explicit PipeFolderLock(const std::string& socketPath) {
    std::string folder = socketPath.substr(0, socketPath.rfind('/'));
    m_fd.Reset(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    while (m_fd && ::flock(m_fd.Get(), LOCK_EX) != 0 && errno == EINTR) {
    }
  }

 private:
  UniqueFd m_fd;  // closing it releases the lock
};

bool FileIdOf(const std::string& path, FileId* id) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return false;
  *id = FileId{info.st_dev, info.st_ino};
  return true;
}

bool IsReadableNow(int fd) {
  pollfd entry{fd, POLLIN, 0};
  return ::poll(&entry, 1, 0) == 1 && (entry.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

}  // namespace

std::unique_ptr<PipeConnection> PipeConnection::Connect(std::string_view pipeName) {
  std::string path = PipePath(pipeName);
  sockaddr_un address;
  if (path.empty() || !MakeAddress(path, &address)) return nullptr;
  UniqueFd fd = NewSocket();
  if (!fd) return nullptr;
  if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    // A Unix socket connects at once or not at all; EAGAIN means the accept queue is full.
    SetLastError(errno == EAGAIN ? ERROR_PIPE_BUSY : ErrorFromErrno(errno));
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return std::make_unique<PipeConnection>(std::move(fd));
}

ssize_t PipeConnection::Read(void* buffer, size_t capacity) {
  for (;;) {
    ssize_t n = ::recv(m_fd.Get(), buffer, capacity, MSG_DONTWAIT);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    SetLastErrorFromErrno();
    return -1;
  }
}

bool PipeConnection::Write(const void* data, size_t size, size_t* written) {
  const char* bytes = static_cast<const char*>(data);
  size_t done = 0;
  bool ok = true;
  while (done < size) {
    ssize_t n = ::send(m_fd.Get(), bytes + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      pollfd entry{m_fd.Get(), POLLOUT, 0};
      if (::poll(&entry, 1, -1) >= 0 || errno == EINTR) continue;
    }
    SetLastErrorFromErrno();
    ok = false;
    break;
  }
  if (written != nullptr) *written = done;
  return ok;
}

bool PipeConnection::TestSignalled() { return IsReadableNow(m_fd.Get()); }

std::unique_ptr<PipeListener> PipeListener::Create(std::string_view pipeName, bool anyUser) {
  std::string path = PipePath(pipeName);
  sockaddr_un address;
  if (path.empty() || !MakeAddress(path, &address)) return nullptr;
  PipeFolderLock folderLock(path);
  switch (ProbePath(path)) {
    case PathState::kMissing:
      break;
    case PathState::kStale:
      if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        SetLastErrorFromErrno();
        return nullptr;
      }
      break;
    case PathState::kListening:
    case PathState::kBusy:
      SetLastError(ERROR_PIPE_BUSY);
      return nullptr;
    case PathState::kNotASocket:  // not ours to remove
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    case PathState::kUnknown:
      SetLastErrorFromErrno();
      return nullptr;
  }
  UniqueFd fd = NewSocket();
  if (!fd) return nullptr;
  if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    SetLastErrorFromErrno();
    return nullptr;
  }
  std::unique_ptr<PipeListener> listener(new PipeListener(std::move(fd), path));
  FileId bound;
  if (FileIdOf(path, &bound)) {
    listener->m_fileDev = bound.dev;
    listener->m_fileIno = bound.ino;
  }
  if (::chmod(path.c_str(), anyUser ? 0666 : 0600) != 0 || ::listen(listener->m_fd.Get(), kListenBacklog) != 0) {
    SetLastErrorFromErrno();
    return nullptr;  // the destructor removes the file we bound
  }
  SetLastError(ERROR_SUCCESS);
  return listener;
}

std::unique_ptr<PipeConnection> PipeListener::Accept() {
  for (;;) {
    UniqueFd fd(::accept4(m_fd.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (fd) return std::make_unique<PipeConnection>(std::move(fd));
    if (errno == EINTR) continue;
    // A client that gave up before being taken is as good as none.
    SetLastError(errno == ECONNABORTED ? ERROR_IO_PENDING : ErrorFromErrno(errno));
    return nullptr;
  }
}

bool PipeListener::TestSignalled() { return IsReadableNow(m_fd.Get()); }

PipeListener::~PipeListener() {
  // Remove the socket file only while it is still ours: after our listener was given up for
  // dead, another server may have bound a new socket at the path.
  PipeFolderLock folderLock(m_path);
  FileId current;
  if (FileIdOf(m_path, &current) && current == FileId{m_fileDev, m_fileIno}) ::unlink(m_path.c_str());
}

bool WaitNamedPipe(std::string_view pipeName, uint32_t timeoutMs) {
  std::string path = PipePath(pipeName);
  if (path.empty()) return false;
  const uint64_t deadline = GetTickCount64() + (timeoutMs == INFINITE ? 0 : timeoutMs);
  for (;;) {
    switch (ProbePath(path)) {
      case PathState::kListening:
        return true;
      case PathState::kBusy:
        break;
      default:
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    const uint64_t now = GetTickCount64();
    if (timeoutMs != INFINITE && now >= deadline) {
      SetLastError(ERROR_TIMEOUT);
      return false;
    }
    Sleep(timeoutMs == INFINITE ? kBusyRetryMs : static_cast<uint32_t>(std::min<uint64_t>(kBusyRetryMs, deadline - now)));
  }
}

}  // namespace platform
