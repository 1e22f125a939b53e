// Capture-file analysis: reading a classic libpcap file (microsecond time stamps, little-endian,
// version 2.4, snapshot length 65535, Ethernet) record by record through the classifier, with a
// trace file of one line per frame and the result store's summary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

class CTraceFile;

inline constexpr size_t kPcapHeaderSize = 24;
inline constexpr size_t kPcapRecordHeaderSize = 16;

// A capture file opened for reading raw bytes, read through a large buffer.
class CCaptureFile {
 public:
  // False with errno set when the file cannot be opened.
  bool Open(const std::string& path);
  // The file's size when it was opened.
  int64_t Size() const { return m_size; }
  bool Seek(int64_t offset);
  // Answers the bytes read; fewer than asked at the end of the file or on a read error.
  size_t Read(void* destination, size_t count);

 private:
  bool Refill();

  platform::UniqueFd m_fd;
  int64_t m_size = 0;
  std::unique_ptr<uint8_t[]> m_buffer;
  size_t m_capacity = 0;
  size_t m_begin = 0;
  size_t m_end = 0;
};

// Tests the 24-byte global header; at the first failed test prints its message ("Magic number
// error", "Wrong Version", "Wrong 6 zeros", "Wrong Check 1", "Wrong Check 2") with "!" on
// standard output and answers false.
bool CheckPcapHeader(const uint8_t* header);

// Classifies every record from offset on, until the file's size is reached or a record cannot
// be read whole (which writes its message line to the trace). The first record's IPv4 source
// address is taken as this computer's: frames from it count as sent.
void ReadPcapRecords(CCaptureFile& file, int64_t offset, CTraceFile* trace);

// The file name with everything after its last "." replaced by "csv" ("csv" appended when it
// has no "."): "net.pcap" gives "net.csv".
std::string CsvFileName(std::string_view fileName);

// ".../Pcap_input/net.pcap" gives ".../Pcap_output/net.csv": the file's folder is replaced by
// its sibling "Pcap_output". Nothing when the path has fewer than two separators or the result
// would exceed 259 characters.
std::optional<std::string> MakePcapOutputPath(std::string_view capturePath);

enum class CaptureAnalysis {
  Analysed,
  CaptureNotOpened,
  OutputFailed,  // the trace file could not be created or written
  HeaderMissing,   // the file is shorter than a capture header
  HeaderRejected,  // refused by CheckPcapHeader
};

// Reads the capture into a new trace file at outputPath and builds the report from the result
// store (report is left as it is when nothing was found). The caller resets the store and the
// non-IP frame counter before, and posts the report after.
CaptureAnalysis TraceCaptureFile(const std::string& capturePath, const std::string& outputPath,
                                 std::string_view agentId, std::string& report);
