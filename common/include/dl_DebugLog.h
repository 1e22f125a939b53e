// Tracing: every program turns trace calls into records for the debug-log host.
#pragma once

#include <cstdint>
#include <string>

// level: 2 banner and component failures, 5 errors, 8 flow of work. module: the source module's
// name (u"AgentService"); line: the call's line (__LINE__). Wide formats follow the Windows rules
// of platform/text.h (%s takes a char16_t text, %S a narrow one).
void DebugTraceW(int level, const char16_t* module, int line, const char16_t* format, ...);
void DebugTraceA(int level, const char* module, int line, const char* format, ...);
