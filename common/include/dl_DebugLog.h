// Tracing: every program turns trace calls into records for the debug-log host.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

// level: 2 banner and component failures, 5 errors, 8 flow of work. module: the source module's
// name (u"AgentService"); line: the call's line (__LINE__). Wide formats follow the Windows rules
// of platform/text.h (%s takes a char16_t text, %S a narrow one).
void DebugTraceW(int level, const char16_t* module, int line, const char16_t* format, ...);
void DebugTraceA(int level, const char* module, int line, const char* format, ...);

// Like DebugTraceW, but never sent to the log host: the pipe client that talks to the host
// reports its own failures this way so that they cannot recurse. Goes to the debug library when
// one is loaded, otherwise it is dropped.
void DebugTraceLocalW(int level, const char16_t* module, int line, const char16_t* format, ...);

// Sets the program's trace tag and, unless doNotLoad is set, loads the debug library by its file
// name. Answers true when the library's initialisation entry was found and called. Call before
// other threads trace.
bool InitDebugLogW(const char16_t* settingsFile, const char16_t* libraryFile, const char16_t* tag,
                   bool doNotLoad);
bool InitDebugLogA(const char* settingsFile, const char* libraryFile, const char* tag, bool doNotLoad);

// A record text holds at most this many characters, its terminator included.
inline constexpr size_t kDebugRecordChars = 4096;

// Builds "[tag][module]message" into record (kDebugRecordChars units), cut and always
// terminated. Answers the characters written.
size_t FormatDebugRecordW(char16_t* record, const char16_t* format, va_list args);

// Whether a trace should try the log host. While the host is unreachable only one call in eleven
// reads the clock, and the host is tried again once more than 5000 ms have passed since the last
// failure. The values are relaxed atomics: a lost update only moves the next retry.
class CLogHostGate {
 public:
  using TickSource = uint32_t (*)();
  static constexpr uint32_t kSkippedCalls = 10;
  static constexpr uint32_t kRetryAfterMs = 5000;

  explicit CLogHostGate(TickSource ticks);

  bool Ask();
  void MarkReachable();
  void MarkUnreachable();  // remembers now as the last failure

 private:
  TickSource m_ticks;
  std::atomic<bool> m_reachable{true};
  std::atomic<uint32_t> m_skipCounter{0};
  std::atomic<uint32_t> m_lastFailure{0};
};

// The process-wide gate that the trace calls use.
CLogHostGate& DebugLogHostGate();

// Talking to the log host over "Log_ServerNamePipe".

// One "LOG_WRITE" record; true when it was written to the host's pipe.
bool SendLogRecord(int64_t time, uint32_t processId, uint32_t threadId, int level,
                   const char16_t* module, int line, const char16_t* text);

// Asks the host for its program file's full path. replyLimitSeconds bounds the wait for the answer.
inline constexpr uint32_t kLogHostReplyLimitSeconds = 600;
bool QueryLogHostPath(std::u16string& path, uint32_t replyLimitSeconds = kLogHostReplyLimitSeconds);

// Asks the host to end; true when the command was written.
bool EndLogHost();

// Starts a program file without arguments and without waiting for it: 1, or 0 when it could not
// be started.
using ProgramLauncher = int (*)(const char16_t* programPath);

// Starts "LogHost" from this program's folder with launch when its "qzdebug.ini" enables debug
// logging. The service passes its own launcher, so the start is traced like its other launches.
void StartLogHost(ProgramLauncher launch);

// Ends the log host if it runs from this program's folder; one from elsewhere is left running.
void StopLogHost();

// The program file's folder with its trailing separator, or empty.
std::u16string GetModulePath();

// (thread id << 16) | (tick count & 0xFFFF) as a signed 32-bit value; it also names reply pipes.
int32_t MakeRequestId();
