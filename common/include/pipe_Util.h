// The client end of a pipe, and the send-then-await-the-answer operation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "pipe_Server.h"
#include "platform/pipe.h"

class CPipeClient {
 public:
  static constexpr uint32_t kBusyWaitMs = 20000;

  CPipeClient() = default;
  ~CPipeClient() = default;
  CPipeClient(const CPipeClient&) = delete;
  CPipeClient& operator=(const CPipeClient&) = delete;

  // Connects to the server's pipe, waiting up to 20000 ms at a time while it is busy. false with
  // the last error; ERROR_FILE_NOT_FOUND means no server listens.
  bool Open(const char16_t* pipeName);

  // One write of the whole block; count is in: bytes to write, out: bytes written.
  bool Send(const void* data, size_t& count);

  void Close();

 private:
  std::unique_ptr<platform::PipeConnection> m_connection;
};

// Makes replyServer listen on replyName (with the reply limit), then sends the message to
// serverName. true when the reply server listens and the whole request was written; the caller
// then takes the answer with replyServer.FetchCmd.
bool PipeSendAndRecvW(const char16_t* message, size_t byteCount, const char16_t* replyName,
                      const char16_t* serverName, CPipeServer& replyServer,
                      uint32_t replyLimitSeconds);
