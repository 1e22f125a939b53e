// Local pipes: Unix domain stream sockets at RT/pipe/NAME. A client connects, writes one message
// in any number of writes and closes; the server reads until end of file, and that is the
// message. Nothing is read back on a connection.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"
#include "platform/wait.h"

namespace platform {

// One connected end. Signalled while it has data (or end of file) to read.
class PipeConnection : public WaitObject {
 public:
  // Client end: nullptr with ERROR_FILE_NOT_FOUND when no server listens (a missing or dead
  // socket), ERROR_PIPE_BUSY when the server cannot take another client now, or another error.
  static std::unique_ptr<PipeConnection> Connect(std::string_view pipeName);

  // Reads what is there without blocking: the byte count, 0 at end of file (the peer closed),
  // or -1 with the last error (ERROR_IO_PENDING when nothing has arrived yet,
  // ERROR_BROKEN_PIPE when the connection broke).
  ssize_t Read(void* buffer, size_t capacity);

  // Writes the whole block, blocking as needed; written receives the byte count written.
  bool Write(const void* data, size_t size, size_t* written);

  int PollFd() const override { return m_fd.Get(); }
  bool TestSignalled() override;

  explicit PipeConnection(UniqueFd fd) : m_fd(std::move(fd)) {}

 private:
  UniqueFd m_fd;
};

// The listening end of a pipe name. Signalled while a client waits to be accepted.
class PipeListener : public WaitObject {
 public:
  // nullptr with ERROR_PIPE_BUSY when a live server holds the name; a stale socket file is
  // removed and reused. anyUser makes the socket connectable by every user (mode 0666).
  static std::unique_ptr<PipeListener> Create(std::string_view pipeName, bool anyUser);

  // Takes a waiting client without blocking; nullptr with ERROR_IO_PENDING when none waits.
  std::unique_ptr<PipeConnection> Accept();

  int PollFd() const override { return m_fd.Get(); }
  bool TestSignalled() override;
  const std::string& Path() const { return m_path; }

  ~PipeListener() override;

 private:
  PipeListener(UniqueFd fd, std::string path) : m_fd(std::move(fd)), m_path(std::move(path)) {}
  UniqueFd m_fd;
  std::string m_path;
  // The socket file this listener bound, told apart from one a later server bound at the path.
  dev_t m_fileDev = 0;
  ino_t m_fileIno = 0;
};

// Waits until a server listening on the name can take a client, up to timeoutMs. false with
// ERROR_FILE_NOT_FOUND when none listens, ERROR_TIMEOUT when the time ran out.
bool WaitNamedPipe(std::string_view pipeName, uint32_t timeoutMs);

}  // namespace platform
