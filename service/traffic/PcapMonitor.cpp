#include "PcapMonitor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ParsePacketResult.h"
#include "TraceFile.h"
#include "dhcpl_DhcpListen.h"

namespace {

constexpr size_t kMinReadBufferSize = 4096;
constexpr size_t kMaxReadBufferSize = 1024 * 1024;
constexpr size_t kMaxOutputPathLength = 259;
constexpr size_t kIpSourceOffset = 26;
// The classifier turns the TCP ports (bytes 34 to 37) around in place.
constexpr size_t kClassifierWritesEnd = 38;

uint32_t ReadLe32(const uint8_t* bytes) {
  return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
}

bool RejectHeader(const char* message) {
  std::printf("%s!\n", message);
  std::fflush(stdout);
  return false;
}

}  // namespace

bool CCaptureFile::Open(const std::string& path) {
  m_fd.Reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!m_fd) return false;
  struct stat status {};
  if (::fstat(m_fd.Get(), &status) != 0) {
    m_fd.Reset();
    return false;
  }
  m_size = status.st_size;
  // Small files get a small buffer; nothing is cleared, every byte used is read first.
  m_capacity = std::clamp<size_t>(static_cast<size_t>(std::max<int64_t>(m_size, 0)), kMinReadBufferSize,
                                  kMaxReadBufferSize);
  m_buffer = std::make_unique_for_overwrite<uint8_t[]>(m_capacity);
  m_begin = m_end = 0;
  return true;
}

bool CCaptureFile::Seek(int64_t offset) {
  m_begin = m_end = 0;
  return ::lseek(m_fd.Get(), offset, SEEK_SET) == offset;
}

bool CCaptureFile::Refill() {
  m_begin = m_end = 0;
  for (;;) {
    const ssize_t n = ::read(m_fd.Get(), m_buffer.get(), m_capacity);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    m_end = static_cast<size_t>(n);
    return true;
  }
}

size_t CCaptureFile::Read(void* destination, size_t count) {
  auto* out = static_cast<uint8_t*>(destination);
  size_t done = 0;
  while (done < count) {
    if (m_begin == m_end && !Refill()) break;
    const size_t n = std::min(count - done, m_end - m_begin);
    std::memcpy(out + done, m_buffer.get() + m_begin, n);
    m_begin += n;
    done += n;
  }
  return done;
}

bool CheckPcapHeader(const uint8_t* header) {
  if (ReadLe32(header) != 0xA1B2C3D4) return RejectHeader("Magic number error");
  if (ReadLe32(header + 4) != 0x00040002) return RejectHeader("Wrong Version");
  if (std::any_of(header + 8, header + 14, [](uint8_t b) { return b != 0; })) return RejectHeader("Wrong 6 zeros");
  if (ReadLe32(header + 16) != 65535) return RejectHeader("Wrong Check 1");
  if (ReadLe32(header + 20) != 1) return RejectHeader("Wrong Check 2");
  return true;
}

void ReadPcapRecords(CCaptureFile& file, int64_t offset, CTraceFile* trace) {
  const int64_t size = file.Size();
  if (!file.Seek(offset)) {
    if (trace) trace->Write("Error at read block head!\n");
    return;
  }
  uint8_t frame[kCaptureFrameBufferSize] = {};
  // Bytes past the current frame that an earlier frame left behind; they are cleared so that
  // what the classifier sees beyond a short frame does not depend on the frames before it.
  size_t dirtyEnd = 0;
  uint8_t localAddress[4] = {};
  bool first = true;
  while (offset < size) {
    uint8_t head[kPcapRecordHeaderSize];
    if (file.Read(head, sizeof(head)) != sizeof(head)) {
      if (trace) trace->Write("Error at read block head!\n");
      return;
    }
    const uint32_t captured = ReadLe32(head + 8);
    if (captured >= kCaptureFrameBufferSize) {
      if (trace) trace->Write("packet is bigger than buffer!\n");
      return;
    }
    if (file.Read(frame, captured) != captured) {
      if (trace) trace->Write("Error at read block content!\n");
      return;
    }
    if (dirtyEnd > captured) std::memset(frame + captured, 0, dirtyEnd - captured);
    offset += static_cast<int64_t>(kPcapRecordHeaderSize + captured);
    if (first) {
      std::memcpy(localAddress, frame + kIpSourceOffset, sizeof(localAddress));
      first = false;
    }
    const int32_t iIO = std::memcmp(frame + kIpSourceOffset, localAddress, sizeof(localAddress)) == 0 ? 1 : 0;
    ClassifyFrame(frame, static_cast<int32_t>(captured), iIO, trace);
    dirtyEnd = std::max<size_t>(captured, kClassifierWritesEnd);
  }
}

std::string CsvFileName(std::string_view fileName) {
  const size_t dot = fileName.rfind('.');
  std::string result(fileName.substr(0, dot == std::string_view::npos ? fileName.size() : dot + 1));
  result += "csv";
  return result;
}

std::optional<std::string> MakePcapOutputPath(std::string_view capturePath) {
  const size_t nameStart = capturePath.rfind('/');
  if (nameStart == std::string_view::npos || nameStart == 0) return std::nullopt;
  const size_t folderStart = capturePath.rfind('/', nameStart - 1);
  if (folderStart == std::string_view::npos) return std::nullopt;
  std::string result(capturePath.substr(0, folderStart + 1));
  result += "Pcap_output/";
  result += CsvFileName(capturePath.substr(nameStart + 1));
  if (result.size() > kMaxOutputPathLength) return std::nullopt;
  return result;
}

CaptureAnalysis TraceCaptureFile(const std::string& capturePath, const std::string& outputPath,
                                 std::string_view agentId, std::string& report) {
  CCaptureFile capture;
  if (!capture.Open(capturePath)) return CaptureAnalysis::CaptureNotOpened;
  CTraceFile trace;
  if (!trace.Create(outputPath)) return CaptureAnalysis::OutputFailed;
  uint8_t header[kPcapHeaderSize];
  if (capture.Read(header, sizeof(header)) != sizeof(header)) return CaptureAnalysis::HeaderMissing;
  if (!CheckPcapHeader(header)) return CaptureAnalysis::HeaderRejected;
  ReadPcapRecords(capture, kPcapHeaderSize, &trace);
  g_ParsePacketResult.DumpResult(&trace, report, agentId);
  return trace.Close() ? CaptureAnalysis::Analysed : CaptureAnalysis::OutputFailed;
}
