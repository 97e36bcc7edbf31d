// Wide strings, decimal text and bounded formatting.
#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Text, WideStringsDecimalTextAndBoundedFormatting) {
  WCHAR copy[6] = {u'#', u'#', u'#', u'#', u'#', u'#'};
  wcsncpy(copy, u"abcdefg", 3);  // does not terminate when full ...
  EXPECT_EQ(std::u16string(copy, 6), std::u16string(u"abc###", 6));
  wcsncpy(copy, u"a", 5);  // ... and pads with zeros
  EXPECT_EQ(std::u16string(copy, 6), std::u16string(u"a\0\0\0\0#", 6));
  EXPECT_TRUE(wcsncmp(u"/k:url", u"/k:", 3) == 0 && wcsncmp(u"/k:", u"/K:", 3) > 0 &&
              wcsncmp(u"/K", u"/k", 9) < 0 && wcsncmp(u"ab", u"ab", 9) == 0 &&
              wcscmp(u"～", u"~") > 0);
  EXPECT_EQ(_wtoi(u"  -42x") + _wtoi(u"\t+7") + _wtoi(u"２００８") + _wtoi(u"- 5"), -35);
  EXPECT_EQ(_wtoi(u"4294967297") + _wtoi(u""), 1);  // beyond 32 bits the value wraps
  WCHAR out[1010];
  EXPECT_EQ(StringCchPrintfW(out, 100, u"[%02d][%04d][%5d][%3s][%03s][%x][%08x][%u][%%][%s]", -1,
                             -5, 42, u"a", u"b", 0xFFFFFFFFu, 0xBEEFu, 0xFFFFFFFFu,
                             static_cast<LPCWSTR>(nullptr)),
            S_OK);
  EXPECT_EQ(std::u16string(out),
            u"[-1][-005][   42][  a][00b][ffffffff][0000beef][4294967295][%][(null)]");
  out[1000] = u'#';
  EXPECT_EQ(StringCchPrintfW(out, 1000, u"cl=[%s]", std::u16string(5000, u'x').c_str()),
            STRSAFE_E_INSUFFICIENT_BUFFER);  // cut to the buffer less its terminator
  EXPECT_EQ(std::u16string(out, 1001), u"cl=[" + std::u16string(995, u'x') + u'\0' + u'#');
  EXPECT_EQ(StringCchPrintfW(out, 4, u"%999999999999d", 7), STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(StringCchPrintfW(out, 0, u"abc"), STRSAFE_E_INVALID_PARAMETER);
  for (LPCWSTR refused : {u"ab%lu", u"%5%", LPCWSTR{}}) {  // leave an empty text
    out[0] = u'#';
    EXPECT_TRUE(StringCchPrintfW(out, 8, refused, 5u) == STRSAFE_E_INVALID_PARAMETER && !out[0]);
  }
}

}  // namespace
