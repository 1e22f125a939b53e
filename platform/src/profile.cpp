#include "platform/profile.h"

#include <sys/stat.h>

#include <optional>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "platform/file_rewrite.h"
#include "platform/text.h"

namespace platform {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

// One line of the file as it stands, with what it means. Lines are kept byte for byte so that a
// write changes nothing but the line it is about.
struct ProfileLine {
  enum class Kind { Other, Section, Key };
  std::string raw;  // without the '\n', with a '\r' when the file has one
  Kind kind = Kind::Other;
  std::string name;   // section or key name, trimmed
  std::string value;  // key value, trimmed
};

ProfileLine ClassifyLine(std::string raw) {
  ProfileLine line;
  line.raw = std::move(raw);
  std::string_view text = Trim(line.raw);
  if (text.empty() || text.front() == ';') return line;
  if (text.front() == '[') {
    size_t close = text.rfind(']');
    if (close == std::string_view::npos) return line;
    line.kind = ProfileLine::Kind::Section;
    line.name = Trim(text.substr(1, close - 1));
    return line;
  }
  size_t equals = text.find('=');
  if (equals == std::string_view::npos) return line;
  line.kind = ProfileLine::Kind::Key;
  line.name = Trim(text.substr(0, equals));
  line.value = Trim(text.substr(equals + 1));
  return line;
}

class ProfileDocument {
 public:
  explicit ProfileDocument(std::string_view text) {
    m_crlf = text.find("\r\n") != std::string_view::npos;
    while (!text.empty()) {
      size_t end = text.find('\n');
      m_lines.push_back(ClassifyLine(std::string(text.substr(0, end))));
      if (end == std::string_view::npos) {
        if (m_lines.back().raw.empty() || m_lines.back().raw.back() != '\r') m_unterminatedLine = m_lines.size() - 1;
        break;
      }
      text.remove_prefix(end + 1);
    }
  }
  // Every line ends with a line break: a last line that had none gets one in the file's own
  // style, since lines may now follow it.
  std::string Text() const {
    std::string text;
    for (size_t i = 0; i < m_lines.size(); ++i) {
      text += m_lines[i].raw;
      if (m_crlf && i == m_unterminatedLine) text += '\r';
      text += '\n';
    }
    return text;
  }

  // Names of the sections, first occurrence of each.
  std::vector<std::string> SectionNames() const {
    std::vector<std::string> names;
    for (size_t i = 0; i < m_lines.size(); ++i) {
      if (m_lines[i].kind == ProfileLine::Kind::Section && FindSection(m_lines[i].name) == i) {
        names.push_back(m_lines[i].name);
      }
    }
    return names;
  }

  std::vector<std::string> KeyNames(std::string_view section) const {
    std::vector<std::string> names;
    size_t end = 0;
    for (size_t i = SectionBody(section, &end); i < end; ++i) {
      if (m_lines[i].kind == ProfileLine::Kind::Key) names.emplace_back(m_lines[i].name);
    }
    return names;
  }

  std::optional<std::string> Value(std::string_view section, std::string_view key) const {
    size_t end = 0;
    size_t index = FindKey(section, key, &end);
    if (index == kNone) return std::nullopt;
    return m_lines[index].value;
  }

  void SetValue(std::string_view section, std::string_view key, std::string_view value) {
    size_t end = 0;
    size_t index = FindKey(section, key, &end);
    if (index != kNone) {
      Replace(index, m_lines[index].name + "=" + std::string(value));
      return;
    }
    if (FindSection(section) == kNone) {
      if (!m_lines.empty() && !Trim(m_lines.back().raw).empty()) Insert(m_lines.size(), "");
      Insert(m_lines.size(), std::string("[").append(section).append("]"));
      end = m_lines.size();
    }
    // After the section's last non-blank line, so that a blank line before the next section stays.
    size_t start = FindSection(section) + 1;
    while (end > start && Trim(m_lines[end - 1].raw).empty()) --end;
    Insert(end, std::string(key) + "=" + std::string(value));
  }

  bool DeleteKey(std::string_view section, std::string_view key) {
    size_t end = 0;
    size_t index = FindKey(section, key, &end);
    if (index == kNone) return false;
    Erase(index, index + 1);
    return true;
  }

  bool DeleteSection(std::string_view section) {
    size_t header = FindSection(section);
    if (header == kNone) return false;
    size_t end = 0;
    SectionBody(section, &end);
    Erase(header, end);
    return true;
  }

 private:
  static constexpr size_t kNone = static_cast<size_t>(-1);

  size_t FindSection(std::string_view section) const {
    for (size_t i = 0; i < m_lines.size(); ++i) {
      if (m_lines[i].kind == ProfileLine::Kind::Section && EqualsNoCase(m_lines[i].name, section)) return i;
    }
    return kNone;
  }

  // The index of the section's first line after its header; *end receives the index of the next
  // section header (or the line count). An absent section is an empty range.
  size_t SectionBody(std::string_view section, size_t* end) const {
    size_t header = FindSection(section);
    if (header == kNone) {
      *end = 0;
      return 0;
    }
    size_t i = header + 1;
    while (i < m_lines.size() && m_lines[i].kind != ProfileLine::Kind::Section) ++i;
    *end = i;
    return header + 1;
  }

  size_t FindKey(std::string_view section, std::string_view key, size_t* end) const {
    for (size_t i = SectionBody(section, end); i < *end; ++i) {
      if (m_lines[i].kind == ProfileLine::Kind::Key && EqualsNoCase(m_lines[i].name, key)) return i;
    }
    return kNone;
  }

  void Insert(size_t index, std::string raw) {
    if (m_unterminatedLine != kNone && index <= m_unterminatedLine) ++m_unterminatedLine;
    if (m_crlf) raw += '\r';
    m_lines.insert(m_lines.begin() + static_cast<ptrdiff_t>(index), ClassifyLine(std::move(raw)));
  }

  void Replace(size_t index, std::string raw) {
    if (m_crlf) raw += '\r';
    m_lines[index] = ClassifyLine(std::move(raw));
  }

  void Erase(size_t first, size_t last) {
    if (m_unterminatedLine != kNone) {
      if (m_unterminatedLine >= last) {
        m_unterminatedLine -= last - first;
      } else if (m_unterminatedLine >= first) {
        m_unterminatedLine = kNone;
      }
    }
    m_lines.erase(m_lines.begin() + static_cast<ptrdiff_t>(first), m_lines.begin() + static_cast<ptrdiff_t>(last));
  }

  std::vector<ProfileLine> m_lines;
  bool m_crlf = false;
  size_t m_unterminatedLine = kNone;  // the last line, when the file did not end with a break
};

std::string ReadProfile(const std::string& fileName) {
  std::string text;
  ReadWholeFile(fileName, &text);  // a file that cannot be read reads as defaults
  return text;
}

// What a get call answers before it is cut to the caller's buffer: one value, or a list of
// names (sections or keys) that goes out as zero-separated texts.
struct ProfileAnswer {
  bool isList = false;
  std::string value;
  std::vector<std::string> names;
};

ProfileAnswer DefaultAnswer(const char* defaultValue) {
  std::string_view fallback = defaultValue ? std::string_view(defaultValue) : std::string_view();
  while (!fallback.empty() && fallback.back() == ' ') fallback.remove_suffix(1);
  return ProfileAnswer{false, std::string(fallback), {}};
}

ProfileAnswer LookUp(const char* section, const char* key, const char* defaultValue, const char* fileName) {
  if (fileName == nullptr) return DefaultAnswer(defaultValue);
  ProfileDocument document(ReadProfile(fileName));
  ProfileAnswer answer;
  if (section == nullptr) {
    answer.isList = true;
    answer.names = document.SectionNames();
    return answer;
  }
  if (key == nullptr) {
    answer.isList = true;
    answer.names = document.KeyNames(section);
    return answer;
  }
  if (std::optional<std::string> value = document.Value(section, key)) {
    std::string_view text = *value;
    // A value enclosed in matching quotes loses them.
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front()) {
      text = text.substr(1, text.size() - 2);
    }
    answer.value.assign(text);
    return answer;
  }
  return DefaultAnswer(defaultValue);
}

template <typename Char>
std::basic_string<Char> Convert(const std::string& text) {
  if constexpr (std::is_same_v<Char, char>) {
    return text;
  } else {
    return Utf8ToUtf16(text);
  }
}

// Cuts like Windows: a value to size - 1 characters; a list so that the last text is cut and
// followed by two terminators, answering size - 2.
template <typename Char>
uint32_t CopyAnswer(const ProfileAnswer& answer, Char* buffer, uint32_t size) {
  if (buffer == nullptr || size == 0) return 0;
  if (!answer.isList) return static_cast<uint32_t>(CopyBounded(buffer, size, Convert<Char>(answer.value)));
  std::basic_string<Char> list;
  for (const std::string& name : answer.names) {
    list += Convert<Char>(name);
    list.push_back(Char(0));
  }
  if (list.size() + 1 <= size) {
    std::copy(list.begin(), list.end(), buffer);
    buffer[list.size()] = Char(0);
    return static_cast<uint32_t>(list.size());
  }
  if (size < 2) {
    buffer[0] = Char(0);
    return 0;
  }
  std::copy(list.begin(), list.begin() + (size - 2), buffer);
  buffer[size - 2] = Char(0);
  buffer[size - 1] = Char(0);
  return size - 2;
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

// Refuses what would change other lines: line breaks anywhere, and key names that would read
// back as something else.
bool IsWritable(const char* section, const char* key, const char* value) {
  if (HasLineBreak(section)) return false;
  if (key != nullptr) {
    std::string_view name = Trim(key);
    if (name.empty() || name != key || HasLineBreak(key) || name.find('=') != std::string_view::npos ||
        name.front() == '[' || name.front() == ';') {
      return false;
    }
  }
  return value == nullptr || !HasLineBreak(value);
}

bool FileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

bool Fail(uint32_t error) {
  SetLastError(error);
  return false;
}

bool WriteProfile(const char* section, const char* key, const char* value, const std::string& fileName) {
  if (section == nullptr) {
    // All three null asks Windows to flush its cache; there is none here.
    return key == nullptr && value == nullptr ? true : Fail(ERROR_INVALID_PARAMETER);
  }
  if (!IsWritable(section, key, value)) return Fail(ERROR_INVALID_PARAMETER);
  bool deleting = key == nullptr || value == nullptr;
  if (deleting && !FileExists(fileName)) return true;
  FileRewrite rewrite;
  uint32_t error = rewrite.Lock(fileName);
  if (error != ERROR_SUCCESS) return Fail(error);
  ProfileDocument document(rewrite.Content());
  if (key == nullptr) {
    if (!document.DeleteSection(section)) return true;
  } else if (value == nullptr) {
    if (!document.DeleteKey(section, key)) return true;
  } else {
    std::optional<std::string> old = document.Value(section, key);
    if (old && *old == value) return true;
    document.SetValue(section, key, value);
  }
  error = rewrite.Replace(document.Text());
  return error == ERROR_SUCCESS ? true : Fail(error);
}

// Wide arguments as narrow ones, keeping null as null.
class NarrowArg {
 public:
  explicit NarrowArg(const char16_t* text) : m_null(text == nullptr), m_text(text ? Utf16ToUtf8(text) : "") {}
  const char* Get() const { return m_null ? nullptr : m_text.c_str(); }

 private:
  bool m_null;
  std::string m_text;
};

}  // namespace

uint32_t GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue, char* buffer,
                                  uint32_t size, const char* fileName) {
  return CopyAnswer(LookUp(section, key, defaultValue, fileName), buffer, size);
}

uint32_t GetPrivateProfileStringW(const char16_t* section, const char16_t* key, const char16_t* defaultValue,
                                  char16_t* buffer, uint32_t size, const char16_t* fileName) {
  NarrowArg narrowSection(section), narrowKey(key), narrowDefault(defaultValue), narrowFile(fileName);
  return CopyAnswer(LookUp(narrowSection.Get(), narrowKey.Get(), narrowDefault.Get(), narrowFile.Get()), buffer,
                    size);
}

int32_t GetPrivateProfileIntA(const char* section, const char* key, int32_t defaultValue, const char* fileName) {
  if (section == nullptr || key == nullptr) return defaultValue;
  ProfileAnswer answer = LookUp(section, key, "", fileName);
  return answer.value.empty() ? defaultValue : TextToInt(answer.value);
}

int32_t GetPrivateProfileIntW(const char16_t* section, const char16_t* key, int32_t defaultValue,
                              const char16_t* fileName) {
  NarrowArg narrowSection(section), narrowKey(key), narrowFile(fileName);
  return GetPrivateProfileIntA(narrowSection.Get(), narrowKey.Get(), defaultValue, narrowFile.Get());
}

bool WritePrivateProfileStringA(const char* section, const char* key, const char* value, const char* fileName) {
  if (fileName == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  return WriteProfile(section, key, value, fileName);
}

bool WritePrivateProfileStringW(const char16_t* section, const char16_t* key, const char16_t* value,
                                const char16_t* fileName) {
  NarrowArg narrowSection(section), narrowKey(key), narrowValue(value), narrowFile(fileName);
  return WritePrivateProfileStringA(narrowSection.Get(), narrowKey.Get(), narrowValue.Get(), narrowFile.Get());
}

}  // namespace platform
