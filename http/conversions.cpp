// Text conversions between the code page, UTF-8 and UTF-16, each into a block the caller frees.
#include "http/conversions.h"

#include <cstring>

#include "platform/memory.h"
#include "platform/routes.h"
#include "platform/scoped.h"
#include "platform/text.h"

namespace {

// States of the UTF-8 decoder: 10 between sequences; 20 inside a two-byte form;
// 30/31 inside a three-byte form; 40/41/42 inside a four-byte form.
constexpr int kStart = 10;
constexpr int kSecondOfTwo = 20;
constexpr int kSecondOfThree = 30;
constexpr int kThirdOfThree = 31;
constexpr int kSecondOfFour = 40;
constexpr int kThirdOfFour = 41;
constexpr int kFourthOfFour = 42;

constexpr WCHAR kReplacement = 0xFFFD;

bool IsContinuation(unsigned byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

int AnsiToWide(LPCSTR source, LPWSTR* result) {
  const SIZE_T n = std::strlen(source);
  const SIZE_T capacity = 2 * n + 1;
  auto wide = platform::LocalAllocArray<WCHAR>(capacity);
  if (!wide) return kConversionNoMemory;
  MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, source, -1, wide.get(), static_cast<int>(capacity));
  *result = wide.release();
  return kConversionOk;
}

int WideToAnsi(LPCWSTR source, LPSTR* result) {
  const SIZE_T n = wcslen(source);
  const SIZE_T capacity = 2 * n + 1;
  auto bytes = platform::LocalAllocArray<char>(capacity);
  if (!bytes) return kConversionNoMemory;
  // Code page 932 writes at most two bytes a unit, so the text and its terminator fit; a
  // conversion that fails writes nothing and leaves the empty text.
  bytes[0] = '\0';
  const int size = static_cast<int>(capacity);
  WideCharToMultiByte(CP_ACP, WC_COMPOSITECHECK, source, -1, bytes.get(), size, nullptr, nullptr);
  *result = bytes.release();
  return kConversionOk;
}

int Utf8ToWide(LPCSTR source, LPWSTR* result) {
  const SIZE_T n = std::strlen(source);
  auto wide = platform::LocalAllocArray<WCHAR>(2 * n + 1);
  if (!wide) return kConversionNoMemory;

  const auto* in = reinterpret_cast<const unsigned char*>(source);
  WCHAR* out = wide.get();
  int state = kStart;
  unsigned lead = 0;
  unsigned first = 0;
  unsigned second = 0;
  for (SIZE_T i = 0; i < n; ++i) {
    const unsigned byte = in[i];
    if (state != kStart && !IsContinuation(byte)) {
      // The open sequence is ill-formed and dropped; the byte that broke it starts afresh,
      // so that no well-formed character (a comma, a '<') is lost with it.
      state = kStart;
    }
    switch (state) {
      case kStart:
        if (byte < 0x80) {
          *out++ = static_cast<WCHAR>(byte);
        } else if (byte >= 0xC0 && byte <= 0xDF) {
          lead = byte;
          state = kSecondOfTwo;
        } else if (byte >= 0xE0 && byte <= 0xEF) {
          lead = byte;
          state = kSecondOfThree;
        } else if (byte >= 0xF0 && byte <= 0xF7) {
          lead = byte;
          state = kSecondOfFour;
        }
        // 0x80 to 0xBF and 0xF8 to 0xFF are dropped.
        break;
      case kSecondOfTwo:
        *out++ = static_cast<WCHAR>(((lead & 0x1F) << 6) | (byte & 0x3F));
        state = kStart;
        break;
      case kSecondOfThree:
        first = byte;
        state = kThirdOfThree;
        break;
      case kThirdOfThree:
        *out++ = static_cast<WCHAR>(((lead & 0x0F) << 12) | ((first & 0x3F) << 6) | (byte & 0x3F));
        state = kStart;
        break;
      case kSecondOfFour:
        first = byte;
        state = kThirdOfFour;
        break;
      case kThirdOfFour:
        second = byte;
        state = kFourthOfFour;
        break;
      case kFourthOfFour: {
        const unsigned u = ((lead & 0x07) << 18) | ((first & 0x3F) << 12) |
                           ((second & 0x3F) << 6) | (byte & 0x3F);
        if (u >= 0x10000 && u <= 0x10FFFF) {
          *out++ = static_cast<WCHAR>(0xD800 + ((u - 0x10000) >> 10));
          *out++ = static_cast<WCHAR>(0xDC00 + ((u - 0x10000) & 0x3FF));
        } else {
          *out++ = kReplacement;
        }
        state = kStart;
        break;
      }
    }
  }
  // A sequence still open at the end is dropped.
  *out = 0;
  *result = wide.release();
  return kConversionOk;
}

int WideToUtf8(LPCWSTR source, LPSTR* result) {
  const SIZE_T n = wcslen(source);
  auto bytes = platform::LocalAllocArray<char>(3 * n + 1);
  if (!bytes) return kConversionNoMemory;

  auto* out = reinterpret_cast<unsigned char*>(bytes.get());
  for (SIZE_T i = 0; i < n; ++i) {
    const unsigned u = source[i];
    if (u < 0x80) {
      *out++ = static_cast<unsigned char>(u);
    } else if (u < 0x800) {
      *out++ = static_cast<unsigned char>(0xC0 | (u >> 6));
      *out++ = static_cast<unsigned char>(0x80 | (u & 0x3F));
    } else {
      *out++ = static_cast<unsigned char>(0xE0 | (u >> 12));
      *out++ = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
      *out++ = static_cast<unsigned char>(0x80 | (u & 0x3F));
    }
  }
  *out = 0;
  *result = bytes.release();
  return kConversionOk;
}
