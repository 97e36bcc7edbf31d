#include "platform/text.h"

#include <algorithm>
#include <climits>
#include <iterator>
#include <string>

#include "gtest/gtest.h"

namespace {

TEST(WideStrings, LengthCopyAndCompare) {
  EXPECT_EQ(wcslen(u""), 0u);
  EXPECT_EQ(wcslen(u"月刊 list"), 7u);

  WCHAR copy[8];
  EXPECT_EQ(wcscpy(copy, u"abc"), copy);
  EXPECT_EQ(std::u16string(copy), u"abc");

  EXPECT_EQ(wcscmp(u"abc", u"abc"), 0);
  EXPECT_LT(wcscmp(u"ab", u"abc"), 0);
  EXPECT_GT(wcscmp(u"abd", u"abc"), 0);
  EXPECT_GT(wcscmp(u"a", u"A"), 0);
  // Units compare unsigned: U+FF5E sorts after ASCII.
  EXPECT_GT(wcscmp(u"～", u"~"), 0);

  EXPECT_EQ(wcsncmp(u"/k:nowtime", u"/k:", 3), 0);
  EXPECT_NE(wcsncmp(u"/K:nowtime", u"/k:", 3), 0);
  EXPECT_EQ(wcsncmp(u"ab", u"ab", 10), 0);  // stops at the terminator
  EXPECT_LT(wcsncmp(u"ab", u"abc", 10), 0);
  EXPECT_EQ(wcsncmp(u"x", u"y", 0), 0);
}

TEST(WideStrings, CopyOfNCharactersPadsButDoesNotTerminateWhenFull) {
  WCHAR buffer[6] = {u'#', u'#', u'#', u'#', u'#', u'#'};
  wcsncpy(buffer, u"ab", 5);
  EXPECT_EQ(std::u16string(buffer, 6), std::u16string(u"ab\0\0\0#", 6));

  WCHAR full[4] = {u'#', u'#', u'#', u'#'};
  wcsncpy(full, u"abcdef", 3);
  EXPECT_EQ(std::u16string(full, 4), u"abc#");
}

TEST(DecimalText, ParsesSignBlanksAndStopsAtTheFirstNonDigit) {
  EXPECT_EQ(_wtoi(u"2008"), 2008);
  EXPECT_EQ(_wtoi(u"08"), 8);
  EXPECT_EQ(_wtoi(u"  -42"), -42);
  EXPECT_EQ(_wtoi(u"\t+7"), 7);
  EXPECT_EQ(_wtoi(u"12/25"), 12);
  EXPECT_EQ(_wtoi(u""), 0);
  EXPECT_EQ(_wtoi(u"now"), 0);
  EXPECT_EQ(_wtoi(u"- 5"), 0);
  EXPECT_EQ(_wtoi(u"２００８"), 0);  // full-width digits are not digits
  EXPECT_EQ(_wtoi(u"-2147483648"), INT_MIN);
  EXPECT_EQ(_wtoi(u"2147483647"), INT_MAX);
  // Beyond 32 bits the value wraps: 4294967297 = 2^32 + 1.
  EXPECT_EQ(_wtoi(u"4294967297"), 1);
  EXPECT_EQ(_wtoi(u"99999999999999999999"), 1661992959);  // 10^20 - 1 modulo 2^32
}

TEST(Formatting, TheProgramsFormats) {
  WCHAR out[100];
  EXPECT_EQ(StringCchPrintfW(out, 100, u"cs=%d cl=[%s]", 1, u"/k:nowtime"), S_OK);
  EXPECT_EQ(std::u16string(out), u"cs=1 cl=[/k:nowtime]");

  EXPECT_EQ(StringCchPrintfW(out, 100, u"%04d/%02d/%02d,%02d:%02d:%02d ", 2008, 12, 5, 9, 0, 59),
            S_OK);
  EXPECT_EQ(std::u16string(out), u"2008/12/05,09:00:59 ");

  EXPECT_EQ(StringCchPrintfW(out, 100, u"/comic/comic%02d%02d_listdate.html", 8, 12), S_OK);
  EXPECT_EQ(std::u16string(out), u"/comic/comic0812_listdate.html");

  EXPECT_EQ(StringCchPrintfW(out, 100, u"-CMERROR 0x%x -report", 0x21u), S_OK);
  EXPECT_EQ(std::u16string(out), u"-CMERROR 0x21 -report");

  EXPECT_EQ(StringCchPrintfW(out, 100, u"pst=%x", 0u), S_OK);
  EXPECT_EQ(std::u16string(out), u"pst=0");

  EXPECT_EQ(StringCchPrintfW(out, 100, u"%04d/", 33), S_OK);
  EXPECT_EQ(std::u16string(out), u"0033/");
}

TEST(Formatting, NumbersSignsWidthsAndPercent) {
  WCHAR out[100];
  EXPECT_EQ(StringCchPrintfW(out, 100, u"[%02d][%02d][%04d][%d][%d]", -1, -12, -5, INT_MIN, 0),
            S_OK);
  EXPECT_EQ(std::u16string(out), u"[-1][-12][-005][-2147483648][0]");

  EXPECT_EQ(StringCchPrintfW(out, 100, u"[%5d][%3s][%x][%08x][%%][%u]", 42, u"a", 0xFFFFFFFFu,
                             0xBEEFu, 0xFFFFFFFFu),
            S_OK);
  EXPECT_EQ(std::u16string(out), u"[   42][  a][ffffffff][0000beef][%][4294967295]");

  EXPECT_EQ(StringCchPrintfW(out, 100, u"[%s][%s]", static_cast<LPCWSTR>(nullptr), u""), S_OK);
  EXPECT_EQ(std::u16string(out), u"[(null)][]");

  EXPECT_EQ(StringCchPrintfW(out, 100, u"%s", u"月刊コミック"), S_OK);
  EXPECT_EQ(std::u16string(out), u"月刊コミック");
}

TEST(Formatting, LongTextIsCutTo999AndTerminated) {
  std::u16string text(5000, u'x');
  WCHAR buffer[1010];
  std::fill(std::begin(buffer), std::end(buffer), u'#');
  EXPECT_EQ(StringCchPrintfW(buffer, 1000, u"cl=[%s]", text.c_str()),
            STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::u16string(buffer), u"cl=[" + std::u16string(995, u'x'));
  EXPECT_EQ(std::u16string(buffer + 1000, 10), std::u16string(10, u'#'));
}

TEST(Formatting, ExactFitAndCutsInsideNumbersAndPadding) {
  WCHAR buffer[8];
  std::fill(std::begin(buffer), std::end(buffer), u'#');
  EXPECT_EQ(StringCchPrintfW(buffer, 4, u"%s", u"abc"), S_OK);
  EXPECT_EQ(std::u16string(buffer, 8), std::u16string(u"abc\0####", 8));

  std::fill(std::begin(buffer), std::end(buffer), u'#');
  EXPECT_EQ(StringCchPrintfW(buffer, 3, u"%04d", 1234), STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::u16string(buffer, 8), std::u16string(u"12\0#####", 8));

  std::fill(std::begin(buffer), std::end(buffer), u'#');
  EXPECT_EQ(StringCchPrintfW(buffer, 4, u"%999999999999d", 7), STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::u16string(buffer, 8), std::u16string(u"   \0####", 8));

  std::fill(std::begin(buffer), std::end(buffer), u'#');
  EXPECT_EQ(StringCchPrintfW(buffer, 1, u"abc"), STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::u16string(buffer, 8), std::u16string(u"\0#######", 8));
}

TEST(Formatting, InvalidCallsWriteNothingOrAnEmptyText) {
  WCHAR buffer[8];
  std::fill(std::begin(buffer), std::end(buffer), u'#');
  EXPECT_EQ(StringCchPrintfW(buffer, 0, u"abc"), STRSAFE_E_INVALID_PARAMETER);
  EXPECT_EQ(std::u16string(buffer, 8), u"########");

  EXPECT_EQ(StringCchPrintfW(buffer, 8, u"ab%lu", 5u), STRSAFE_E_INVALID_PARAMETER);
  EXPECT_EQ(std::u16string(buffer), u"");
  EXPECT_EQ(StringCchPrintfW(buffer, 8, u"ab%"), STRSAFE_E_INVALID_PARAMETER);
  EXPECT_EQ(std::u16string(buffer), u"");
  EXPECT_EQ(StringCchPrintfW(nullptr, 8, u"ab"), STRSAFE_E_INVALID_PARAMETER);
}

}  // namespace
