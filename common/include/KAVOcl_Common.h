// The command message (tab-separated UTF-16 fields, zero-terminated) and the client calls to the
// service's pipe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "pipe_Server.h"

class CCmdProtocol {
 public:
  // Receives one field: (data, text, start, count), or (data, text, -1, -1) past the last field.
  using FieldReceiver = void (*)(void* data, const char16_t* text, int start, int count);

  // For building: empty, room for 1024 characters.
  CCmdProtocol();
  // For reading: byteLength / 2 characters of text, or up to its terminator when byteLength is -1.
  CCmdProtocol(const char16_t* text, int byteLength);
  virtual ~CCmdProtocol() = default;

  // Appends a field (a separator first unless it is the first field). An absent text adds an
  // empty field; length -1 takes the text up to its terminator.
  CCmdProtocol& Add(const char16_t* text, int length = -1);
  CCmdProtocol& Add(std::u16string_view text);
  CCmdProtocol& AddInt(int32_t value);
  CCmdProtocol& AddUInt(uint32_t value);

  CCmdProtocol& NextField(FieldReceiver receiver, void* data);
  // The field cut to size - 1 characters and terminated; empty past the last field.
  CCmdProtocol& NextText(char16_t* buffer, size_t size);
  CCmdProtocol& NextString(std::u16string& value);
  // Only the field's first 19 characters count; 0 past the last field.
  CCmdProtocol& NextInt(int32_t& value);
  CCmdProtocol& NextULong(uint32_t& value);

  const std::u16string& GetText() const { return m_text; }

 private:
  std::u16string m_separator = u"\t";
  std::u16string m_text;
  size_t m_readPosition = 0;
  bool m_first = true;
};

// The received bytes as wide text, byteCount / 2 units as they stand (a sender's terminator stays).
std::u16string WideTextFromBytes(std::string_view bytes);

// Reply pipe name of a request to the service.
std::u16string ReplyPipeName(int32_t requestId);

class KAVOClient {
 public:
  static constexpr uint32_t kReplyLimitSeconds = 600;

  explicit KAVOClient(uint32_t replyLimitSeconds = kReplyLimitSeconds)
      : m_replyLimitSeconds(replyLimitSeconds) {}

  // One-way request to "KAVONamePipe": 0, or the last error.
  int Send(const std::u16string& text);
  // Sends a request that expects an answer on "KAVOCln_<id>": 0, or -1.
  int SendAndRecv(const std::u16string& text, CPipeServer& replyServer, int32_t requestId);
  // Takes the answer: 0 and the reply text (its terminator included), or -1.
  int Recv(CPipeServer& replyServer, std::u16string& reply);

  // SendAndRecv and Recv with a reply server of its own: 0 and the reply text, or -1.
  int Call(const CCmdProtocol& request, int32_t requestId, std::u16string& reply);

 private:
  uint32_t m_replyLimitSeconds;
};
