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
// argv[0], as CreateProcess takes it). Answers ERROR_SUCCESS or the error; pid receives the new
// process id when given.
uint32_t LaunchProcess(const std::string& programPath, std::string_view commandLine,
                       const LaunchOptions& options, pid_t* pid = nullptr);

}  // namespace platform
