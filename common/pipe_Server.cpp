// The listening end of a pipe. A receive collects everything one client writes until it closes,
// in as many reads as it takes; the user object (stop event or reply-limit timer) ends it at once.
#include "pipe_Server.h"

#include <algorithm>
#include <new>

#include "dl_DebugLog.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/identity.h"
#include "platform/text.h"

namespace {

constexpr char16_t kModule[] = u"pipe_Server";
// The pipe's full Windows-style path ("\\.\pipe\" + name) was limited to 255 characters.
constexpr size_t kPipePrefixChars = 9;
constexpr size_t kPipePathChars = 255;

std::u16string BoundedPipeName(const char16_t* pipeName) {
  std::u16string name = pipeName != nullptr ? pipeName : u"";
  if (name.size() > kPipePathChars - kPipePrefixChars) name.resize(kPipePathChars - kPipePrefixChars);
  return name;
}

}  // namespace

CPipeServer::CPipeServer() : m_buf(new (std::nothrow) char[kBufferBytes]) {}

CPipeServer::~CPipeServer() = default;

bool CPipeServer::InitialWithEvent(const char16_t* pipeName, platform::Event* event) {
  platform::WaitObject* userObject = event;
  if (event == nullptr) {
    std::string eventName =
        platform::StringFormatA("PIPE_OBJ_LOCAL_EVENT_%u", platform::GetCurrentThreadId());
    std::unique_ptr<platform::Event> owned = platform::Event::CreateNamed(eventName, true, false);
    if (!owned) {
      DebugTraceW(5, kModule, __LINE__,
                  u"[CPipeServer::Initial] CreateEvent PIPE_OBJ_LOCAL_EVENT Failed! err=%d",
                  platform::GetLastError());
    } else {
      userObject = owned.get();
      m_ownedUserObject = std::move(owned);
    }
  }
  return Initial(1, pipeName, userObject);
}

bool CPipeServer::InitialWithTimer(const char16_t* pipeName, uint32_t replyLimitSeconds) {
  // The timer lives in this process only, so servers on different threads never share one.
  std::unique_ptr<platform::WaitableTimer> timer = platform::WaitableTimer::Create(true);
  if (!timer) {
    DebugTraceW(5, kModule, __LINE__,
                u"[CPipeServer::Initial] CreateEvent PIPE_TIMER_OBJ_LOCAL_EVENT Failed! err=%d",
                platform::GetLastError());
  } else {
    m_timer = timer.get();
    m_ownedUserObject = std::move(timer);
  }
  m_replyLimitSeconds = replyLimitSeconds;
  return Initial(1, pipeName, m_timer);
}

bool CPipeServer::Initial(uint32_t count, const char16_t* pipeName, platform::WaitObject* userObject) {
  count = std::min(count, kMaxInstances);
  m_pipeName = BoundedPipeName(pipeName);
  m_userObject = userObject;
  m_instances.clear();
  m_listening = count == 0 || CreateListener();
  if (m_listening) m_instances.resize(count);
  return m_listening;
}

bool CPipeServer::CreateListener() {
  std::string name = platform::Utf16ToUtf8(m_pipeName);
  for (int attempt = 1;; ++attempt) {
    m_listener = platform::PipeListener::Create(name, true);
    if (m_listener) return true;
    uint32_t error = platform::GetLastError();
    if (error != platform::ERROR_PIPE_BUSY) {
      DebugTraceW(5, kModule, __LINE__, u"[CPipeServer::Initial] CreateNamedPipe failed! err=%d",
                  error);
      return false;
    }
    if (attempt == kCreateAttempts) break;
    platform::Sleep(kCreateRetryMs);
  }
  DebugTraceW(5, kModule, __LINE__, u"[CPipeServer::Initial] Retry %d times. Still Failed!",
              kCreateAttempts - 1);
  platform::SetLastError(platform::ERROR_PIPE_BUSY);
  return false;
}

std::vector<platform::WaitObject*> CPipeServer::WaitHandles() const {
  std::vector<platform::WaitObject*> handles;
  handles.reserve(m_instances.size() + 1);
  for (const Instance& instance : m_instances) {
    if (instance.state == State::Reading) {
      handles.push_back(instance.connection.get());
    } else {
      handles.push_back(m_listener.get());
    }
  }
  if (m_userObject != nullptr) handles.push_back(m_userObject);
  return handles;
}

void CPipeServer::Reconnect(Instance& instance) {
  instance.connection.reset();
  instance.state = State::Connecting;
}

bool CPipeServer::ReadFromInstance(Instance& instance, char* buffer, size_t& length) {
  ssize_t got = instance.connection->Read(buffer, length);
  if (got > 0) {
    length = static_cast<size_t>(got);
    return true;
  }
  length = 0;
  if (got < 0 && platform::GetLastError() == platform::ERROR_IO_PENDING) return true;
  // End of file (the client closed: the message is complete) or a broken connection.
  Reconnect(instance);
  return false;
}

// One wait and at most one read. length is in: free space; out: bytes read. false ends the
// message; m_userObjectFired and m_waitFailed tell why a receive must fail instead.
bool CPipeServer::ReadStep(char* buffer, size_t& length) {
  size_t space = length;
  length = 0;
  if (space > 0) buffer[0] = 0;
  if (m_timer != nullptr && m_replyLimitSeconds != 0 &&
      !m_timer->SetRelative(static_cast<uint64_t>(m_replyLimitSeconds) * 1000)) {
    DebugTraceW(5, kModule, __LINE__, u"SetWaitableTimer failed (%d)\n", platform::GetLastError());
  }
  std::vector<platform::WaitObject*> handles = WaitHandles();
  uint32_t result = handles.empty() ? platform::WAIT_FAILED
                                    : platform::WaitForAny(handles, platform::INFINITE);
  if (result == platform::WAIT_FAILED || result >= handles.size()) {
    m_waitFailed = true;
    return false;
  }
  if (result == m_instances.size()) {
    m_userObjectFired = true;
    return true;
  }
  Instance& instance = m_instances[result];
  if (instance.state == State::Connecting) {
    instance.connection = m_listener->Accept();
    if (!instance.connection) return false;
    instance.state = State::Reading;
  }
  length = space;
  return ReadFromInstance(instance, buffer, length);
}

bool CPipeServer::FetchCmd(std::string& output) {
  output.clear();
  if (!m_buf) {
    DebugTraceW(5, kModule, __LINE__, u"[CPipeServer::FetchCmd] m_buf == NULL");
    return false;
  }
  if (!m_listening) {
    // Waiting on nothing but the user object would never end.
    platform::SetLastError(platform::ERROR_INVALID_HANDLE);
    return false;
  }
  m_userObjectFired = false;
  m_waitFailed = false;
  size_t fill = 0;
  bool more = true;
  while (more) {
    size_t length = kBufferBytes - fill;
    more = ReadStep(m_buf.get() + fill, length);
    fill += length;
    if (m_userObjectFired || (m_userObject != nullptr && m_userObject->TestSignalled())) {
      DebugTraceW(5, kModule, __LINE__, u"[CPipeServer::FetchCmd] User define object is not signaled!");
      output.clear();
      platform::SetLastError(platform::ERROR_TIMEOUT);
      return false;
    }
    if (m_waitFailed) {
      output.clear();
      return false;
    }
    if (fill == kBufferBytes) {
      output.append(m_buf.get(), fill);
      fill = 0;
    }
  }
  output.append(m_buf.get(), fill);
  return true;
}
