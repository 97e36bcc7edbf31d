// The four text conversions: the program's own UTF-8 coder both ways, and code page 932
// through the platform.
#include "http/conversions.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/memory.h"
#include "platform/scoped.h"
#include "tests/support/testing.h"

namespace zemlik::test {
namespace {

WString Decode(int (*decoder)(LPCSTR, LPWSTR*), const std::string& bytes) {
  LPWSTR out = nullptr;
  EXPECT_EQ(decoder(bytes.c_str(), &out), 0);
  platform::LocalPtr<WCHAR> owned(out);
  return WString(out);
}

std::string Encode(int (*encoder)(LPCWSTR, LPSTR*), const WString& text) {
  LPSTR out = nullptr;
  EXPECT_EQ(encoder(text.c_str(), &out), 0);
  platform::LocalPtr<char> owned(out);
  return std::string(out);
}

TEST(Utf8ToWide, EveryStateOfTheDecoder) {
  const std::pair<std::string, WString> rows[] = {
      {"", TEXT("")},
      {"\x41\xC3\xA9\xE3\x81\x82", TEXT("\u0041\u00e9\u3042")},
      {"\xF0\x9F\x98\x80\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", TEXT("\U0001F600\U00010000\U0010FFFF")},
      // A lead cut short loses the byte that broke it; stray bytes are dropped.
      {"\xC3\x41\x42", TEXT("B")},
      {"a\x80\x62\xBF\x63\xF8\xFF\x64", TEXT("abcd")},
      {"x\xE3\x81", TEXT("x")},
      {"x\xF0\x9F\x98", TEXT("x")},
      // No other checks: overlong forms and encoded surrogates pass.
      {"\xE0\x80\xAF", TEXT("/")},
      {"\xED\xA0\xBD\x61", WString(1, static_cast<WCHAR>(0xD83D)) + TEXT("a")},
      // Four-byte forms outside U+10000..U+10FFFF give one replacement each.
      {"a\xF0\x8F\xBF\xBF\x62\xF4\x90\x80\x80\xF5\x80\x80\x80", TEXT("a\uFFFDb\uFFFD\uFFFD")},
  };
  for (const auto& [bytes, text] : rows) {
    EXPECT_EQ(Decode(Utf8ToWide, bytes), text) << ::testing::PrintToString(bytes);
  }
  // Each open state broken by an ASCII byte and by a lead.
  for (const char* open : {"\xC3", "\xE3", "\xE3\x81", "\xF0", "\xF0\x9F", "\xF0\x9F\x98"}) {
    EXPECT_EQ(Decode(Utf8ToWide, std::string("[") + open + "ab]"), TEXT("[b]"));
    EXPECT_EQ(Decode(Utf8ToWide, std::string("[") + open + "\xC3\xA9]"), TEXT("[]"));
  }
  EXPECT_EQ(Decode(Utf8ToWide, "\xC0\x80\x61"), TEXT(""));  // an overlong zero ends the text
}

TEST(WideToUtf8, EachUnitOnItsOwnInAtMostThreeBytes) {
  EXPECT_EQ(Encode(WideToUtf8, TEXT("A\x7F\x80\u00E9\u07FF\u0800\u3042\uFFFF")),
            "A\x7F\xC2\x80\xC3\xA9\xDF\xBF\xE0\xA0\x80\xE3\x81\x82\xEF\xBF\xBF");
  EXPECT_EQ(Encode(WideToUtf8, TEXT("\U0001F600")), "\xED\xA0\xBD\xED\xB8\x80");
  // Every unit comes back through the decoder, lone and reversed surrogates included.
  WString all;
  for (unsigned u = 1; u <= 0xFFFF; ++u) all.push_back(static_cast<WCHAR>(u));
  all += {static_cast<WCHAR>(0xDC00), static_cast<WCHAR>(0xD800)};
  const std::string encoded = Encode(WideToUtf8, all);
  EXPECT_EQ(Decode(Utf8ToWide, encoded), all);
  EXPECT_EQ(encoded.size(), 0x7F + 2 * (0x7FF - 0x7F) + 3 * (0xFFFF - 0x7FF + 2));
}

TEST(CodePage932, BothWaysThroughThePlatform) {
  EXPECT_EQ(Decode(AnsiToWide, "\x82\xA0\x5C\x81\x60\xB1\x61"), TEXT("\u3042\\\uFF5E\uFF71a"));
#if defined(_WIN32)
  EXPECT_EQ(Decode(AnsiToWide, "a\xA0\x62"), TEXT("a\uF8F0b"));  // the system's table maps it
#else
  EXPECT_EQ(Decode(AnsiToWide, "a\xA0\x62"), TEXT("a\u30FBb"));  // glibc finds it invalid
#endif
  EXPECT_EQ(Encode(WideToAnsi, TEXT("\u3042\\\uFF5E\uFF71a\u304B\u3099e\u00E9")),
            "\x82\xA0\x5C\x81\x60\xB1\x61\x82\xAA\x65?");
  // The result's room is two bytes a character, which full-width text fills.
  EXPECT_EQ(Encode(WideToAnsi, TEXT("件を表示します。\u3000\uFFE5")),
            "\x8C\x8F\x82\xF0\x95\x5C\x8E\xA6\x82\xB5\x82\xDC\x82\xB7\x81\x42\x81\x40\x81\x8F");
}

TEST(Conversions, NoMemoryGives103AndLeavesTheResultAlone) {
  for (int kind = 0; kind < 4; ++kind) {
    LPWSTR wide = reinterpret_cast<LPWSTR>(&kind);
    LPSTR bytes = reinterpret_cast<LPSTR>(&kind);
    platform::ResetAllocationCountForTesting();
    platform::SetAllocationFailureForTesting(1);
    const int result = kind == 0   ? AnsiToWide("abc", &wide)
                       : kind == 1 ? Utf8ToWide("abc", &wide)
                       : kind == 2 ? WideToAnsi(TEXT("abc"), &bytes)
                                   : WideToUtf8(TEXT("abc"), &bytes);
    platform::SetAllocationFailureForTesting(0);
    EXPECT_EQ(result, -103);
    EXPECT_EQ(static_cast<void*>(wide), static_cast<void*>(&kind));
    EXPECT_EQ(static_cast<void*>(bytes), static_cast<void*>(&kind));
  }
}

}  // namespace
}  // namespace zemlik::test
