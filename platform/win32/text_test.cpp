#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_support.h"

namespace {

using zemlik::testing::WString;

std::string ToAnsi(const WString& text, DWORD flags = 0) {
  char out[64] = {};
  BOOL lacked = FALSE;
  const int n =
      WideCharToMultiByte(CP_ACP, flags, text.c_str(), -1, out, sizeof out, nullptr, &lacked);
  return n > 0 ? std::string(out, static_cast<size_t>(n - 1)) + (lacked ? "|lacked" : "")
               : "(failed)";
}

WString FromAnsi(const std::string& bytes) {
  WCHAR out[64] = {};
  const int n = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, bytes.c_str(), -1, out, 64);
  return n > 0 ? WString(out, static_cast<size_t>(n - 1)) : TEXT("(failed)");
}

TEST(TextTest, WideLiteralsAreTheSystemsWideCharacters) {
  static_assert(sizeof(WCHAR) == 2);
  const WCHAR* text = TEXT("新刊");
  EXPECT_EQ(text[0], 0x65B0);
  EXPECT_EQ(wcslen(text), 2u);
}

// CP_ACP is code page 932 whatever the system's ANSI code page.
TEST(TextTest, AnsiIsCodePage932BothWays) {
  EXPECT_EQ(ToAnsi(TEXT("新刊 \\～")), "\x90\x56\x8a\xa7 \x5c\x81\x60");
  EXPECT_EQ(FromAnsi("\x90\x56\x8a\xa7 \x5c\x81\x60"), TEXT("新刊 \\～"));
  // A lone lead byte at the end is U+30FB.
  EXPECT_EQ(FromAnsi("a\x88"), TEXT("a\u30FB"));
}

TEST(TextTest, CharactersThePageLacksBecomeQuestionMarksNotLookAlikes) {
  EXPECT_EQ(ToAnsi(TEXT("caf\u00e9 \u0101")), "caf? ?|lacked");
  EXPECT_EQ(ToAnsi(TEXT("\u304b\u3099"), WC_COMPOSITECHECK), "\x82\xaa");
}

TEST(TextTest, Utf8PassesThrough) {
  char out[16] = {};
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, TEXT("～"), -1, out, sizeof out, nullptr, nullptr), 4);
  EXPECT_STREQ(out, "\xef\xbd\x9e");
}

TEST(TextTest, FormattingCutsToTheBufferAndSaysSo) {
  WCHAR out[8];
  EXPECT_EQ(StringCchPrintfW(out, 8, TEXT("%s=%02d:%x"), TEXT("k"), 5, 0xabu), S_OK);
  EXPECT_EQ(WString(out), TEXT("k=05:ab"));
  EXPECT_EQ(StringCchPrintfW(out, 8, TEXT("cl=[%s]"), TEXT("/k:nowtime")),
            STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(WString(out), TEXT("cl=[/k:"));
}

}  // namespace
