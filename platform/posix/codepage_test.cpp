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
  EXPECT_EQ(Decode(bytes), text);
  EXPECT_EQ(Encode(text), bytes);
  EXPECT_EQ(Decode("\xFA\x4A\xED\x40\x87\x9C\xFA\x54"), u"Ⅰ纊∪￢");
  EXPECT_EQ(Encode(u"Ⅰ纊∪￢"), "\x87\x54\xFA\x5C\x81\xBE\x81\xCA");  // duplicates: the page's own
  // Each offending byte decodes to U+30FB; what the page lacks encodes to '?'.
  EXPECT_EQ(Decode("A\x81,\x81 B,\x85\x40,\x80\xA0\xFD\xFE\xFF,\x82\xA9\x81\xFF"),
            u"A・,・ B,・@,・・・・・,か・・");
  BOOL lacking = TRUE;
  EXPECT_EQ(Encode(u"a\u304Bz", 0, &lacking), "a\x82\xA9z");
  EXPECT_FALSE(lacking);
  EXPECT_EQ(Encode(u"€\U0001F600é\xD800x", 0, &lacking), "?????x");  // one a UTF-16 unit
  EXPECT_TRUE(lacking);
  EXPECT_EQ(Encode(u"か\u3099ウ\u3099は\u309Aゝ\u3099う\u3099あ\u3099", WC_COMPOSITECHECK),
            "\x82\xAA\x83\x94\x82\xCF\x81\x55\x82\xA4?\x82\xA0?");  // composed where the page can
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
  EXPECT_EQ(Decode("a\xE6\x9C\x88\xF0\x9F\x98\x80\xFF", CP_UTF8), u"a月\U0001F600\uFFFD");
  EXPECT_EQ(Encode(u"a月\U0001F600\xDC00", 0, nullptr, CP_UTF8),
            "a\xE6\x9C\x88\xF0\x9F\x98\x80\xEF\xBF\xBD");
  WCHAR wide[4] = {u'#', u'#', u'#', u'#'};
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a\x82\xA9", -1, wide, 4), 3);
  EXPECT_EQ(std::u16string(wide, 4), std::u16string(u"aか\0#", 4));
  char bytes[] = "#####";
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"bかb", 3, bytes, 2, nullptr, nullptr), 0);
  EXPECT_EQ(std::string(bytes), "b####");  // whole characters only
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "xyz", 3, wide, 2), 0);
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "a", 1, wide, 4) +
                MultiByteToWideChar(CP_ACP, 0, "a", 0, wide, 4) +
                MultiByteToWideChar(CP_ACP, 0, nullptr, 1, wide, 4) +
                WideCharToMultiByte(1252, 0, u"a", 1, bytes, 4, nullptr, nullptr) +
                WideCharToMultiByte(CP_ACP, 0, u"a", -2, bytes, 4, nullptr, nullptr) +
                WideCharToMultiByte(CP_ACP, 0, u"a", 1, bytes, -1, nullptr, nullptr),
            0);
}

}  // namespace
