// The client end of a pipe and the request-then-await-the-answer operation.
#include "pipe_Util.h"

#include "dl_DebugLog.h"
#include "platform/error.h"
#include "platform/text.h"

namespace {
constexpr char16_t kModule[] = u"pipe_Util";
}  // namespace

bool CPipeClient::Open(const char16_t* pipeName) {
  Close();
  std::string name = platform::Utf16ToUtf8(pipeName != nullptr ? pipeName : u"");
  for (;;) {
    m_connection = platform::PipeConnection::Connect(name);
    if (m_connection) return true;
    if (platform::GetLastError() != platform::ERROR_PIPE_BUSY) return false;
    if (!platform::WaitNamedPipe(name, kBusyWaitMs)) return false;
  }
}

bool CPipeClient::Send(const void* data, size_t& count) {
  if (!m_connection) {
    count = 0;
    platform::SetLastError(platform::ERROR_INVALID_HANDLE);
    return false;
  }
  size_t written = 0;
  bool ok = m_connection->Write(data, count, &written);
  count = written;
  return ok;
}

void CPipeClient::Close() { m_connection.reset(); }

bool PipeSendAndRecvW(const char16_t* message, size_t byteCount, const char16_t* replyName,
                      const char16_t* serverName, CPipeServer& replyServer,
                      uint32_t replyLimitSeconds) {
  if (!replyServer.InitialWithTimer(replyName, replyLimitSeconds)) {
    DebugTraceW(5, kModule, __LINE__, u"[PipeSendAndRecvW] Initial pipe server failed!");
    return false;
  }
  CPipeClient client;
  if (!client.Open(serverName)) {
    DebugTraceW(5, kModule, __LINE__, u"[PipeSendAndRecvW] Initial pipe client failed! err=%d",
                platform::GetLastError());
    return false;
  }
  size_t count = byteCount;
  if (!client.Send(message, count)) {
    DebugTraceW(5, kModule, __LINE__, u"[PipeSendAndRecvW] pipe send failed!. err=%d",
                platform::GetLastError());
    return false;
  }
  return true;
}
