// The four text conversions: the program's own UTF-8 coder both ways, and code page 932
// through the platform.
#include "http/conversions.h"

#include <gtest/gtest.h>

#include <string>
#include <type_traits>

#include "platform/memory.h"
#include "platform/scoped.h"
#include "tests/support/testing.h"

namespace zemlik::test {
namespace {

// `convert` of `in`; first without memory, which fails and leaves the result alone.
template <class From, class To>
std::basic_string<To> Convert(int (*convert)(const From*, To**),
                              const std::type_identity_t<std::basic_string<From>>& in) {
  To* out = reinterpret_cast<To*>(&out);
  platform::ResetAllocationCountForTesting();
  platform::SetAllocationFailureForTesting(1);
  const int failed = convert(in.c_str(), &out);
  platform::SetAllocationFailureForTesting(0);
  EXPECT_TRUE(failed == kConversionNoMemory && out == reinterpret_cast<To*>(&out))
      << testing::PrintToString(in);
  EXPECT_EQ(convert(in.c_str(), &out), kConversionOk) << testing::PrintToString(in);
  platform::LocalPtr<To> owned(out);
  return out;
}

TEST(Utf8, TheDecoderInEachStateAndTheEncoderUnitByUnit) {
  const std::pair<std::string, WString> rows[] = {
      {"", TEXT("")},
      {"a\x80\x62\xBF\x63\xF8\xFF\x64", TEXT("abcd")},  // stray bytes are dropped
      // No other checks: overlong forms and encoded surrogates pass; an overlong zero ends it.
      {"\xE0\x80\xAF", TEXT("/")},
      {"\xED\xA0\xBD\x61", WString(1, static_cast<WCHAR>(0xD83D)) + TEXT("a")},
      {"\xC0\x80\x61", TEXT("")},
      // Four-byte forms give a surrogate pair, or one replacement outside U+10000..U+10FFFF.
      {"\xF0\x9F\x98\x80\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", TEXT("\U0001F600\U00010000\U0010FFFF")},
      {"a\xF0\x8F\xBF\xBF\x62\xF4\x90\x80\x80\xF5\x80\x80\x80", TEXT("a\uFFFDb\uFFFD\uFFFD")},
  };
  for (const auto& [bytes, text] : rows)
    EXPECT_EQ(Convert(Utf8ToWide, bytes), text) << ::testing::PrintToString(bytes);
  // Each open state broken by a comma, a '<' and a lead, which are read again, and by the end:
  // only the broken sequence is lost, so a Latin-1 "café,2" keeps its comma.
  for (const std::string open : {"\xC3", "\xE3", "\xE3\x81", "\xF0", "\xF0\x9F", "\xF0\x9F\x98"})
    EXPECT_EQ(Convert(Utf8ToWide, "(" + open + "," + open + "<" + open + "\xC3\xA9)" + open),
              TEXT("(,<\u00E9)"))
        << ::testing::PrintToString(open);
  EXPECT_EQ(Convert(WideToUtf8, TEXT("A\x7F\x80\u00E9\u07FF\u0800\uFFFF\U0001F600")),
            "A\x7F\xC2\x80\xC3\xA9\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xED\xA0\xBD\xED\xB8\x80");
  WString all = {0xDC00, 0xD800};  // reversed surrogates, then every unit
  for (unsigned u = 1; u <= 0xFFFF; ++u) all.push_back(static_cast<WCHAR>(u));
  const std::string encoded = Convert(WideToUtf8, all);
  EXPECT_EQ(Convert(Utf8ToWide, encoded), all);  // each comes back through the decoder
  EXPECT_EQ(encoded.size(), 0x7F + 2 * (0x7FF - 0x7F) + 3 * (0xFFFF - 0x7FF + 2));
}

TEST(CodePage932, BothWaysThroughThePlatform) {
  EXPECT_EQ(Convert(AnsiToWide, "\x82\xA0\x5C\x81\x60\xB1\x61"), TEXT("\u3042\\\uFF5E\uFF71a"));
#if defined(_WIN32)
  EXPECT_EQ(Convert(AnsiToWide, "a\xA0\x62"), TEXT("a\uF8F0b"));  // the system's table maps it
#else
  EXPECT_EQ(Convert(AnsiToWide, "a\xA0\x62"), TEXT("a\u30FBb"));  // glibc finds it invalid
#endif
  EXPECT_EQ(Convert(WideToAnsi, TEXT("\u3042\\\uFF5E\uFF71a\u304B\u3099e\u00E9")),
            "\x82\xA0\x5C\x81\x60\xB1\x61\x82\xAA\x65?");
  // The result's room is two bytes a character, which full-width text fills.
  EXPECT_EQ(Convert(WideToAnsi, TEXT("件を表示します。\u3000\uFFE5")),
            "\x8C\x8F\x82\xF0\x95\x5C\x8E\xA6\x82\xB5\x82\xDC\x82\xB7\x81\x42\x81\x40\x81\x8F");
}

}  // namespace
}  // namespace zemlik::test
