#include "platform/object_namespace.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/error.h"
#include "platform/text.h"

namespace platform {
namespace {

constexpr const char* kDefaultRuntimeDir = "/tmp/velmora";
constexpr mode_t kSharedFolderMode = 01777;
constexpr mode_t kObjectFileMode = 0666;

bool IsPlainNameByte(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '_' || c == '-';
}

std::string_view StripPrefixNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix)) {
    return text.substr(prefix.size());
  }
  return text;
}

// Makes one folder of the object tree. Folders we create are open to every user (with the
// sticky bit, so nobody removes another user's objects); existing ones are left as they are.
bool EnsureFolder(const std::string& path, mode_t mode) {
  if (::mkdir(path.c_str(), 0700) == 0) {
    if (::chmod(path.c_str(), mode) != 0) {
      SetLastErrorFromErrno();
      return false;
    }
    return true;
  }
  if (errno != EEXIST) {
    SetLastErrorFromErrno();
    return false;
  }
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  if (!S_ISDIR(info.st_mode)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  return true;
}

// Creates the parents of the runtime folder with ordinary permissions.
bool EnsureParents(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    if (!EnsureFolder(path.substr(0, slash), 0755)) return false;
  }
  return true;
}

// RT/<folders...>/<escaped leaf>, creating the folders; empty with the last error on failure.
std::string ObjectPath(const std::vector<std::string>& folders, std::string_view leafName) {
  if (leafName.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return {};
  }
  std::string leaf = EscapeObjectName(leafName);
  if (leaf.size() > NAME_MAX) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return {};
  }
  std::string path = RuntimeDir();
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (!EnsureParents(path) || !EnsureFolder(path, kSharedFolderMode)) return {};
  for (const std::string& folder : folders) {
    path += '/';
    path += folder;
    if (!EnsureFolder(path, kSharedFolderMode)) return {};
  }
  path += '/';
  path += leaf;
  if (path.size() >= PATH_MAX) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return {};
  }
  return path;
}

std::string SessionId() {
  const char* session = ::getenv("VELMORA_SESSION");
  if (session != nullptr && *session != '\0') return EscapeObjectName(session);
  return std::to_string(::getuid());
}

bool SameFile(int fd, const std::string& path) {
  struct stat opened {}, named {};
  if (::fstat(fd, &opened) != 0 || ::stat(path.c_str(), &named) != 0) return false;
  return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// Gives a new or taken-over file its size and content.
bool InitialiseContent(int fd, size_t size, std::string_view initialContent) {
  std::string content(initialContent.substr(0, size));
  content.resize(size, '\0');
  if (::ftruncate(fd, static_cast<off_t>(size)) != 0) return false;
  size_t done = 0;
  while (done < content.size()) {
    ssize_t n = ::pwrite(fd, content.data() + done, content.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Holds the creation guard of an object file for one scope.
class CreationGuard {
 public:
  CreationGuard(int fd, short type) : m_fd(fd), m_held(LockByte(fd, type, kCreationGuardByte, true)) {}
  ~CreationGuard() {
    if (m_held) LockByte(m_fd, F_UNLCK, kCreationGuardByte, false);
  }
  CreationGuard(const CreationGuard&) = delete;
  CreationGuard& operator=(const CreationGuard&) = delete;
  bool Held() const { return m_held; }

 private:
  int m_fd;
  bool m_held;
};

}  // namespace

std::string RuntimeDir() {
  const char* dir = ::getenv("VELMORA_RUNTIME_DIR");
  return (dir != nullptr && *dir != '\0') ? std::string(dir) : std::string(kDefaultRuntimeDir);
}

std::string EscapeObjectName(std::string_view name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  // "." and ".." would name the folder itself or its parent.
  const bool onlyDots = name == "." || name == "..";
  std::string escaped;
  escaped.reserve(name.size());
  for (char ch : name) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (IsPlainNameByte(c) && !onlyDots) {
      escaped += ch;
    } else {
      escaped += '%';
      escaped += kHex[c >> 4];
      escaped += kHex[c & 0x0F];
    }
  }
  return escaped;
}

std::string NamedObjectPath(std::string_view objectName) {
  std::string_view global = StripPrefixNoCase(objectName, "Global\\");
  if (global.size() != objectName.size()) return ObjectPath({"global"}, global);
  return ObjectPath({"session", SessionId()}, StripPrefixNoCase(objectName, "Local\\"));
}

std::string PipePath(std::string_view pipeName) {
  return ObjectPath({"pipe"}, StripPrefixNoCase(pipeName, "\\\\.\\pipe\\"));
}

std::string DevicePath(std::string_view deviceName) {
  std::string_view name = StripPrefixNoCase(deviceName, "\\\\.\\");
  return ObjectPath({"device"}, StripPrefixNoCase(name, "Global\\"));
}

std::string ServiceStatusPath(std::string_view serviceName) { return ObjectPath({"services"}, serviceName); }

bool LockByte(int fd, short type, off_t offset, bool wait) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = offset;
  lock.l_len = 1;
  for (;;) {
    if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0) return true;
    if (errno == EINTR) continue;
    if (errno == EACCES) errno = EAGAIN;  // some systems report a held lock this way
    SetLastErrorFromErrno();
    return false;
  }
}

bool IsByteLockedElsewhere(int fd, off_t offset) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = offset;
  lock.l_len = 1;
  if (::fcntl(fd, F_OFD_GETLK, &lock) != 0) return false;
  return lock.l_type != F_UNLCK;
}

std::unique_ptr<NamedObjectFile> NamedObjectFile::Create(const std::string& path, size_t size,
                                                         std::string_view initialContent,
                                                         const std::function<bool(int fd)>& initNew) {
  for (;;) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kObjectFileMode));
    if (!fd) {
      SetLastErrorFromErrno();
      return nullptr;
    }
    // Objects are shared between users; the creator's umask must not narrow that.
    struct stat info {};
    if (::fstat(fd.Get(), &info) == 0 && info.st_uid == ::geteuid() && (info.st_mode & 0777) != kObjectFileMode) {
      ::fchmod(fd.Get(), kObjectFileMode);
    }
    CreationGuard guard(fd.Get(), F_WRLCK);
    if (!guard.Held()) return nullptr;
    // The file may have been removed and made anew between open and lock; start over then.
    if (!SameFile(fd.Get(), path)) continue;

    const bool live = IsByteLockedElsewhere(fd.Get(), kLivenessByte);
    if (!live) {
      if (!InitialiseContent(fd.Get(), size, initialContent)) {
        SetLastErrorFromErrno();
        return nullptr;
      }
      if (initNew && !initNew(fd.Get())) return nullptr;
    }
    if (!LockByte(fd.Get(), F_RDLCK, kLivenessByte, false)) return nullptr;
    SetLastError(live ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return std::unique_ptr<NamedObjectFile>(new NamedObjectFile(std::move(fd), path));
  }
}

std::unique_ptr<NamedObjectFile> NamedObjectFile::Open(const std::string& path, bool writable) {
  UniqueFd fd(::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOFOLLOW));
  if (!fd) {
    SetLastErrorFromErrno();
    return nullptr;
  }
  // A shared guard keeps a creator from re-initialising the file while we decide.
  CreationGuard guard(fd.Get(), F_RDLCK);
  if (!guard.Held()) return nullptr;
  if (!IsByteLockedElsewhere(fd.Get(), kLivenessByte)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  if (!LockByte(fd.Get(), F_RDLCK, kLivenessByte, false)) return nullptr;
  SetLastError(ERROR_SUCCESS);
  return std::unique_ptr<NamedObjectFile>(new NamedObjectFile(std::move(fd), path));
}

bool NamedObjectFile::IsLive(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  return fd && IsByteLockedElsewhere(fd.Get(), kLivenessByte);
}

}  // namespace platform
