// The test helpers that are the same on both sides: UTF-8 <-> UTF-16 and the
// build's paths.
#include "tests/support/test_support.h"

namespace zemlik::testing {

WString Utf16(const std::string& utf8) {
  WString out;
  size_t i = 0;
  while (i < utf8.size()) {
    const unsigned char lead = static_cast<unsigned char>(utf8[i]);
    char32_t cp = 0xFFFD;
    size_t length = 1;
    if (lead < 0x80) {
      cp = lead;
    } else if (lead >= 0xC2 && lead < 0xF5) {
      const size_t need = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
      char32_t value = lead & (need == 2 ? 0x1F : need == 3 ? 0x0F : 0x07);
      size_t k = 1;
      for (; k < need && i + k < utf8.size(); ++k) {
        const unsigned char c = static_cast<unsigned char>(utf8[i + k]);
        if ((c & 0xC0) != 0x80) break;
        value = (value << 6) | (c & 0x3F);
      }
      const bool overlong = (need == 3 && value < 0x800) || (need == 4 && value < 0x10000);
      if (k == need && !overlong && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF)) {
        cp = value;
        length = need;
      }
    }
    if (cp >= 0x10000) {
      out.push_back(static_cast<WCHAR>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<WCHAR>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<WCHAR>(cp));
    }
    i += length;
  }
  return out;
}

std::string Utf8(const WString& utf16) {
  std::string out;
  for (size_t i = 0; i < utf16.size(); ++i) {
    char32_t cp = utf16[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

bool IsFailureReport(const std::string& err) {
#if defined(_WIN32)
  return err.empty();
#else
  return err.rfind("zemlik: ", 0) == 0 && err.find('\n') == err.size() - 1;
#endif
}

std::string ZemlikBinary() { return ZEMLIK_BINARY; }
std::string SourceDir() { return ZEMLIK_SOURCE_DIR; }

}  // namespace zemlik::testing
