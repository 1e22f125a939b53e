// hvproxy-notify URL SCORE [PROTOCOL]: hands one rating to the process that listens for the local
// proxy's notifications, as the proxy does after rating an address. PROTOCOL defaults to 3 (HTTP).
// Exit code 0 when the rating was delivered to the pipe, 1 otherwise.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "HvProxy.h"
#include "platform/error.h"
#include "platform/pipe.h"
#include "platform/text.h"

namespace {

constexpr uint32_t kNotifyTypeRating = 1;

int Usage() {
  std::fprintf(stderr, "usage: hvproxy-notify URL SCORE [PROTOCOL]\n");
  return 1;
}

std::optional<uint32_t> ParseNumber(const char* text) {
  if (text[0] < '0' || text[0] > '9') return std::nullopt;
  errno = 0;
  char* end = nullptr;
  unsigned long long value = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || value > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(value);
}

int Send(const HVPX_NOTIFY_MESSAGE& message) {
  std::unique_ptr<platform::PipeConnection> pipe = platform::PipeConnection::Connect(kHvpxNotifyPipe);
  if (!pipe) {
    std::fprintf(stderr, "hvproxy-notify: nobody listens on \"%s\" (error %u)\n", kHvpxNotifyPipe,
                 platform::GetLastError());
    return 1;
  }
  size_t written = 0;
  if (!pipe->Write(&message, sizeof(message), &written) || written != sizeof(message)) {
    std::fprintf(stderr, "hvproxy-notify: write failed (error %u)\n", platform::GetLastError());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) return Usage();
  std::u16string url = platform::Utf8ToUtf16(argv[1]);
  constexpr size_t kUrlChars = sizeof(HVPX_URLF_NOTIFY::URL) / sizeof(char16_t);
  if (url.empty() || url.size() >= kUrlChars) {
    std::fprintf(stderr, "hvproxy-notify: the URL must have 1 to %zu characters\n", kUrlChars - 1);
    return 1;
  }
  std::optional<uint32_t> score = ParseNumber(argv[2]);
  std::optional<uint32_t> protocol = argc == 4 ? ParseNumber(argv[3]) : std::optional<uint32_t>(kHvpxProtocolHttp);
  if (!score || !protocol) {
    std::fprintf(stderr, "hvproxy-notify: SCORE and PROTOCOL are unsigned decimal numbers\n");
    return 1;
  }
  HVPX_NOTIFY_MESSAGE message;
  std::memset(&message, 0, sizeof(message));
  message.Type = kNotifyTypeRating;
  message.Protocol = *protocol;
  platform::CopyBounded(message.Notify.URL, kUrlChars, url);
  message.Notify.Score = *score;
  return Send(message);
}
