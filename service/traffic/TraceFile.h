// The text file that capture-file analysis writes: one line per frame and a summary. It is a
// text-mode file in the sense the reports' readers expect, so every "\n" written becomes CR LF.
// Writes are gathered in a buffer; the per-frame hexadecimal dump is the hot path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

class CTraceFile {
 public:
  CTraceFile() = default;
  ~CTraceFile();
  CTraceFile(const CTraceFile&) = delete;
  CTraceFile& operator=(const CTraceFile&) = delete;

  // Creates the file anew (truncating an existing one). False with errno set when it cannot.
  bool Create(const std::string& path);

  // Text with "\n" written as CR LF.
  void Write(std::string_view text);
  void Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // Each byte as two lower-case hexadecimal digits and a space.
  void WriteHex(const uint8_t* bytes, size_t count);

  // Writes out what is buffered and closes; false when any write failed.
  bool Close();

 private:
  void Reserve(size_t bytes);
  void Flush();

  platform::UniqueFd m_fd;
  static constexpr size_t kBufferSize = 64 * 1024;
  char m_buffer[kBufferSize];
  size_t m_used = 0;
  bool m_failed = false;
};
