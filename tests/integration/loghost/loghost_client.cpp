// A program that traces like the product's programs do, for the log host tests:
//   loghost_client trace <level> <text> [<level> <text> ...]
//   loghost_client trace-special        (a record text with a tab, a line feed and a backslash)
//   loghost_client start | stop
#include <cstdlib>
#include <string>

#include "dl_DebugLog.h"
#include "platform/error.h"
#include "platform/process.h"
#include "platform/text.h"

namespace {

// Starts the program hidden and without arguments, as the service's launcher does.
int LaunchHidden(const char16_t* programPath) {
  std::string path = platform::Utf16ToUtf8(programPath);
  return platform::LaunchProcess(path, "\"" + path + "\" ", platform::LaunchOptions{}) == platform::ERROR_SUCCESS
             ? 1
             : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::string command = argv[1];
  InitDebugLogW(nullptr, nullptr, u"HVBotAlertAgent", true);
  if (command == "trace") {
    for (int i = 2; i + 1 < argc; i += 2) {
      std::u16string text = platform::Utf8ToUtf16(argv[i + 1]);
      DebugTraceW(std::atoi(argv[i]), u"LogHostClient", __LINE__, u"%s", text.c_str());
    }
  } else if (command == "trace-special") {
    DebugTraceW(8, u"LogHostClient", __LINE__, u"[Special] tab\there\nnext\\end");
  } else if (command == "start") {
    StartLogHost(&LaunchHidden);
  } else if (command == "stop") {
    StopLogHost();
  } else {
    return 2;
  }
  return 0;
}
