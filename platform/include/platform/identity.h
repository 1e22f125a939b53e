// Who and where the running program is.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

uint32_t GetCurrentThreadId();
uint32_t GetCurrentProcessId();

// Full path of the running program file (from /proc/self/exe).
std::string ModuleFileName();

// The program file's folder with its trailing separator ("/opt/velmora/"), or empty.
std::string ModuleFolder();

// The program file's name without its folder ("Corvane").
std::string ModuleBaseName();

// Answers true on success; the last error is set otherwise.
bool SetCurrentDirectory(const std::string& path);

}  // namespace platform
