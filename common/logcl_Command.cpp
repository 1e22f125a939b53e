// Commands to the debug-log host over "Log_ServerNamePipe", and starting and stopping the host.
#include <atomic>

#include "KAVOcl_Common.h"
#include "dl_DebugLog.h"
#include "pipe_Util.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/identity.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace {

constexpr char16_t kModule[] = u"logcl_Command";
constexpr char16_t kLogHostPipe[] = u"Log_ServerNamePipe";
constexpr char16_t kLogHostProgram[] = u"LogHost";
constexpr char16_t kDebugSettingsFile[] = u"qzdebug.ini";
constexpr size_t kDebugLogChars = 512;

std::atomic<bool> g_missingHostNoteGiven{false};

// One-way: the whole message with its terminator in one write; no answer is read. Failures are
// traced only locally, since a trace to the host would come straight back here.
bool SendToLogHost(const std::u16string& text) {
  CPipeClient client;
  if (!client.Open(kLogHostPipe)) {
    uint32_t error = platform::GetLastError();
    if (error != platform::ERROR_FILE_NOT_FOUND) {
      DebugTraceLocalW(5, kModule, __LINE__, u"Initial pipe client failed! err=%d", error);
    } else if (!g_missingHostNoteGiven.exchange(true, std::memory_order_relaxed)) {
      DebugTraceLocalW(5, kModule, __LINE__, u"Need to Start LogHost for turn on debug log.");
    }
    return false;
  }
  size_t count = (text.size() + 1) * sizeof(char16_t);
  if (!client.Send(text.c_str(), count)) {
    DebugTraceLocalW(5, kModule, __LINE__, u"pipe send failed!. err=%d", platform::GetLastError());
    return false;
  }
  return true;
}

bool StartsWithNoCase(const std::u16string& text, const std::u16string& prefix) {
  return text.size() >= prefix.size() &&
         platform::EqualsNoCase(std::u16string_view(text).substr(0, prefix.size()), prefix);
}

}  // namespace

bool SendLogRecord(int64_t time, uint32_t processId, uint32_t threadId, int level,
                   const char16_t* module, int line, const char16_t* text) {
  CCmdProtocol command;
  command.Add(u"LOG_WRITE")
      .AddInt(static_cast<int32_t>(static_cast<uint32_t>(time)))
      .AddUInt(processId)
      .AddUInt(threadId)
      .AddInt(level)
      .Add(module)
      .AddInt(line)
      .Add(text);
  return SendToLogHost(command.GetText());
}

bool QueryLogHostPath(std::u16string& path, uint32_t replyLimitSeconds) {
  path.clear();
  int32_t requestId = MakeRequestId();
  CCmdProtocol command;
  command.Add(u"LOG_GET_RUNNING_PATH").AddInt(requestId);
  const std::u16string& text = command.GetText();
  std::u16string replyName = platform::StringFormatW(u"DbCln_%d", requestId);
  CPipeServer replyServer;
  if (!PipeSendAndRecvW(text.c_str(), (text.size() + 1) * sizeof(char16_t), replyName.c_str(),
                        kLogHostPipe, replyServer, replyLimitSeconds)) {
    DebugTraceLocalW(5, kModule, __LINE__, u"PipeSendAndRecv Failed! err=%d", platform::GetLastError());
    return false;
  }
  std::string reply;
  if (!replyServer.FetchCmd(reply)) {
    DebugTraceLocalW(5, kModule, __LINE__, u"PipeServer.FetchCmd Failed!");
    return false;
  }
  path = WideTextFromBytes(reply);
  path.resize(platform::WideLength(path.c_str()));
  return true;
}

bool EndLogHost() {
  CCmdProtocol command;
  command.Add(u"LOG_END_SERVER");
  return SendToLogHost(command.GetText());
}

std::u16string GetModulePath() {
  std::string program = platform::ModuleFileName();
  DebugTraceW(8, kModule, __LINE__, u"[GetModulePath] GetModuleFileName return %d",
              static_cast<int>(program.size()));
  size_t slash = program.rfind('/');
  if (slash == std::string::npos) return {};
  return platform::Utf8ToUtf16(std::string_view(program).substr(0, slash + 1));
}

void StartLogHost(ProgramLauncher launch) {
  std::u16string folder = GetModulePath();
  std::u16string settings = folder + kDebugSettingsFile;
  char16_t debugLog[kDebugLogChars + 1] = u"";
  platform::GetPrivateProfileStringW(u"debug", u"debuglog", u"", debugLog, kDebugLogChars + 1,
                                     settings.c_str());
  int32_t debugLevel = platform::GetPrivateProfileIntW(u"debug", u"debuglevel", 0, settings.c_str());
  if (debugLog[0] == u'\0' || debugLevel == 0) return;
  if (launch((folder + kLogHostProgram).c_str()) == 1) {
    DebugTraceW(8, kModule, __LINE__, u"[StartLogHost] LogHost ready");
  }
}

void StopLogHost() {
  std::u16string folder = GetModulePath();
  DebugTraceW(8, kModule, __LINE__, u"[StopLogHost] Module running path: %s", folder.c_str());
  std::u16string hostPath;
  QueryLogHostPath(hostPath);
  DebugTraceW(8, kModule, __LINE__, u"[StopLogHost] LogHost running path: %s", hostPath.c_str());
  if (folder.empty() || !StartsWithNoCase(hostPath, folder)) return;
  DebugTraceW(8, kModule, __LINE__, u"[StopLogHost] STOP LogHost");
  EndLogHost();
}

int32_t MakeRequestId() {
  uint32_t id = (platform::GetCurrentThreadId() << 16) | (platform::GetTickCount() & 0xFFFFu);
  return static_cast<int32_t>(id);
}
