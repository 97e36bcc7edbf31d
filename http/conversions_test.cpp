#include "http/conversions.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/memory.h"
#include "platform/scoped.h"
#include "tests/support/test_support.h"

namespace {

using platform::LocalPtr;
using zemlik::testing::WString;

// Runs a decoder and returns its whole result as a string (up to the terminator).
template <class Fn>
WString Decode(Fn fn, const std::string& bytes) {
  LPWSTR out = nullptr;
  EXPECT_EQ(0, fn(bytes.c_str(), &out));
  LocalPtr<WCHAR> owned(out);
  return out ? WString(out) : WString(TEXT("<null>"));
}

template <class Fn>
std::string Encode(Fn fn, const WString& text) {
  LPSTR out = nullptr;
  EXPECT_EQ(0, fn(text.c_str(), &out));
  LocalPtr<char> owned(out);
  return out ? std::string(out) : std::string("<null>");
}

WString Units(std::initializer_list<WCHAR> units) { return WString(units); }

class ConversionAllocationFailure : public ::testing::Test {
 protected:
  void TearDown() override { platform::SetAllocationFailureForTesting(0); }
  void FailNextAllocation() {
    platform::ResetAllocationCountForTesting();
    platform::SetAllocationFailureForTesting(1);
  }
};

TEST(Conversions, EmptySourceGivesTerminatorOnly) {
  EXPECT_EQ(TEXT(""), Decode(AnsiToWide, ""));
  EXPECT_EQ(TEXT(""), Decode(Utf8ToWide, ""));
  EXPECT_EQ("", Encode(WideToAnsi, TEXT("")));
  EXPECT_EQ("", Encode(WideToUtf8, TEXT("")));
}

TEST(Utf8ToWide, DecodesOneTwoThreeAndFourByteForms) {
  EXPECT_EQ(Units({0x0041, 0x00E9, 0x3042}), Decode(Utf8ToWide, "\x41\xC3\xA9\xE3\x81\x82"));
  EXPECT_EQ(Units({0xD83D, 0xDE00}), Decode(Utf8ToWide, "\xF0\x9F\x98\x80"));
  // The ends of the four-byte range.
  EXPECT_EQ(Units({0xD800, 0xDC00, 0xDBFF, 0xDFFF}),
            Decode(Utf8ToWide, "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"));
}

TEST(Utf8ToWide, DropsBytesOutsideSequences) {
  // A lead cut short by a non-continuation loses that byte as well.
  EXPECT_EQ(TEXT(""), Decode(Utf8ToWide, "\xC3\x41"));
  EXPECT_EQ(TEXT("B"), Decode(Utf8ToWide, "\xC3\x41\x42"));
  // Stray continuations and the bytes F8 to FF in the start state.
  EXPECT_EQ(TEXT(""), Decode(Utf8ToWide, "\x80"));
  EXPECT_EQ(TEXT(""), Decode(Utf8ToWide, "\xFF"));
  EXPECT_EQ(TEXT("abcd"), Decode(Utf8ToWide,
                                 "a\x80"
                                 "b\xBF"
                                 "c\xF8\xFF"
                                 "d"));
  // Sequences open at the end of the input.
  EXPECT_EQ(TEXT(""), Decode(Utf8ToWide, "\xE3\x81"));
  EXPECT_EQ(TEXT("x"), Decode(Utf8ToWide, "x\xC3"));
  EXPECT_EQ(TEXT("x"), Decode(Utf8ToWide, "x\xF0\x9F\x98"));
}

TEST(Utf8ToWide, BreakInEveryOpenStateDropsSequenceAndByte) {
  // States 20, 30, 31, 40, 41 and 42, each met by an ASCII byte, then by a lead.
  for (const char* open : {"\xC3", "\xE3", "\xE3\x81", "\xF0", "\xF0\x9F", "\xF0\x9F\x98"}) {
    SCOPED_TRACE(testing::PrintToString(std::string(open)));
    EXPECT_EQ(TEXT("[b]"), Decode(Utf8ToWide, std::string("[") + open + "a" + "b]"));
    // The lead that broke the sequence is not looked at again, so its tail is stray.
    EXPECT_EQ(TEXT("[]"), Decode(Utf8ToWide, std::string("[") + open + "\xC3\xA9]"));
  }
}

TEST(Utf8ToWide, MakesNoOtherChecks) {
  // Overlong two-byte zero: one zero unit, the terminator behind it.
  LPWSTR out = nullptr;
  ASSERT_EQ(0, Utf8ToWide("\xC0\x80", &out));
  LocalPtr<WCHAR> owned(out);
  EXPECT_EQ(0, out[0]);
  EXPECT_EQ(0, out[1]);
  // Overlong three-byte form of '/', and a lone surrogate in three-byte form.
  EXPECT_EQ(TEXT("/"), Decode(Utf8ToWide, "\xE0\x80\xAF"));
  EXPECT_EQ(Units({0xD83D}), Decode(Utf8ToWide, "\xED\xA0\xBD"));
}

TEST(Utf8ToWide, FourByteFormOutsideSupplementaryRangeGivesOneReplacement) {
  // Overlong (lead F0, second byte below 90), above U+10FFFF (F4 90.., F5 to F7).
  EXPECT_EQ(TEXT("a\uFFFDb"), Decode(Utf8ToWide,
                                     "a\xF0\x8F\xBF\xBF"
                                     "b"));
  EXPECT_EQ(TEXT("\uFFFD"), Decode(Utf8ToWide, "\xF0\x80\x80\x80"));
  EXPECT_EQ(TEXT("\uFFFD"), Decode(Utf8ToWide, "\xF4\x90\x80\x80"));
  EXPECT_EQ(TEXT("\uFFFD\uFFFD"), Decode(Utf8ToWide, "\xF5\x80\x80\x80\xF7\xBF\xBF\xBF"));
}

TEST(WideToUtf8, EncodesEachUnitOnItsOwn) {
  EXPECT_EQ("A", Encode(WideToUtf8, TEXT("A")));
  EXPECT_EQ("\x7F", Encode(WideToUtf8, TEXT("\x7F")));
  EXPECT_EQ("\xC2\x80", Encode(WideToUtf8, TEXT("\x80")));
  EXPECT_EQ("\xC3\xA9", Encode(WideToUtf8, TEXT("\u00E9")));
  EXPECT_EQ("\xDF\xBF", Encode(WideToUtf8, TEXT("\u07FF")));
  EXPECT_EQ("\xE0\xA0\x80", Encode(WideToUtf8, TEXT("\u0800")));
  EXPECT_EQ("\xE3\x81\x82", Encode(WideToUtf8, TEXT("\u3042")));
  EXPECT_EQ("\xEF\xBF\xBF", Encode(WideToUtf8, TEXT("\uFFFF")));
  EXPECT_EQ("\xED\xA0\xBD\xED\xB8\x80", Encode(WideToUtf8, Units({0xD83D, 0xDE00})));
}

TEST(WideToUtf8, FillsThreeBytesPerUnitAtOrAboveU0800) {
  const WString text = TEXT("\u0800\u3042\u4E00\uFFFF") + Units({0xD83D, 0xDE00});
  LPSTR out = nullptr;
  ASSERT_EQ(0, WideToUtf8(text.c_str(), &out));
  LocalPtr<char> owned(out);
  EXPECT_EQ(3 * text.size(), std::strlen(out));
}

TEST(WideToUtf8, RoundTripsEveryUnitThroughTheDecoder) {
  // The encoder writes lone surrogates as three-byte forms and the decoder passes
  // them through, so any text without a zero unit comes back unchanged.
  WString all;
  for (unsigned u = 1; u <= 0xFFFF; ++u) all.push_back(static_cast<WCHAR>(u));
  all += Units({0xDC00, 0xD800});  // reversed pair
  EXPECT_EQ(all, Decode(Utf8ToWide, Encode(WideToUtf8, all)));
}

TEST(AnsiToWide, DecodesCodePage932) {
  // Hiragana, the yen-sign byte, the wave dash of 932, half-width katakana.
  EXPECT_EQ(TEXT("\u3042\\\uFF5E\uFF71a"), Decode(AnsiToWide,
                                                  "\x82\xA0\x5C\x81\x60\xB1"
                                                  "a"));
  // Bytes outside the code page come out as the platform renders them: glibc finds 0xA0
  // invalid (U+30FB); the Windows table maps it to a private-use character.
#if defined(_WIN32)
  const WString a0 = TEXT("a\uF8F0") TEXT("b");
#else
  const WString a0 = TEXT("a\u30FB") TEXT("b");
#endif
  EXPECT_EQ(a0, Decode(AnsiToWide,
                       "a\xA0"
                       "b"));
}

TEST(WideToAnsi, EncodesCodePage932) {
  EXPECT_EQ(
      "\x82\xA0\x5C\x81\x60\xB1"
      "a",
      Encode(WideToAnsi, TEXT("\u3042\\\uFF5E\uFF71a")));
  // A kana with a combining voiced mark becomes the precomposed kana.
  EXPECT_EQ("\x82\xAA", Encode(WideToAnsi, TEXT("\u304B\u3099")));
  // A character the code page lacks becomes its default character.
  EXPECT_EQ("e?e", Encode(WideToAnsi, TEXT("e\u00E9e")));
}

TEST(WideToAnsi, FillsTwoBytesPerFullWidthCharacter) {
  const WString text = TEXT("件を表示します。\u3000\uFFE5");
  LPSTR out = nullptr;
  ASSERT_EQ(0, WideToAnsi(text.c_str(), &out));
  LocalPtr<char> owned(out);
  EXPECT_EQ(std::string("\x8C\x8F\x82\xF0\x95\x5C\x8E\xA6\x82\xB5\x82\xDC\x82\xB7\x81\x42"
                        "\x81\x40\x81\x8F"),
            std::string(out));
  EXPECT_EQ(2 * text.size(), std::strlen(out));
}

TEST_F(ConversionAllocationFailure, LeavesOutParameterUntouched) {
  const auto sentinelWide = reinterpret_cast<LPWSTR>(static_cast<std::uintptr_t>(0x1234));
  const auto sentinelBytes = reinterpret_cast<LPSTR>(static_cast<std::uintptr_t>(0x5678));

  LPWSTR wide = sentinelWide;
  FailNextAllocation();
  EXPECT_EQ(-103, AnsiToWide("abc", &wide));
  EXPECT_EQ(sentinelWide, wide);
  FailNextAllocation();
  EXPECT_EQ(-103, Utf8ToWide("abc", &wide));
  EXPECT_EQ(sentinelWide, wide);

  LPSTR bytes = sentinelBytes;
  FailNextAllocation();
  EXPECT_EQ(-103, WideToAnsi(TEXT("abc"), &bytes));
  EXPECT_EQ(sentinelBytes, bytes);
  FailNextAllocation();
  EXPECT_EQ(-103, WideToUtf8(TEXT("abc"), &bytes));
  EXPECT_EQ(sentinelBytes, bytes);
}

}  // namespace
