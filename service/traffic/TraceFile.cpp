#include "TraceFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

CTraceFile::~CTraceFile() { Close(); }

bool CTraceFile::Create(const std::string& path) {
  Close();
  m_fd.Reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  m_failed = !m_fd.Valid();
  return m_fd.Valid();
}

void CTraceFile::Reserve(size_t bytes) {
  if (kBufferSize - m_used < bytes) Flush();
}

void CTraceFile::Flush() {
  size_t written = 0;
  while (written < m_used && m_fd.Valid()) {
    const ssize_t n = ::write(m_fd.Get(), m_buffer + written, m_used - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      m_failed = true;
      break;
    }
    written += static_cast<size_t>(n);
  }
  m_used = 0;
}

void CTraceFile::Write(std::string_view text) {
  while (!text.empty()) {
    const size_t lineEnd = text.find('\n');
    const std::string_view piece = text.substr(0, lineEnd);
    size_t copied = 0;
    while (copied < piece.size()) {
      Reserve(1);
      const size_t n = std::min(piece.size() - copied, kBufferSize - m_used);
      std::memcpy(m_buffer + m_used, piece.data() + copied, n);
      m_used += n;
      copied += n;
    }
    if (lineEnd == std::string_view::npos) return;
    Reserve(2);
    m_buffer[m_used++] = '\r';
    m_buffer[m_used++] = '\n';
    text.remove_prefix(lineEnd + 1);
  }
}

void CTraceFile::Printf(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof(text)) {
    Write(std::string_view(text, static_cast<size_t>(n)));
    return;
  }
  std::string whole(static_cast<size_t>(n) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(whole.data(), whole.size(), format, args);
  va_end(args);
  whole.pop_back();
  Write(whole);
}

namespace {

// "00 " to "ff ": one lookup and one three-byte copy per dumped byte.
struct HexCells {
  char cells[256][3];
  constexpr HexCells() : cells() {
    constexpr char kDigits[] = "0123456789abcdef";
    for (int b = 0; b < 256; ++b) {
      cells[b][0] = kDigits[b >> 4];
      cells[b][1] = kDigits[b & 0x0F];
      cells[b][2] = ' ';
    }
  }
};
constexpr HexCells kHexCells;

}  // namespace

void CTraceFile::WriteHex(const uint8_t* bytes, size_t count) {
  constexpr size_t kMaxRun = kBufferSize / 3;
  while (count > 0) {
    const size_t run = std::min(count, kMaxRun);
    Reserve(run * 3);
    char* out = m_buffer + m_used;
    for (size_t i = 0; i < run; ++i) std::memcpy(out + i * 3, kHexCells.cells[bytes[i]], 3);
    m_used += run * 3;
    bytes += run;
    count -= run;
  }
}

bool CTraceFile::Close() {
  if (!m_fd.Valid()) return !m_failed;
  Flush();
  if (::close(m_fd.Release()) != 0) m_failed = true;
  return !m_failed;
}
