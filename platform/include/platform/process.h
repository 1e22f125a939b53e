// Starting programs: posix_spawn in a new session, no inherited descriptors.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

struct LaunchOptions {
  bool hidden = true;  // standard streams on /dev/null
  std::vector<std::pair<std::string, std::string>> extraEnvironment;
};

// Splits a command line by the Windows rules (blanks separate, double quotes group, backslashes
// escape quotes).
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// Starts programPath with the arguments of commandLine (its first word is the program name as
// argv[0], as CreateProcess takes it; with an empty programPath that word names the program).
// Answers ERROR_SUCCESS or the error (ERROR_FILE_NOT_FOUND for a missing program file,
// ERROR_ACCESS_DENIED for one that may not be run). pid receives the new process id when given,
// and the caller then waits for it; without pid the program is reaped when it ends.
uint32_t LaunchProcess(const std::string& programPath, std::string_view commandLine,
                       const LaunchOptions& options, pid_t* pid = nullptr);

}  // namespace platform
