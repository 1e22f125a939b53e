// velmora-analyze CAPTURE [--csv FILE] [--agent-id ID] [--flags N]
//
// Analyses one capture file as the service does with the files dropped into "Pcap_input": every
// record goes through the classifier into the output file (one line per frame, then the
// summary), and the report that would be posted is printed on standard output. Nothing is
// posted, no thread is started and no pipe is opened.
//
// Exit codes: 0 analysed, 1 bad usage or a file that cannot be opened or written, 2 a capture
// header that is refused (its message is on standard output).
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "Packetdispatcher.h"
#include "ParsePacketResult.h"
#include "PcapMonitor.h"
#include "dhcpl_DhcpListen.h"
#include "platform/clock.h"

namespace {

constexpr int kExitAnalysed = 0;
constexpr int kExitFailure = 1;
constexpr int kExitHeaderRefused = 2;

struct Options {
  std::string capture;
  std::string csv;
  std::string agentId;
  int32_t flags = 0;
};

int Usage(const char* problem) {
  std::fprintf(stderr, "velmora-analyze: %s\nusage: velmora-analyze CAPTURE [--csv FILE] [--agent-id ID] [--flags N]\n",
               problem);
  return kExitFailure;
}

std::optional<int32_t> ParseFlags(std::string_view text) {
  int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// The capture's file name with the extension "csv", in the current folder.
std::string DefaultCsvPath(std::string_view capture) {
  const size_t slash = capture.rfind('/');
  return CsvFileName(slash == std::string_view::npos ? capture : capture.substr(slash + 1));
}

// Answers the exit code when the arguments do not make a run.
std::optional<int> ParseArguments(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--csv" || arg == "--agent-id" || arg == "--flags") {
      if (!hasValue) return Usage("an option lacks its value");
      const char* value = argv[++i];
      if (arg == "--csv") {
        options.csv = value;
      } else if (arg == "--agent-id") {
        options.agentId = value;
      } else if (const std::optional<int32_t> flags = ParseFlags(value)) {
        options.flags = *flags;
      } else {
        return Usage("--flags takes a 32-bit decimal number");
      }
    } else if (arg.starts_with("--") || !options.capture.empty()) {
      return Usage("unexpected argument");
    } else {
      options.capture = arg;
    }
  }
  if (options.capture.empty()) return Usage("no capture file given");
  if (options.csv.empty()) options.csv = DefaultCsvPath(options.capture);
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const std::optional<int> exitCode = ParseArguments(argc, argv, options)) return *exitCode;

  const int64_t start = platform::TimeNow();
  LastSendTime = start;
  DumpTime = start;
  InitIrcCommandSet();
  RegisterPermanentRules(g_PacketDispatcher);
  g_nNonIpFrames = 0;
  g_ParsePacketResult.Reset();
  g_ParsePacketResult.SetReportFlags(options.flags);

  std::string report;
  switch (TraceCaptureFile(options.capture, options.csv, options.agentId, report)) {
    case CaptureAnalysis::Analysed:
      break;
    case CaptureAnalysis::HeaderRejected:
      return kExitHeaderRefused;
    case CaptureAnalysis::HeaderMissing:
      std::fprintf(stderr, "velmora-analyze: %s is shorter than a capture header\n", options.capture.c_str());
      return kExitHeaderRefused;
    case CaptureAnalysis::CaptureNotOpened:
      std::fprintf(stderr, "velmora-analyze: cannot open %s: %s\n", options.capture.c_str(), std::strerror(errno));
      return kExitFailure;
    case CaptureAnalysis::OutputFailed:
      std::fprintf(stderr, "velmora-analyze: cannot write %s: %s\n", options.csv.c_str(), std::strerror(errno));
      return kExitFailure;
  }
  if (!report.empty()) std::printf("%s\n", report.c_str());
  return std::fflush(stdout) == 0 ? kExitAnalysed : kExitFailure;
}
