// Wide text is UTF-16 (char16_t) and narrow text UTF-8, the system code page here. Limits that
// count characters count UTF-16 units.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Invalid input is replaced by U+FFFD, never read past.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// Length of a zero-terminated wide text.
size_t WideLength(const char16_t* text);

// Copies at most size - 1 units of source and terminates; with size 0 nothing is written.
// Answers the number of units copied.
size_t CopyBounded(char16_t* dest, size_t size, std::u16string_view source);
size_t CopyBounded(char* dest, size_t size, std::string_view source);

// Case-insensitive comparison (ASCII letters fold; other units compare as they are).
int CompareNoCase(std::u16string_view a, std::u16string_view b);
int CompareNoCase(std::string_view a, std::string_view b);
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);
bool EqualsNoCase(std::string_view a, std::string_view b);

// The C runtime's conversions as the Windows one behaves: leading blanks skipped, optional sign,
// decimal digits up to the first other character, 0 when there are none. WideToInt saturates at
// the 32-bit limits; WideToULong wraps like a 32-bit unsigned long, so "-1" is 4294967295.
int32_t WideToInt(std::u16string_view text);
uint32_t WideToULong(std::u16string_view text);
int32_t TextToInt(std::string_view text);

// printf-style formatting into a bounded buffer, cut at size - 1 units and always terminated
// (nothing is written when size is 0). Answers the number of units written, without the
// terminator. Wide formats follow the Windows rules: %s and %ls take a char16_t text, %S and %hs
// a narrow text; %c takes a wide character, %C a narrow one. Narrow formats take %s as narrow
// and %S or %ls as wide text. Lengths h, l, ll, z, j, t, I64 and I32 are understood; "(null)"
// stands for an absent text.
size_t FormatW(char16_t* dest, size_t size, const char16_t* format, ...);
size_t FormatWV(char16_t* dest, size_t size, const char16_t* format, va_list args);
size_t FormatA(char* dest, size_t size, const char* format, ...);
size_t FormatAV(char* dest, size_t size, const char* format, va_list args);

// Unbounded variants for building whole texts.
std::u16string StringFormatW(const char16_t* format, ...);
std::string StringFormatA(const char* format, ...);

}  // namespace platform
