// Trace calls: one record text per call, handed to the log host (or to the optional debug
// library when the host is out of reach).
#include "dl_DebugLog.h"

#include <dlfcn.h>

#include <memory>

#include "platform/clock.h"
#include "platform/error.h"
#include "platform/identity.h"
#include "platform/text.h"

namespace {

constexpr char kModule[] = "dl_DebugLog";
constexpr size_t kTagBytes = 1024;
constexpr size_t kModuleNameBytes = 260;
constexpr size_t kModuleNameChars = 1024;
constexpr size_t kFileNameBytes = 260;

// Entry points of the debug library. Only the initialisation entry and the two record entries are
// called; the others are looked up so that their presence is known, as the library's users expect.
using SdInitFn = int (*)(const char* settingsFile, const char* buildDate, const char* buildTime);
using SdTraceA0200Fn = void (*)(const char* module, int line, int level, const char* format, ...);
using SdTraceWFn = void (*)(int, int, int, const char16_t* module, int line, int level,
                            const char16_t* text);

struct LibraryCloser {
  void operator()(void* handle) const { ::dlclose(handle); }
};

struct DebugLibrary {
  std::unique_ptr<void, LibraryCloser> handle;
  SdInitFn init = nullptr;
  void* traceW0200 = nullptr;
  SdTraceA0200Fn traceA0200 = nullptr;
  SdTraceWFn traceW = nullptr;
  void* setDebugMsg = nullptr;
  void* dbLogTrace = nullptr;
  bool initCalled = false;
};

// A trace sits between a failing call and its caller's look at the last error, so it must not
// change it.
class LastErrorKeeper {
 public:
  LastErrorKeeper() : m_error(platform::GetLastError()) {}
  ~LastErrorKeeper() { platform::SetLastError(m_error); }
  LastErrorKeeper(const LastErrorKeeper&) = delete;
  LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

 private:
  uint32_t m_error;
};

DebugLibrary g_debugLibrary;
char g_szTag[kTagBytes] = "";
char16_t g_wszTag[kTagBytes] = u"";

struct ModuleNames {
  char narrow[kModuleNameBytes] = "";
  char16_t wide[kModuleNameChars] = u"";
};

// Filled once, on first use, by whichever thread traces first.
const ModuleNames& ProgramModuleNames() {
  static const ModuleNames names = [] {
    ModuleNames n;
    std::string base = platform::ModuleBaseName();
    platform::CopyBounded(n.narrow, sizeof(n.narrow), base);
    platform::CopyBounded(n.wide, kModuleNameChars, platform::Utf8ToUtf16(n.narrow));
    return n;
  }();
  return names;
}

// UTF-8 of text in at most maxBytes - 1 bytes, never cutting a character in two.
std::string NarrowBounded(const char16_t* text, size_t maxBytes) {
  if (text == nullptr) return {};
  std::string narrow = platform::Utf16ToUtf8(text);
  if (narrow.size() < maxBytes) return narrow;
  size_t cut = maxBytes - 1;
  while (cut > 0 && (static_cast<unsigned char>(narrow[cut]) & 0xC0) == 0x80) --cut;
  narrow.resize(cut);
  return narrow;
}

bool LibraryTakesWideRecords() {
  return g_debugLibrary.initCalled && g_debugLibrary.traceW0200 != nullptr &&
         g_debugLibrary.traceW != nullptr;
}

bool LibraryTakesNarrowRecords() {
  return g_debugLibrary.initCalled && g_debugLibrary.traceA0200 != nullptr;
}

void HandToDebugLibraryW(int level, const char16_t* module, int line, const char16_t* record) {
  if (LibraryTakesWideRecords()) g_debugLibrary.traceW(0, 0, 0, module, line, level, record);
}

// The record goes to the host when the gate lets it; a failed send closes the gate.
// Answers false when the gate was shut, so the caller may offer the record to the library.
bool OfferToHost(int level, const char16_t* module, int line, const char16_t* record) {
  CLogHostGate& gate = DebugLogHostGate();
  if (!gate.Ask()) return false;
  if (SendLogRecord(platform::TimeNow(), platform::GetCurrentProcessId(),
                    platform::GetCurrentThreadId(), level, module, line, record)) {
    gate.MarkReachable();
  } else {
    gate.MarkUnreachable();
  }
  return true;
}

size_t FormatDebugRecordA(char* record, const char* format, va_list args) {
  size_t used = platform::FormatA(record, kDebugRecordChars, "[%s][%s]", g_szTag,
                                  ProgramModuleNames().narrow);
  return used + platform::FormatAV(record + used, kDebugRecordChars - used, format, args);
}

void LoadDebugLibrary(const char* settingsFile, const char* libraryFile) {
  if (libraryFile == nullptr || *libraryFile == '\0') return;
  std::unique_ptr<void, LibraryCloser> handle(::dlopen(libraryFile, RTLD_NOW | RTLD_LOCAL));
  if (!handle) return;
  DebugLibrary& lib = g_debugLibrary;
  void* raw = handle.get();
  lib.init = reinterpret_cast<SdInitFn>(::dlsym(raw, "SD_InitDebug_with_Ini_0200"));
  if (lib.init != nullptr) {
    lib.init(settingsFile != nullptr ? settingsFile : "", __DATE__, __TIME__);
    lib.initCalled = true;
  }
  lib.traceW0200 = ::dlsym(raw, "SD_TraceW_0200");
  lib.traceA0200 = reinterpret_cast<SdTraceA0200Fn>(::dlsym(raw, "SD_TraceA_0200"));
  lib.traceW = reinterpret_cast<SdTraceWFn>(::dlsym(raw, "SD_TraceW"));
  lib.setDebugMsg = ::dlsym(raw, "SD_SetDebugMsg");
  lib.dbLogTrace = ::dlsym(raw, "SD_DbLogTrace");
  lib.handle = std::move(handle);
}

// The file version is the project's version, given by the build.
void TraceBuildBanner() {
  DebugTraceA(2, kModule, __LINE__, "Compiled on [%s %s] Version [%d.%d.%d.%d]", __DATE__,
              __TIME__, VELMORA_VERSION_MAJOR, VELMORA_VERSION_MINOR, VELMORA_VERSION_PATCH,
              VELMORA_VERSION_TWEAK);
}

}  // namespace

CLogHostGate::CLogHostGate(TickSource ticks) : m_ticks(ticks) {}

bool CLogHostGate::Ask() {
  if (m_reachable.load(std::memory_order_relaxed)) return true;
  if (m_skipCounter.fetch_add(1, std::memory_order_relaxed) < kSkippedCalls) return false;
  m_skipCounter.store(0, std::memory_order_relaxed);
  uint32_t sinceFailure = m_ticks() - m_lastFailure.load(std::memory_order_relaxed);
  if (sinceFailure <= kRetryAfterMs) return false;
  m_reachable.store(true, std::memory_order_relaxed);
  return true;
}

void CLogHostGate::MarkReachable() { m_reachable.store(true, std::memory_order_relaxed); }

void CLogHostGate::MarkUnreachable() {
  m_lastFailure.store(m_ticks(), std::memory_order_relaxed);
  m_reachable.store(false, std::memory_order_relaxed);
}

CLogHostGate& DebugLogHostGate() {
  static CLogHostGate gate(platform::GetTickCount);
  return gate;
}

size_t FormatDebugRecordW(char16_t* record, const char16_t* format, va_list args) {
  size_t used = platform::FormatW(record, kDebugRecordChars, u"[%s][%s]", g_wszTag,
                                  ProgramModuleNames().wide);
  return used + platform::FormatWV(record + used, kDebugRecordChars - used, format, args);
}

void DebugTraceW(int level, const char16_t* module, int line, const char16_t* format, ...) {
  if (!DebugLogHostGate().Ask()) return;
  LastErrorKeeper keeper;
  char16_t record[kDebugRecordChars];
  va_list args;
  va_start(args, format);
  FormatDebugRecordW(record, format, args);
  va_end(args);
  if (!OfferToHost(level, module, line, record)) HandToDebugLibraryW(level, module, line, record);
}

void DebugTraceA(int level, const char* module, int line, const char* format, ...) {
  if (!DebugLogHostGate().Ask()) return;
  LastErrorKeeper keeper;
  char record[kDebugRecordChars];
  va_list args;
  va_start(args, format);
  FormatDebugRecordA(record, format, args);
  va_end(args);
  std::u16string wideModule = platform::Utf8ToUtf16(module != nullptr ? module : "");
  std::u16string wideRecord = platform::Utf8ToUtf16(record);
  if (OfferToHost(level, wideModule.c_str(), line, wideRecord.c_str())) return;
  if (LibraryTakesNarrowRecords()) g_debugLibrary.traceA0200(module, line, level, "%s", record);
}

void DebugTraceLocalW(int level, const char16_t* module, int line, const char16_t* format, ...) {
  if (!LibraryTakesWideRecords()) return;
  LastErrorKeeper keeper;
  char16_t record[kDebugRecordChars];
  va_list args;
  va_start(args, format);
  FormatDebugRecordW(record, format, args);
  va_end(args);
  HandToDebugLibraryW(level, module, line, record);
}

bool InitDebugLogW(const char16_t* settingsFile, const char16_t* libraryFile, const char16_t* tag,
                   bool doNotLoad) {
  std::string narrowSettings = NarrowBounded(settingsFile, kFileNameBytes);
  std::string narrowLibrary = NarrowBounded(libraryFile, kFileNameBytes);
  std::string narrowTag = NarrowBounded(tag, kTagBytes);
  return InitDebugLogA(narrowSettings.c_str(), narrowLibrary.c_str(),
                       tag != nullptr ? narrowTag.c_str() : nullptr, doNotLoad);
}

bool InitDebugLogA(const char* settingsFile, const char* libraryFile, const char* tag,
                   bool doNotLoad) {
  platform::CopyBounded(g_szTag, sizeof(g_szTag), tag != nullptr ? tag : "");
  platform::CopyBounded(g_wszTag, kTagBytes, platform::Utf8ToUtf16(g_szTag));
  if (!doNotLoad) LoadDebugLibrary(settingsFile, libraryFile);
  ProgramModuleNames();
  TraceBuildBanner();
  return g_debugLibrary.initCalled;
}
