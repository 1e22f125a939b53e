#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <thread>

#include "platform/error.h"

extern char** environ;

namespace platform {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The program name: quotes group, backslashes are plain characters (they are path separators).
size_t SplitProgramName(std::string_view line, size_t at, std::vector<std::string>* words) {
  std::string word;
  bool quoted = false;
  for (; at < line.size() && (quoted || !IsBlank(line[at])); ++at) {
    if (line[at] == '"') {
      quoted = !quoted;
    } else {
      word += line[at];
    }
  }
  words->push_back(std::move(word));
  return at;
}

// One argument after the program name, by the rules of the C runtime's command-line parser:
// 2n backslashes before a quote give n backslashes and a grouping quote, 2n+1 give n and a
// literal quote; other backslashes stand as they are; "" inside quotes is a literal quote.
size_t SplitArgument(std::string_view line, size_t at, std::vector<std::string>* words) {
  std::string word;
  bool quoted = false;
  while (at < line.size() && (quoted || !IsBlank(line[at]))) {
    if (line[at] == '\\') {
      size_t slashes = 0;
      while (at < line.size() && line[at] == '\\') ++slashes, ++at;
      if (at < line.size() && line[at] == '"') {
        word.append(slashes / 2, '\\');
        if (slashes % 2 == 1) {
          word += '"';
          ++at;
        }
      } else {
        word.append(slashes, '\\');
      }
    } else if (line[at] == '"') {
      if (quoted && at + 1 < line.size() && line[at + 1] == '"') {
        word += '"';
        at += 2;
      } else {
        quoted = !quoted;
        ++at;
      }
    } else {
      word += line[at++];
    }
  }
  words->push_back(std::move(word));
  return at;
}

// This process's environment with the extra variables put in place of any of the same name.
std::vector<std::string> ChildEnvironment(const LaunchOptions& options) {
  std::vector<std::string> entries;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::string_view text(*entry);
    bool replaced = false;
    for (const auto& [name, value] : options.extraEnvironment) {
      replaced = replaced || (text.size() > name.size() && text.substr(0, name.size()) == name && text[name.size()] == '=');
    }
    if (!replaced) entries.emplace_back(text);
  }
  for (const auto& [name, value] : options.extraEnvironment) entries.push_back(name + "=" + value);
  return entries;
}

std::vector<char*> PointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// RAII owners of the spawn attributes and file actions.
class SpawnSettings {
 public:
  SpawnSettings() {
    posix_spawnattr_init(&m_attributes);
    posix_spawn_file_actions_init(&m_actions);
  }
  ~SpawnSettings() {
    posix_spawn_file_actions_destroy(&m_actions);
    posix_spawnattr_destroy(&m_attributes);
  }
  SpawnSettings(const SpawnSettings&) = delete;
  SpawnSettings& operator=(const SpawnSettings&) = delete;

  // A new session of its own, a clean signal state, and only the standard streams.
  int Prepare(bool hidden) {
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int signal : {SIGPIPE, SIGCHLD, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM}) {
      sigaddset(&defaults, signal);
    }
    int error = posix_spawnattr_setflags(&m_attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    if (error == 0) error = posix_spawnattr_setsigmask(&m_attributes, &none);
    if (error == 0) error = posix_spawnattr_setsigdefault(&m_attributes, &defaults);
    if (hidden) {
      if (error == 0) error = posix_spawn_file_actions_addopen(&m_actions, 0, "/dev/null", O_RDONLY, 0);
      if (error == 0) error = posix_spawn_file_actions_addopen(&m_actions, 1, "/dev/null", O_WRONLY, 0);
      if (error == 0) error = posix_spawn_file_actions_addopen(&m_actions, 2, "/dev/null", O_WRONLY, 0);
    }
    // Descriptors opened without close-on-exec (by libraries, say) stay behind too.
    if (error == 0) error = posix_spawn_file_actions_addclosefrom_np(&m_actions, 3);
    return error;
  }

  const posix_spawnattr_t* Attributes() const { return &m_attributes; }
  const posix_spawn_file_actions_t* Actions() const { return &m_actions; }

 private:
  posix_spawnattr_t m_attributes;
  posix_spawn_file_actions_t m_actions;
};

// Nobody waits for a program started without asking for its id; reap it so that it leaves
// no zombie behind.
void ReapWhenDone(pid_t child) {
  std::thread([child] {
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
  std::vector<std::string> words;
  size_t at = 0;
  while (at < commandLine.size() && IsBlank(commandLine[at])) ++at;
  if (at == commandLine.size()) return words;
  at = SplitProgramName(commandLine, at, &words);
  for (;;) {
    while (at < commandLine.size() && IsBlank(commandLine[at])) ++at;
    if (at == commandLine.size()) return words;
    at = SplitArgument(commandLine, at, &words);
  }
}

uint32_t LaunchProcess(const std::string& programPath, std::string_view commandLine, const LaunchOptions& options,
                       pid_t* pid) {
  std::vector<std::string> arguments = SplitCommandLine(commandLine);
  // Without a program file the first word names it, as CreateProcess takes it.
  const std::string program = programPath.empty() && !arguments.empty() ? arguments.front() : programPath;
  if (program.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return ERROR_INVALID_PARAMETER;
  }
  if (arguments.empty()) arguments.push_back(program);
  std::vector<std::string> environment = ChildEnvironment(options);
  std::vector<char*> argv = PointersTo(arguments);
  std::vector<char*> envp = PointersTo(environment);

  SpawnSettings settings;
  pid_t child = -1;
  int error = settings.Prepare(options.hidden);
  if (error == 0) {
    error = ::posix_spawn(&child, program.c_str(), settings.Actions(), settings.Attributes(), argv.data(), envp.data());
  }
  if (error != 0) {
    const uint32_t code = ErrorFromErrno(error);
    SetLastError(code);
    return code;
  }
  if (pid != nullptr) {
    *pid = child;
  } else {
    ReapWhenDone(child);
  }
  SetLastError(ERROR_SUCCESS);
  return ERROR_SUCCESS;
}

}  // namespace platform
