#include "platform/file_rewrite.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/error.h"

namespace platform {
namespace {

uint32_t ReadAll(int fd, std::string* content) {
  content->clear();
  char block[65536];
  for (;;) {
    ssize_t got = ::read(fd, block, sizeof block);
    if (got < 0) {
      if (errno == EINTR) continue;
      return ErrorFromErrno(errno);
    }
    if (got == 0) return ERROR_SUCCESS;
    content->append(block, static_cast<size_t>(got));
  }
}

uint32_t WriteAll(int fd, std::string_view content) {
  while (!content.empty()) {
    ssize_t put = ::write(fd, content.data(), content.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      return ErrorFromErrno(errno);
    }
    content.remove_prefix(static_cast<size_t>(put));
  }
  return ERROR_SUCCESS;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string TempPattern(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return folder + "." + name + ".XXXXXX";
}

}  // namespace

uint32_t ReadWholeFile(const std::string& path, std::string* content) {
  content->clear();
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return ErrorFromErrno(errno);
  return ReadAll(fd.Get(), content);
}

uint32_t FileRewrite::Lock(const std::string& path) {
  m_fd.Reset();
  m_path = path;
  for (;;) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!fd) return ErrorFromErrno(errno);
    while (::flock(fd.Get(), LOCK_EX) != 0) {
      if (errno != EINTR) return ErrorFromErrno(errno);
    }
    // Another writer may have renamed a new file into place while this one waited for the lock;
    // then the locked file is an orphan and the lock protects nothing.
    struct stat locked {}, current {};
    if (::fstat(fd.Get(), &locked) != 0) return ErrorFromErrno(errno);
    if (::stat(path.c_str(), &current) != 0) {
      if (errno == ENOENT) continue;
      return ErrorFromErrno(errno);
    }
    if (!SameFile(locked, current)) continue;
    uint32_t error = ReadAll(fd.Get(), &m_content);
    if (error != ERROR_SUCCESS) return error;
    m_fd = std::move(fd);
    return ERROR_SUCCESS;
  }
}

uint32_t FileRewrite::Replace(std::string_view content) {
  if (!m_fd) return ERROR_INVALID_HANDLE;
  struct stat locked {};
  if (::fstat(m_fd.Get(), &locked) != 0) return ErrorFromErrno(errno);
  std::string tempPath = TempPattern(m_path);
  UniqueFd temp(::mkostemp(tempPath.data(), O_CLOEXEC));
  if (!temp) return ErrorFromErrno(errno);
  uint32_t error = WriteAll(temp.Get(), content);
  if (error == ERROR_SUCCESS && ::fchmod(temp.Get(), locked.st_mode & 07777) != 0) error = ErrorFromErrno(errno);
  if (error == ERROR_SUCCESS && ::geteuid() == 0 && ::fchown(temp.Get(), locked.st_uid, locked.st_gid) != 0) {
    error = ErrorFromErrno(errno);
  }
  if (error == ERROR_SUCCESS && ::fsync(temp.Get()) != 0) error = ErrorFromErrno(errno);
  if (error == ERROR_SUCCESS && ::rename(tempPath.c_str(), m_path.c_str()) != 0) error = ErrorFromErrno(errno);
  if (error != ERROR_SUCCESS) {
    ::unlink(tempPath.c_str());
    return error;
  }
  m_content.assign(content);
  return ERROR_SUCCESS;
}

}  // namespace platform
