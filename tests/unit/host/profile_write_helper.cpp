// Usage: host_profile_write_helper FILE SECTION KEY VALUE
#include "platform/profile.h"

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  return platform::WritePrivateProfileStringA(argv[2], argv[3], argv[4], argv[1]) ? 0 : 1;
}
