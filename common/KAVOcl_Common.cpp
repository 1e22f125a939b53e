// The command message and the client calls to the service's command pipe.
#include "KAVOcl_Common.h"

#include "dl_DebugLog.h"
#include "pipe_Util.h"
#include "platform/error.h"
#include "platform/text.h"

namespace {

constexpr char16_t kModule[] = u"KAVOcl_Common";
constexpr char16_t kServicePipe[] = u"KAVONamePipe";
constexpr size_t kInitialRoom = 1024;
constexpr size_t kNumberChars = 256;
// Numbers are read from at most the field's first 19 characters.
constexpr size_t kNumberFieldChars = 20;

void TakeField(void* data, const char16_t* text, int start, int count) {
  auto* field = static_cast<std::u16string*>(data);
  if (start < 0) {
    field->clear();
  } else {
    field->assign(text + start, static_cast<size_t>(count));
  }
}

size_t MessageBytes(const std::u16string& text) { return (text.size() + 1) * sizeof(char16_t); }

}  // namespace

CCmdProtocol::CCmdProtocol() { m_text.reserve(kInitialRoom); }

CCmdProtocol::CCmdProtocol(const char16_t* text, int byteLength) {
  if (text != nullptr) {
    if (byteLength == -1) {
      m_text.assign(text);
    } else if (byteLength > 0) {
      m_text.assign(text, static_cast<size_t>(byteLength) / sizeof(char16_t));
    }
  }
  m_first = m_text.empty();
}

CCmdProtocol& CCmdProtocol::Add(const char16_t* text, int length) {
  size_t count = 0;
  if (text != nullptr) count = length < 0 ? platform::WideLength(text) : static_cast<size_t>(length);
  if (m_first) {
    m_first = false;
  } else {
    m_text += m_separator;
  }
  if (count > 0) m_text.append(text, count);
  return *this;
}

CCmdProtocol& CCmdProtocol::Add(std::u16string_view text) {
  return Add(text.data(), static_cast<int>(text.size()));
}

CCmdProtocol& CCmdProtocol::AddInt(int32_t value) {
  char16_t number[kNumberChars];
  size_t count = platform::FormatW(number, kNumberChars, u"%d", value);
  return Add(number, static_cast<int>(count));
}

CCmdProtocol& CCmdProtocol::AddUInt(uint32_t value) {
  char16_t number[kNumberChars];
  size_t count = platform::FormatW(number, kNumberChars, u"%u", value);
  return Add(number, static_cast<int>(count));
}

CCmdProtocol& CCmdProtocol::NextField(FieldReceiver receiver, void* data) {
  const size_t size = m_text.size();
  if (m_readPosition >= size) {
    receiver(data, m_text.c_str(), -1, -1);
    return *this;
  }
  size_t separator = m_text.find(m_separator, m_readPosition);
  size_t end = separator == std::u16string::npos ? size : separator;
  receiver(data, m_text.c_str(), static_cast<int>(m_readPosition),
           static_cast<int>(end - m_readPosition));
  m_readPosition = separator == std::u16string::npos ? size : separator + 1;
  return *this;
}

CCmdProtocol& CCmdProtocol::NextString(std::u16string& value) { return NextField(TakeField, &value); }

CCmdProtocol& CCmdProtocol::NextText(char16_t* buffer, size_t size) {
  std::u16string field;
  NextString(field);
  platform::CopyBounded(buffer, size, field);
  return *this;
}

CCmdProtocol& CCmdProtocol::NextInt(int32_t& value) {
  char16_t number[kNumberFieldChars];
  NextText(number, kNumberFieldChars);
  value = platform::WideToInt(number);
  return *this;
}

CCmdProtocol& CCmdProtocol::NextULong(uint32_t& value) {
  char16_t number[kNumberFieldChars];
  NextText(number, kNumberFieldChars);
  value = platform::WideToULong(number);
  return *this;
}

std::u16string WideTextFromBytes(std::string_view bytes) {
  std::u16string text(bytes.size() / sizeof(char16_t), u'\0');
  if (!text.empty()) bytes.copy(reinterpret_cast<char*>(text.data()), text.size() * sizeof(char16_t));
  return text;
}

std::u16string ReplyPipeName(int32_t requestId) {
  return platform::StringFormatW(u"KAVOCln_%d", requestId);
}

int KAVOClient::Send(const std::u16string& text) {
  CPipeClient client;
  if (!client.Open(kServicePipe)) {
    uint32_t error = platform::GetLastError();
    DebugTraceW(5, kModule, __LINE__, u"Initial pipe client failed! err=%d", error);
    return static_cast<int>(error);
  }
  size_t count = MessageBytes(text);
  if (!client.Send(text.c_str(), count)) {
    uint32_t error = platform::GetLastError();
    DebugTraceW(5, kModule, __LINE__, u"pipe send failed!. err=%d", error);
    return static_cast<int>(error);
  }
  DebugTraceW(8, kModule, __LINE__, u"[KAVOClient] Send %s", text.c_str());
  return 0;
}

int KAVOClient::SendAndRecv(const std::u16string& text, CPipeServer& replyServer, int32_t requestId) {
  std::u16string replyName = ReplyPipeName(requestId);
  bool sent = PipeSendAndRecvW(text.c_str(), MessageBytes(text), replyName.c_str(), kServicePipe,
                               replyServer, m_replyLimitSeconds);
  if (!sent) DebugTraceW(5, kModule, __LINE__, u"PipeSendAndRecv Failed!");
  DebugTraceW(8, kModule, __LINE__, u"[KAVOClient] SendAndRecv %s", text.c_str());
  return sent ? 0 : -1;
}

int KAVOClient::Recv(CPipeServer& replyServer, std::u16string& reply) {
  std::string bytes;
  if (!replyServer.FetchCmd(bytes)) {
    DebugTraceW(5, kModule, __LINE__, u"PipeServer.FetchCmd Failed!");
    return -1;
  }
  reply = WideTextFromBytes(bytes);
  return 0;
}

int KAVOClient::Call(const CCmdProtocol& request, int32_t requestId, std::u16string& reply) {
  CPipeServer replyServer;
  if (SendAndRecv(request.GetText(), replyServer, requestId) != 0) return -1;
  return Recv(replyServer, reply);
}
