// Peer for the process-launch tests: writes what it was started with to the file named by its
// first argument, one fact a line: "arg <text>" for each further argument, "env <value of
// VELMORA_PEER_VALUE>", "own-session <0|1>", "fd <n> <target>" for each open descriptor.
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc < 2) return 64;
  std::string report;
  for (int i = 2; i < argc; ++i) report += std::string("arg ") + argv[i] + "\n";
  const char* value = std::getenv("VELMORA_PEER_VALUE");
  report += std::string("env ") + (value ? value : "(unset)") + "\n";
  report += std::string("own-session ") + (::getsid(0) == ::getpid() ? "1" : "0") + "\n";
  DIR* fds = ::opendir("/proc/self/fd");
  if (fds == nullptr) return 65;
  for (dirent* entry; (entry = ::readdir(fds)) != nullptr;) {
    if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == ::dirfd(fds)) continue;
    char target[512] = {};
    std::string link = std::string("/proc/self/fd/") + entry->d_name;
    ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    report += std::string("fd ") + entry->d_name + " " + (n > 0 ? target : "?") + "\n";
  }
  ::closedir(fds);
  FILE* out = std::fopen(argv[1], "w");
  if (out == nullptr) return 66;
  std::fputs(report.c_str(), out);
  return std::fclose(out) == 0 ? 0 : 67;
}
