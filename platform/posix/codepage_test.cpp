// Code page 932 as the ANSI code page, and UTF-8, through the Win32 conversions.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/text.h"

namespace {

// The whole conversion: ask for the size, then convert into exactly that.
std::u16string Decode(const std::string& in, UINT cp = CP_ACP) {
  const int n = static_cast<int>(in.size());
  std::u16string out(MultiByteToWideChar(cp, 0, in.data(), n, nullptr, 0), u'#');
  const int size = static_cast<int>(out.size());
  EXPECT_EQ(MultiByteToWideChar(cp, 0, in.data(), n, out.data(), size), size);
  return out;
}

std::string Encode(const std::u16string& in, DWORD flags = 0, BOOL* lacking = nullptr,
                   UINT cp = CP_ACP) {
  const int n = static_cast<int>(in.size());
  std::string out(WideCharToMultiByte(cp, flags, in.data(), n, nullptr, 0, nullptr, nullptr), '#');
  const int size = static_cast<int>(out.size());
  EXPECT_EQ(WideCharToMultiByte(cp, flags, in.data(), n, out.data(), size, nullptr, lacking), size);
  return out;
}

TEST(CodePage932, TheWindowsPageBothWays) {
  const std::string bytes =
      "\x5C\x7E\x81\x60\x81\x5F\x81\x7C\xA1\xB1\xDF\x82\xA9\x83\x4A\x8C\x8E\x87\x40\x87\x54\x87\x82"
      "\xFA\x40\xFA\x5C\xFB\x40\xFC\x4B\xF0\x40";
  const std::u16string text = u"\\~～＼－｡ｱﾟかカ月①Ⅰ№ⅰ纊涖黑\uE000";
  EXPECT_EQ(std::pair(Decode(bytes), Encode(text)), std::pair(text, bytes));
  EXPECT_EQ(Decode("\xFA\x4A\xED\x40\x87\x9C\xFA\x54"), u"Ⅰ纊∪￢");
  EXPECT_EQ(Encode(u"Ⅰ纊∪￢"), "\x87\x54\xFA\x5C\x81\xBE\x81\xCA");  // duplicates: the page's own
  // Each offending byte decodes to U+30FB; what the page lacks encodes to '?'.
  EXPECT_EQ(Decode("A\x81,\x81 B,\x85\x40,\x80\xA0\xFD\xFE\xFF,\x82\xA9\x81\xFF\x81"),
            u"A・,・ B,・@,・・・・・,か・・・");
  BOOL lacking = TRUE;
  EXPECT_TRUE(Encode(u"a\u304Bz", 0, &lacking) == "a\x82\xA9z" && !lacking);
  EXPECT_EQ(Encode(u"€\U0001F600é\xD800x\xD800", 0, &lacking), "?????x?");  // one a UTF-16 unit
  EXPECT_TRUE(lacking);
  EXPECT_EQ(Encode(u"か\u3099ウ\u3099は\u309Aゝ\u3099つ\u3099ヽ\u3099う\u3099あ\u3099か\u309A",
                   WC_COMPOSITECHECK),  // composed where the page can
            "\x82\xAA\x83\x94\x82\xCF\x81\x55\x82\xC3\x81\x53\x82\xA4?\x82\xA0?\x82\xA9?");
  EXPECT_EQ(Encode(u"か\u3099"), "\x82\xA9?");
}

TEST(CodePage932, RunEdgesAndThreads) {
  // Characters across the 4096-unit run edges stay whole; long stretches of replacements too.
  EXPECT_EQ(Decode(std::string(4095, 'a') + "\x82\xA0" + std::string(20000, '\x80')),
            std::u16string(4095, u'a') + u'あ' + std::u16string(20000, u'・'));
  EXPECT_EQ(Encode(std::u16string(2047, u'a') + u"\U0001F600" + std::u16string(20000, u'가')),
            std::string(2047, 'a') + std::string(20002, '?'));
  auto convert = [] {
    for (int i = 0; i < 100; ++i) EXPECT_EQ(Encode(Decode("\x87\x40\x81\x60")), "\x87\x40\x81\x60");
  };
  std::jthread a(convert), b(convert), c(convert), d(convert);  // at once
}

TEST(CodePages, Utf8TerminatorsSmallBuffersAndWhatIsRefused) {
  // Each byte that starts no well-formed sequence (stray, cut, overlong, a surrogate, beyond
  // U+10FFFF) decodes to U+FFFD; an unpaired surrogate encodes as one.
  EXPECT_EQ(Decode("a\xC3\xA9\xE6x\xE6\x9C\x88\xEE\x80\x80\xF0\x9F\x98\x80\x80\xED\xA0\x80"
                   "\xE0\x80\x80\xF4\x90\x80\x80\xFF\xE6\x9C",
                   CP_UTF8),
            u"aé\uFFFDx月\uE000\U0001F600" + std::u16string(14, u'\uFFFD'));
  EXPECT_EQ(Encode(u"aé月\U0001F600\U0010FFFF\xDFFF\xD800\uE000\xD800:\xD800", 0, nullptr, CP_UTF8),
            "a\xC3\xA9\xE6\x9C\x88\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF\xEF\xBF\xBD\xEF\xBF\xBD\xEE\x80"
            "\x80\xEF\xBF\xBD:\xEF\xBF\xBD");
  WCHAR wide[4] = {u'#', u'#', u'#', u'#'};
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a\x82\xA9", -1, wide, 4), 3);
  EXPECT_EQ(std::u16string(wide, 4), std::u16string(u"aか\0#", 4));
  char bytes[] = "#####";
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"b纊ｱ", 3, bytes, 3, nullptr, nullptr), 0);
  EXPECT_EQ(std::string(bytes), "b\xFA\x5C##");  // whole characters only, one or two bytes
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "x\xEE\x80\x80\xF0\x9F\x98\x80", 8, wide, 3), 0);
  EXPECT_EQ(std::u16string(wide, 3), std::u16string(u"x\uE000\0", 3));
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"a€", 2, bytes, 4, "\x81\x48", nullptr), 3);
  EXPECT_EQ(std::string(bytes, 3), "a\x81\x48");  // the default character given
  // Each fails: a buffer too small for the next character, or what the conversions refuse.
  auto* m = &MultiByteToWideChar;
  auto w = [](UINT cp, LPCWSTR s, int n, LPSTR d, int size, LPCSTR c = nullptr, BOOL* u = nullptr) {
    return WideCharToMultiByte(cp, 0, s, n, d, size, c, u);
  };
  BOOL used = FALSE;
  for (int failed :
       {m(CP_ACP, 0, "x\x80", 2, wide, 1), m(CP_ACP, 0, "xy\x80", 3, wide, 1),
        m(1252, 0, "a", 1, wide, 4), m(CP_ACP, 0, "a", 0, wide, 4),
        m(CP_ACP, 0, nullptr, 1, wide, 4), m(CP_ACP, 0, "a", -2, wide, 4),
        m(CP_ACP, 0, "a", 1, wide, -1), m(CP_ACP, 0, "a", 1, nullptr, 4),
        w(CP_ACP, u"b€", 2, bytes, 1), w(CP_UTF8, u"a月", 2, bytes, 2),
        w(CP_UTF8, u"a", 1, bytes, 4, "?"), w(CP_UTF8, u"a", 1, bytes, 4, nullptr, &used),
        w(1252, u"a", 1, bytes, 4), w(CP_ACP, nullptr, 1, bytes, 4), w(CP_ACP, u"a", 0, bytes, 4),
        w(CP_ACP, u"a", -2, bytes, 4), w(CP_ACP, u"a", 1, bytes, -1),
        w(CP_ACP, u"a", 1, nullptr, 4)})
    EXPECT_EQ(failed, 0);
}

}  // namespace
