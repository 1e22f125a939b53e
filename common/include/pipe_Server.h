// The listening end of a pipe: one message per client connection, received whole.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/event.h"
#include "platform/pipe.h"
#include "platform/timer.h"
#include "platform/wait.h"

class CPipeServer {
 public:
  static constexpr uint32_t kMaxInstances = 255;
  static constexpr size_t kBufferBytes = 512000;
  static constexpr int kCreateAttempts = 6;
  static constexpr uint32_t kCreateRetryMs = 100;

  CPipeServer();
  ~CPipeServer();
  CPipeServer(const CPipeServer&) = delete;
  CPipeServer& operator=(const CPipeServer&) = delete;

  // One instance whose receive ends when event is signalled. Without an event the server makes
  // its own ("PIPE_OBJ_LOCAL_EVENT_<thread id>"), which nobody sets.
  bool InitialWithEvent(const char16_t* pipeName, platform::Event* event);

  // One instance whose every wait for data ends after replyLimitSeconds (0: no limit).
  bool InitialWithTimer(const char16_t* pipeName, uint32_t replyLimitSeconds);

  // count instances (at most 255) listening on pipeName; userObject (may be null) ends a receive.
  // true when every instance is listening. FetchCmd on a server that failed here fails at once.
  bool Initial(uint32_t count, const char16_t* pipeName, platform::WaitObject* userObject);

  // Receives the next client's message whole: true and its bytes (possibly none, when a client
  // closed without writing), or false when the user object was signalled or the wait failed;
  // bytes received so far are then dropped.
  bool FetchCmd(std::string& output);

 private:
  enum class State { Connecting, Reading };
  struct Instance {
    State state = State::Connecting;
    std::unique_ptr<platform::PipeConnection> connection;
  };

  bool CreateListener();
  bool ReadStep(char* buffer, size_t& length);
  bool ReadFromInstance(Instance& instance, char* buffer, size_t& length);
  void Reconnect(Instance& instance);
  std::vector<platform::WaitObject*> WaitHandles() const;

  std::u16string m_pipeName;
  std::unique_ptr<platform::PipeListener> m_listener;
  std::vector<Instance> m_instances;
  platform::WaitObject* m_userObject = nullptr;
  std::unique_ptr<platform::WaitObject> m_ownedUserObject;
  platform::WaitableTimer* m_timer = nullptr;
  uint32_t m_replyLimitSeconds = 0;
  bool m_userObjectFired = false;
  bool m_waitFailed = false;
  bool m_listening = false;
  std::unique_ptr<char[]> m_buf;
};
