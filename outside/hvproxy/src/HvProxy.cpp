// Notification registrations and the listener thread that delivers ratings to them.
#include "HvProxy.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/error.h"
#include "platform/event.h"
#include "platform/pipe.h"
#include "platform/wait.h"

namespace {

// A sender that connects and then stalls cannot hold up the messages behind it for longer.
constexpr uint32_t kReceiveLimitMs = 2000;

class NotifyHub {
 public:
  ~NotifyHub() { StopListening(); }

  int32_t Add(HVPX_NOTIFY_CALLBACK callback) {
    std::lock_guard<std::recursive_mutex> dispatch(m_dispatch);
    if (std::find(m_callbacks.begin(), m_callbacks.end(), callback) == m_callbacks.end()) {
      m_callbacks.push_back(callback);
    }
    return StartListening();
  }

  // Removal waits for a delivery in progress, since deliveries hold the same lock; a callback
  // that removes itself already holds it.
  int32_t Remove(HVPX_NOTIFY_CALLBACK callback) {
    bool last = false;
    {
      std::lock_guard<std::recursive_mutex> dispatch(m_dispatch);
      auto found = std::find(m_callbacks.begin(), m_callbacks.end(), callback);
      if (found == m_callbacks.end()) return static_cast<int32_t>(platform::ERROR_FILE_NOT_FOUND);
      m_callbacks.erase(found);
      last = m_callbacks.empty();
    }
    if (last) StopListening();
    return 0;
  }

 private:
  int32_t StartListening() {
    std::lock_guard<std::mutex> control(m_control);
    if (m_listener.joinable()) return 0;
    m_stop = platform::Event::Create(true, false);
    if (!m_stop) return static_cast<int32_t>(platform::GetLastError());
    std::unique_ptr<platform::PipeListener> pipe = platform::PipeListener::Create(kHvpxNotifyPipe, false);
    if (!pipe) return static_cast<int32_t>(platform::GetLastError());
    m_listener = std::thread([this, listener = std::move(pipe)]() mutable { Listen(*listener); });
    m_listenerId = m_listener.get_id();
    return 0;
  }

  // The listener thread itself (a callback removing the last registration) cannot join itself;
  // it keeps listening and delivers to nobody until the next registration or the library's end.
  void StopListening() {
    std::lock_guard<std::mutex> control(m_control);
    if (!m_listener.joinable() || std::this_thread::get_id() == m_listenerId) return;
    m_stop->Set();
    m_listener.join();
    m_listenerId = {};
  }

  void Listen(platform::PipeListener& listener) {
    for (;;) {
      uint32_t fired = platform::WaitForAny({m_stop.get(), &listener}, platform::INFINITE);
      if (fired != platform::WAIT_OBJECT_0 + 1) return;
      std::unique_ptr<platform::PipeConnection> connection = listener.Accept();
      HVPX_NOTIFY_MESSAGE message;
      if (connection && Receive(*connection, message)) Deliver(message);
    }
  }

  // The whole message up to the sender's close; anything longer than a message is refused.
  bool Receive(platform::PipeConnection& connection, HVPX_NOTIFY_MESSAGE& message) {
    char buffer[sizeof(HVPX_NOTIFY_MESSAGE) + 1];
    size_t received = 0;
    for (;;) {
      uint32_t fired = platform::WaitForAny({m_stop.get(), &connection}, kReceiveLimitMs);
      if (fired != platform::WAIT_OBJECT_0 + 1) return false;
      ssize_t count = connection.Read(buffer + received, sizeof(buffer) - received);
      if (count == 0) return HvpxDecodeNotifyMessage(buffer, received, &message);
      if (count < 0) {
        if (platform::GetLastError() == platform::ERROR_IO_PENDING) continue;
        return false;
      }
      received += static_cast<size_t>(count);
      if (received == sizeof(buffer)) return false;
    }
  }

  void Deliver(const HVPX_NOTIFY_MESSAGE& message) {
    std::lock_guard<std::recursive_mutex> dispatch(m_dispatch);
    // Index by index over the live list: a callback may remove itself or another one.
    for (size_t i = 0; i < m_callbacks.size(); ++i) {
      HVPX_NOTIFY_CALLBACK callback = m_callbacks[i];
      callback(message.Type, message.Protocol, message.Scan, message.Context, &message.Notify);
      if (i < m_callbacks.size() && m_callbacks[i] != callback) --i;
    }
  }

  std::recursive_mutex m_dispatch;  // the registrations, and every delivery
  std::mutex m_control;             // starting and stopping the listener
  std::vector<HVPX_NOTIFY_CALLBACK> m_callbacks;
  std::unique_ptr<platform::Event> m_stop;
  std::thread m_listener;
  std::thread::id m_listenerId;
};

NotifyHub& Hub() {
  static NotifyHub hub;
  return hub;
}

}  // namespace

HVPX_API int32_t HvpxSetNotifyEx(HVPX_NOTIFY_CALLBACK callback) {
  if (callback == nullptr) return static_cast<int32_t>(platform::ERROR_INVALID_PARAMETER);
  return Hub().Add(callback);
}

HVPX_API int32_t HvpxResetSpecificNotifyEx(HVPX_NOTIFY_CALLBACK callback) {
  if (callback == nullptr) return static_cast<int32_t>(platform::ERROR_INVALID_PARAMETER);
  return Hub().Remove(callback);
}
