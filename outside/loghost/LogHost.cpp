// The debug-log host: serves "Log_ServerNamePipe" and writes the records it keeps to the log file
// named by "qzdebug.ini" beside the program, one line per record.
#include <pthread.h>
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <thread>

#include "KAVOcl_Common.h"
#include "dl_DebugLog.h"
#include "pipe_Server.h"
#include "pipe_Util.h"
#include "platform/event.h"
#include "platform/identity.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace {

constexpr char16_t kLogHostPipe[] = u"Log_ServerNamePipe";
constexpr size_t kCommandNameChars = 30;
constexpr uint32_t kDebugLogChars = 512;

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

struct Settings {
  std::string logPath;  // empty: records are not kept
  int32_t maxLevel = 0;
};

Settings ReadSettings(const std::string& folder) {
  std::string ini = folder + "qzdebug.ini";
  char debugLog[kDebugLogChars + 1] = "";
  platform::GetPrivateProfileStringA("debug", "debuglog", "", debugLog, sizeof(debugLog), ini.c_str());
  Settings settings;
  settings.maxLevel = platform::GetPrivateProfileIntA("debug", "debuglevel", 0, ini.c_str());
  std::string path = debugLog;
  if (!path.empty() && path.front() != '/') path = folder + path;
  settings.logPath = path;
  return settings;
}

// Backslash, tab and line breaks are written as two-character escapes, so that a record is always
// one line and its fields are always split by the tabs between them.
std::string EscapeField(std::u16string_view text) {
  std::string narrow = platform::Utf16ToUtf8(text);
  std::string escaped;
  escaped.reserve(narrow.size());
  for (char c : narrow) {
    switch (c) {
      case '\\': escaped += "\\\\"; break;
      case '\t': escaped += "\\t"; break;
      case '\n': escaped += "\\n"; break;
      case '\r': escaped += "\\r"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

std::string UtcTime(int32_t seconds) {
  time_t t = seconds;
  struct tm utc {};
  char text[32] = "";
  if (::gmtime_r(&t, &utc) != nullptr) std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

// The record text is the last field; a tab inside it split it, so the rest is joined again.
std::u16string RestOfMessage(CCmdProtocol& message) {
  struct Field {
    int start = -1;
    int count = 0;
  } field;
  auto take = [](void* data, const char16_t*, int start, int count) {
    *static_cast<Field*>(data) = {start, count};
  };
  std::u16string rest;
  for (bool first = true;; first = false) {
    message.NextField(take, &field);
    if (field.start < 0) break;
    if (!first) rest += u'\t';
    rest.append(message.GetText(), static_cast<size_t>(field.start), static_cast<size_t>(field.count));
  }
  return rest;
}

class LogHost {
 public:
  explicit LogHost(Settings settings) : m_settings(std::move(settings)) {}

  // Answers false when the command asks the host to end.
  bool Handle(const std::string& bytes) {
    std::u16string text = WideTextFromBytes(bytes);
    CCmdProtocol message(text.c_str(), -1);
    char16_t name[kCommandNameChars];
    message.NextText(name, kCommandNameChars);
    std::u16string_view command = name;
    if (command == u"LOG_WRITE") {
      Write(message);
    } else if (command == u"LOG_GET_RUNNING_PATH") {
      AnswerRunningPath(message);
    } else if (command == u"LOG_END_SERVER") {
      return false;
    }
    return true;
  }

 private:
  void Write(CCmdProtocol& message) {
    int32_t time = 0, level = 0, line = 0;
    uint32_t processId = 0, threadId = 0;
    std::u16string module;
    message.NextInt(time).NextULong(processId).NextULong(threadId).NextInt(level);
    message.NextString(module).NextInt(line);
    std::u16string record = RestOfMessage(message);
    if (level > m_settings.maxLevel || !OpenLog()) return;
    std::string entry = UtcTime(time) + "\t" + std::to_string(processId) + "\t" +
                        std::to_string(threadId) + "\t" + std::to_string(level) + "\t" +
                        EscapeField(module) + "\t" + std::to_string(line) + "\t" +
                        EscapeField(record) + "\n";
    std::fwrite(entry.data(), 1, entry.size(), m_log.get());
    std::fflush(m_log.get());
  }

  bool OpenLog() {
    if (!m_log && !m_settings.logPath.empty()) m_log.reset(std::fopen(m_settings.logPath.c_str(), "ae"));
    return m_log != nullptr;
  }

  void AnswerRunningPath(CCmdProtocol& message) {
    int32_t requestId = 0;
    message.NextInt(requestId);
    std::u16string replyName = platform::StringFormatW(u"DbCln_%d", requestId);
    std::u16string path = platform::Utf8ToUtf16(platform::ModuleFileName());
    CPipeClient client;
    if (!client.Open(replyName.c_str())) return;
    size_t count = (path.size() + 1) * sizeof(char16_t);
    client.Send(path.c_str(), count);
  }

  Settings m_settings;
  UniqueFile m_log;
};

}  // namespace

int main() {
  // SIGINT and SIGTERM end the host cleanly: a thread waits for them and sets the stop event.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  std::unique_ptr<platform::Event> stop = platform::Event::Create(true, false);
  if (!stop) return 1;
  std::thread signalWaiter([&stopSignals, event = stop.get()] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    event->Set();
  });

  LogHost host(ReadSettings(platform::ModuleFolder()));
  int exitCode = 1;
  {
    CPipeServer server;
    if (server.InitialWithEvent(kLogHostPipe, stop.get())) {
      exitCode = 0;
      std::string message;
      while (server.FetchCmd(message)) {
        if (!message.empty() && !host.Handle(message)) break;
      }
    }
  }
  pthread_kill(signalWaiter.native_handle(), SIGTERM);
  signalWaiter.join();
  return exitCode;
}
