// The detection service's program file.
#include <cstdlib>

#include "AgentService.h"

int main(int argc, char** argv) {
  // The entry answers 1 on every path, as its callers expect; the shell and the service manager
  // read 0 as a clean end.
  return AgentServiceEntry(argc, argv) == 1 ? EXIT_SUCCESS : EXIT_FAILURE;
}
