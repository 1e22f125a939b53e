#include "platform/text.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

namespace platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

// Decodes one code point at text[i], advancing i; malformed input yields U+FFFD.
char32_t DecodeUtf8(std::string_view text, size_t& i) {
  unsigned char lead = static_cast<unsigned char>(text[i++]);
  if (lead < 0x80) return lead;
  int extra = lead >= 0xF0 && lead < 0xF5 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 && lead < 0xE0 ? 1 : -1;
  if (extra < 0 || lead >= 0xF5) return kReplacement;
  char32_t cp = lead & (0x3F >> extra);
  for (int k = 0; k < extra; ++k) {
    if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return kReplacement;
    cp = (cp << 6) | (static_cast<unsigned char>(text[i++]) & 0x3F);
  }
  static constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMinimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return kReplacement;
  return cp;
}

template <typename CharT>
int FoldCase(CharT c) {
  return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : static_cast<int>(c);
}

template <typename CharT>
int CompareNoCaseImpl(std::basic_string_view<CharT> a, std::basic_string_view<CharT> b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int d = FoldCase(a[i]) - FoldCase(b[i]);
    if (d != 0) return d < 0 ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// The digits of text after blanks and an optional sign, as a 64-bit magnitude that stops
// growing once it passes every 32-bit value.
template <typename CharT>
uint64_t LeadingNumber(std::basic_string_view<CharT> text, bool& negative) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = std::min<uint64_t>(value * 10 + static_cast<uint64_t>(text[i] - '0'), uint64_t{1} << 40);
  }
  return value;
}

template <typename CharT>
int32_t ToInt(std::basic_string_view<CharT> text) {
  bool negative = false;
  uint64_t magnitude = LeadingNumber(text, negative);
  if (negative) return magnitude > uint64_t{1} << 31 ? INT32_MIN : static_cast<int32_t>(-static_cast<int64_t>(magnitude));
  return magnitude > INT32_MAX ? INT32_MAX : static_cast<int32_t>(magnitude);
}

// ---- printf-style formatting shared by the wide and narrow variants ----

template <typename CharT>
struct Sink {
  std::basic_string<CharT>& out;
  void Put(std::string_view ascii) { out.append(ascii.begin(), ascii.end()); }
};

template <typename CharT>
void AppendText(std::basic_string<CharT>& out, std::u16string_view wide);

template <>
void AppendText<char16_t>(std::u16string& out, std::u16string_view wide) { out.append(wide); }

template <>
void AppendText<char>(std::string& out, std::u16string_view wide) { out += Utf16ToUtf8(wide); }

template <typename CharT>
void AppendNarrow(std::basic_string<CharT>& out, std::string_view narrow);

template <>
void AppendNarrow<char16_t>(std::u16string& out, std::string_view narrow) { out += Utf8ToUtf16(narrow); }

template <>
void AppendNarrow<char>(std::string& out, std::string_view narrow) { out.append(narrow); }

struct Directive {
  std::string flags;
  int width = -1;
  int precision = -1;
  enum class Length { kNone, kChar, kShort, kLong, kLongLong, kSize, kMax, kPtrDiff, kLongDouble } length = Length::kNone;
  bool narrowText = false;  // h or S / C in a wide format, h in a narrow one
  bool wideText = false;    // l or S / C in a narrow format
};

template <typename CharT>
void Pad(std::basic_string<CharT>& out, size_t from, const Directive& directive) {
  size_t written = out.size() - from;
  if (directive.width < 0 || written >= static_cast<size_t>(directive.width)) return;
  size_t fill = static_cast<size_t>(directive.width) - written;
  if (directive.flags.find('-') != std::string::npos) {
    out.append(fill, CharT(' '));
  } else {
    out.insert(from, fill, CharT(' '));
  }
}

std::string PrintfDirective(const Directive& directive, const char* length, char conversion) {
  std::string s = "%" + directive.flags;
  if (directive.width >= 0) s += std::to_string(directive.width);
  if (directive.precision >= 0) s.append(".").append(std::to_string(directive.precision));
  s += length;
  s += conversion;
  return s;
}

template <typename... Args>
std::string FormatNumber(const std::string& directive, Args... value) {
  char small[128];
  int n = std::snprintf(small, sizeof(small), directive.c_str(), value...);
  if (n < 0) return {};
  if (static_cast<size_t>(n) < sizeof(small)) return std::string(small, static_cast<size_t>(n));
  std::string big(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(big.data(), big.size(), directive.c_str(), value...);
  big.resize(static_cast<size_t>(n));
  return big;
}

std::string FormatInteger(const Directive& directive, char conversion, va_list& args) {
  bool isSigned = conversion == 'd' || conversion == 'i';
  using L = Directive::Length;
  switch (directive.length) {
    case L::kLongLong:
    case L::kMax:
      return isSigned ? FormatNumber(PrintfDirective(directive, "ll", conversion), va_arg(args, long long))
                      : FormatNumber(PrintfDirective(directive, "ll", conversion), va_arg(args, unsigned long long));
    case L::kLong:
    case L::kSize:
    case L::kPtrDiff:
      return isSigned ? FormatNumber(PrintfDirective(directive, "l", conversion), va_arg(args, long))
                      : FormatNumber(PrintfDirective(directive, "l", conversion), va_arg(args, unsigned long));
    case L::kShort:
      return isSigned ? FormatNumber(PrintfDirective(directive, "h", conversion), va_arg(args, int))
                      : FormatNumber(PrintfDirective(directive, "h", conversion), va_arg(args, unsigned int));
    case L::kChar:
      return isSigned ? FormatNumber(PrintfDirective(directive, "hh", conversion), va_arg(args, int))
                      : FormatNumber(PrintfDirective(directive, "hh", conversion), va_arg(args, unsigned int));
    default:
      return isSigned ? FormatNumber(PrintfDirective(directive, "", conversion), va_arg(args, int))
                      : FormatNumber(PrintfDirective(directive, "", conversion), va_arg(args, unsigned int));
  }
}

template <typename CharT>
void FormatString(std::basic_string<CharT>& out, const Directive& directive, bool wide, va_list& args) {
  size_t from = out.size();
  if (wide) {
    const char16_t* text = va_arg(args, const char16_t*);
    if (text == nullptr) text = u"(null)";
    size_t length = WideLength(text);
    if (directive.precision >= 0) length = std::min(length, static_cast<size_t>(directive.precision));
    AppendText(out, std::u16string_view(text, length));
  } else {
    const char* text = va_arg(args, const char*);
    if (text == nullptr) text = "(null)";
    size_t length = std::strlen(text);
    if (directive.precision >= 0) length = std::min(length, static_cast<size_t>(directive.precision));
    AppendNarrow(out, std::string_view(text, length));
  }
  Pad(out, from, directive);
}

template <typename CharT>
void FormatChar(std::basic_string<CharT>& out, const Directive& directive, bool wide, va_list& args) {
  size_t from = out.size();
  int value = va_arg(args, int);
  if (wide) {
    char16_t c = static_cast<char16_t>(value);
    AppendText(out, std::u16string_view(&c, 1));
  } else {
    char c = static_cast<char>(value);
    AppendNarrow(out, std::string_view(&c, 1));
  }
  Pad(out, from, directive);
}

template <typename CharT>
int ReadNumber(const CharT*& p, va_list& args) {
  if (*p == '*') {
    ++p;
    return va_arg(args, int);
  }
  int value = 0;
  while (*p >= '0' && *p <= '9') value = std::min(value * 10 + (*p++ - '0'), 1 << 20);
  return value;
}

template <typename CharT>
void ParseLength(const CharT*& p, Directive& directive) {
  using L = Directive::Length;
  if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
    directive.length = L::kLongLong;
    p += 3;
  } else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') {
    p += 3;
  } else if (*p == 'I') {
    directive.length = L::kSize;
    ++p;
  } else if (*p == 'h') {
    directive.narrowText = true;
    directive.length = p[1] == 'h' ? L::kChar : L::kShort;
    p += p[1] == 'h' ? 2 : 1;
  } else if (*p == 'l') {
    directive.wideText = true;
    directive.length = p[1] == 'l' ? L::kLongLong : L::kLong;
    p += p[1] == 'l' ? 2 : 1;
  } else if (*p == 'z') {
    directive.length = L::kSize;
    ++p;
  } else if (*p == 'j') {
    directive.length = L::kMax;
    ++p;
  } else if (*p == 't') {
    directive.length = L::kPtrDiff;
    ++p;
  } else if (*p == 'L') {
    directive.length = L::kLongDouble;
    ++p;
  }
}

// A wide format's %s takes wide text and a narrow format's narrow text; S swaps; h and l force.
template <typename CharT>
bool TextIsWide(const Directive& directive, CharT conversion) {
  constexpr bool wideFormat = sizeof(CharT) == 2;
  bool swapped = conversion == 'S' || conversion == 'C';
  if (directive.narrowText) return false;
  if (directive.wideText) return true;
  return wideFormat != swapped;
}

template <typename CharT>
std::basic_string<CharT> FormatImpl(const CharT* format, va_list args) {
  std::basic_string<CharT> out;
  if (format == nullptr) return out;
  va_list ap;
  va_copy(ap, args);
  for (const CharT* p = format; *p != 0;) {
    if (*p != '%') {
      out += *p++;
      continue;
    }
    ++p;
    if (*p == '%') {
      out += *p++;
      continue;
    }
    Directive directive;
    while (*p == '-' || *p == '+' || *p == ' ' || *p == '#' || *p == '0') directive.flags += static_cast<char>(*p++);
    if (*p == '*' || (*p >= '0' && *p <= '9')) directive.width = ReadNumber(p, ap);
    if (directive.width < 0 && directive.width != -1) {
      directive.flags += '-';
      directive.width = -directive.width;
    }
    if (*p == '.') {
      ++p;
      directive.precision = ReadNumber(p, ap);
    }
    ParseLength(p, directive);
    CharT conversion = *p;
    if (conversion == 0) break;
    ++p;
    switch (conversion) {
      case 'd': case 'i': case 'u': case 'x': case 'X': case 'o':
        Sink<CharT>{out}.Put(FormatInteger(directive, static_cast<char>(conversion), ap));
        break;
      case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A':
        if (directive.length == Directive::Length::kLongDouble) {
          Sink<CharT>{out}.Put(FormatNumber(PrintfDirective(directive, "L", static_cast<char>(conversion)), va_arg(ap, long double)));
        } else {
          Sink<CharT>{out}.Put(FormatNumber(PrintfDirective(directive, "", static_cast<char>(conversion)), va_arg(ap, double)));
        }
        break;
      case 'p':
        Sink<CharT>{out}.Put(FormatNumber(PrintfDirective(directive, "", 'p'), va_arg(ap, void*)));
        break;
      case 's': case 'S':
        FormatString(out, directive, TextIsWide(directive, conversion), ap);
        break;
      case 'c': case 'C':
        FormatChar(out, directive, TextIsWide(directive, conversion), ap);
        break;
      case 'n':
        (void)va_arg(ap, void*);  // never written: a format must not store through an argument
        break;
      default:
        out += conversion;
        break;
    }
  }
  va_end(ap);
  return out;
}

template <typename CharT>
size_t CopyOut(CharT* dest, size_t size, const std::basic_string<CharT>& text) {
  return CopyBounded(dest, size, std::basic_string_view<CharT>(text));
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) AppendUtf16(out, DecodeUtf8(text, i));
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t unit = text[i];
    if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[++i] - 0xDC00));
    } else if (unit >= 0xD800 && unit < 0xE000) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

size_t WideLength(const char16_t* text) { return std::char_traits<char16_t>::length(text); }

size_t CopyBounded(char16_t* dest, size_t size, std::u16string_view source) {
  if (size == 0) return 0;
  size_t n = std::min(source.size(), size - 1);
  std::copy_n(source.data(), n, dest);
  dest[n] = 0;
  return n;
}

size_t CopyBounded(char* dest, size_t size, std::string_view source) {
  if (size == 0) return 0;
  size_t n = std::min(source.size(), size - 1);
  std::copy_n(source.data(), n, dest);
  dest[n] = 0;
  return n;
}

int CompareNoCase(std::u16string_view a, std::u16string_view b) { return CompareNoCaseImpl(a, b); }
int CompareNoCase(std::string_view a, std::string_view b) { return CompareNoCaseImpl(a, b); }
bool EqualsNoCase(std::u16string_view a, std::u16string_view b) { return CompareNoCaseImpl(a, b) == 0; }
bool EqualsNoCase(std::string_view a, std::string_view b) { return CompareNoCaseImpl(a, b) == 0; }

int32_t WideToInt(std::u16string_view text) { return ToInt(text); }
int32_t TextToInt(std::string_view text) { return ToInt(text); }

uint32_t WideToULong(std::u16string_view text) {
  bool negative = false;
  uint64_t magnitude = LeadingNumber(text, negative);
  if (magnitude > UINT32_MAX) return UINT32_MAX;
  uint32_t value = static_cast<uint32_t>(magnitude);
  return negative ? 0u - value : value;
}

size_t FormatWV(char16_t* dest, size_t size, const char16_t* format, va_list args) {
  return CopyOut(dest, size, FormatImpl(format, args));
}

size_t FormatW(char16_t* dest, size_t size, const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  size_t n = FormatWV(dest, size, format, args);
  va_end(args);
  return n;
}

size_t FormatAV(char* dest, size_t size, const char* format, va_list args) {
  return CopyOut(dest, size, FormatImpl(format, args));
}

size_t FormatA(char* dest, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  size_t n = FormatAV(dest, size, format, args);
  va_end(args);
  return n;
}

std::u16string StringFormatW(const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::u16string out = FormatImpl(format, args);
  va_end(args);
  return out;
}

std::string StringFormatA(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = FormatImpl(format, args);
  va_end(args);
  return out;
}

}  // namespace platform
