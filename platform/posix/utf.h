// UTF-8 <-> UTF-16 for the layer's own use: paths, console output, arguments.
// Internal to platform/posix (any file there may use it); the program itself
// converts through text.h.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Decodes the well-formed UTF-8 sequence at the start of s[0..n) into
// *codePoint and returns its length (1-4), or 0 when s does not start with one
// (stray trail byte, cut sequence, overlong form, surrogate, beyond U+10FFFF).
std::size_t DecodeUtf8(const unsigned char* s, std::size_t n, char32_t* codePoint);

// Appends the UTF-8 form of one code point (at most U+10FFFF) to *out.
void AppendUtf8(char32_t codePoint, std::string* out);

// Each byte that starts no well-formed sequence becomes U+FFFD, and decoding
// resumes at the next byte.
std::u16string Utf8ToUtf16(std::string_view utf8);

// An unpaired surrogate becomes U+FFFD. The second form reads up to the
// terminator; null gives the empty text.
std::string Utf16ToUtf8(const char16_t* s, std::size_t n);
std::string Utf16ToUtf8(const char16_t* s);

}  // namespace platform
