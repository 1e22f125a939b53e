// Peer for the cross-process tests of named objects. One command per run:
//   event-create NAME MANUAL INITIAL  create, print "created <last error>", hold until input ends
//   event-wait NAME TIMEOUT_MS        open, print "waiting", print the wait's answer; exit 0 when signalled
//   event-set NAME                    open and set
//   mutex-hold NAME                   create or open, take ownership, print "owned", hold until input ends
//   mutex-try NAME                    open, try without waiting, print the answer
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/event.h"
#include "platform/mutex.h"

namespace {

void HoldUntilInputEnds() {
  char byte;
  while (::read(0, &byte, 1) > 0) {
  }
}

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

int Run(const std::string& command, const std::string& name, int argc, char** argv) {
  using namespace platform;
  if (command == "event-create" && argc >= 5) {
    auto event = Event::CreateNamed(name, std::atoi(argv[3]) != 0, std::atoi(argv[4]) != 0);
    Say("created " + std::to_string(event ? GetLastError() : WAIT_FAILED));
    HoldUntilInputEnds();
    return event ? 0 : 2;
  }
  if (command == "event-wait" && argc >= 4) {
    auto event = Event::OpenNamed(name);
    if (!event) return 2;
    Say("waiting");
    uint32_t result = WaitForOne(*event, static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)));
    Say(std::to_string(result));
    return result == WAIT_OBJECT_0 ? 0 : 1;
  }
  if (command == "event-set") {
    auto event = Event::OpenNamed(name);
    return event && event->Set() ? 0 : 2;
  }
  if (command == "mutex-hold") {
    auto mutex = NamedMutex::Create(name, true);
    if (!mutex) return 2;
    if (GetLastError() == ERROR_ALREADY_EXISTS && mutex->Wait(INFINITE) != WAIT_OBJECT_0) return 2;
    Say("owned");
    HoldUntilInputEnds();
    return mutex->Release() ? 0 : 2;
  }
  if (command == "mutex-try") {
    auto mutex = NamedMutex::Open(name);
    if (!mutex) return 2;
    Say(std::to_string(mutex->Wait(0)));
    return 0;
  }
  return 64;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 64;
  return Run(argv[1], argv[2], argc, argv);
}
