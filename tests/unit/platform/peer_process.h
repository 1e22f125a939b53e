// A peer program started by a test, talked to over its standard input and output: the test
// reads the lines the peer prints and ends it by closing its input or by a signal.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace velmora::test {

class PeerProcess {
 public:
  // Starts the test helper program `program` (a name in the test binary folder).
  PeerProcess(const std::string& program, const std::vector<std::string>& args) {
    int toChild[2], fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0) return;
    if (::pipe2(fromChild, O_CLOEXEC) != 0) {
      ::close(toChild[0]);
      ::close(toChild[1]);
      return;
    }
    std::string path = std::string(VELMORA_TEST_BIN_DIR) + "/" + program;
    std::vector<std::string> words{path};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    m_pid = ::fork();
    if (m_pid == 0) {
      ::dup2(toChild[0], 0);
      ::dup2(fromChild[1], 1);
      ::execv(path.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    m_input.Reset(toChild[1]);
    m_output.Reset(fromChild[0]);
  }

  ~PeerProcess() {
    if (m_pid > 0 && !m_reaped) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, nullptr, 0);
    }
  }

  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  pid_t Pid() const { return m_pid; }

  // The next line the peer prints, without its newline; empty when it ended first or did
  // not answer within the (generous) limit.
  std::string ReadLine(int limitMs = 20000) {
    for (;;) {
      size_t newline = m_pending.find('\n');
      if (newline != std::string::npos) {
        std::string line = m_pending.substr(0, newline);
        m_pending.erase(0, newline + 1);
        return line;
      }
      pollfd entry{m_output.Get(), POLLIN, 0};
      if (::poll(&entry, 1, limitMs) != 1) return {};
      char buffer[256];
      ssize_t n = ::read(m_output.Get(), buffer, sizeof buffer);
      if (n <= 0) return {};
      m_pending.append(buffer, static_cast<size_t>(n));
    }
  }

  void CloseInput() { m_input.Reset(); }

  void Kill(int signal) { ::kill(m_pid, signal); }

  // Waits for the peer to end: its exit code, or 128 + the signal that ended it.
  int Wait() {
    int status = 0;
    if (::waitpid(m_pid, &status, 0) != m_pid) return -1;
    m_reaped = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t m_pid = -1;
  bool m_reaped = false;
  platform::UniqueFd m_input, m_output;
  std::string m_pending;
};

}  // namespace velmora::test
