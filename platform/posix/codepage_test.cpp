// Code page 932 as the ANSI code page, and UTF-8, through the Win32 conversions.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/text.h"

namespace {

// The whole conversion: ask for the size, then convert into exactly that.
std::u16string Decode(const std::string& bytes, UINT codePage = CP_ACP) {
  const int n = static_cast<int>(bytes.size());
  std::u16string out(MultiByteToWideChar(codePage, 0, bytes.data(), n, nullptr, 0), u'#');
  EXPECT_EQ(
      MultiByteToWideChar(codePage, 0, bytes.data(), n, out.data(), static_cast<int>(out.size())),
      static_cast<int>(out.size()));
  return out;
}

std::string Encode(const std::u16string& text, DWORD flags = 0, BOOL* lacking = nullptr,
                   UINT codePage = CP_ACP) {
  const int n = static_cast<int>(text.size());
  std::string out(
      WideCharToMultiByte(codePage, flags, text.data(), n, nullptr, 0, nullptr, nullptr), '#');
  EXPECT_EQ(WideCharToMultiByte(codePage, flags, text.data(), n, out.data(),
                                static_cast<int>(out.size()), nullptr, lacking),
            static_cast<int>(out.size()));
  return out;
}

TEST(CodePage932, TheWindowsPageBothWays) {
  const std::string bytes =
      "\x5C\x7E\x81\x60\x81\x5F\x81\x7C\xA1\xB1\xDF\x82\xA9\x83\x4A\x8C\x8E\x87\x40\x87\x54\x87\x82"
      "\xFA\x40"
      "\xFA\x5C\xFB\x40\xFC\x4B\xF0\x40";
  const std::u16string text = u"\\~～＼－｡ｱﾟかカ月①Ⅰ№ⅰ纊涖黑\uE000";
  EXPECT_EQ(Decode(bytes), text);
  EXPECT_EQ(Encode(text), bytes);
  EXPECT_EQ(Decode("\xFA\x4A\xED\x40\x87\x9C\xFA\x54"),
            u"Ⅰ纊∪￢");  // duplicates, written the page's way
  EXPECT_EQ(Encode(u"Ⅰ纊∪￢"), "\x87\x54\xFA\x5C\x81\xBE\x81\xCA");
  // Each offending byte decodes to U+30FB; what the page lacks encodes to one '?'.
  EXPECT_EQ(Decode("A\x81,\x81 B,\x85\x40,\x80\xA0\xFD\xFE\xFF,\x82\xA9\x81\xFF"),
            u"A・,・ B,・@,・・・・・,か・・");
  BOOL lacking = FALSE;
  EXPECT_EQ(Encode(u"a\u304Bz", 0, &lacking), "a\x82\xA9z");
  EXPECT_FALSE(lacking);
  const char16_t unpaired[] = {0xD800, u'x', 0};
  EXPECT_EQ(Encode(u"€\U0001F600é" + std::u16string(unpaired), 0, &lacking), "????x");
  EXPECT_TRUE(lacking);
  EXPECT_EQ(
      Encode(u"か\u3099ウ\u3099は\u309Aゝ\u3099う\u3099あ\u3099", WC_COMPOSITECHECK),
      "\x82\xAA\x83\x94\x82\xCF\x81\x55\x82\xA4?\x82\xA0?");  // precomposed where the page has it
  EXPECT_EQ(Encode(u"か\u3099"), "\x82\xA9?");
}

TEST(CodePage932, TerminatorsSmallBuffersRunEdgesAndThreads) {
  WCHAR wide[4] = {u'#', u'#', u'#', u'#'};
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a\x82\xA9", -1, wide, 4), 3);
  EXPECT_EQ(std::u16string(wide, 4), std::u16string(u"aか\0#", 4));
  char bytes[5] = {'#', '#', '#', '#', '#'};
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"bかb", 3, bytes, 2, nullptr, nullptr),
            0);  // whole characters only
  EXPECT_EQ(std::string(bytes, 5), "b####");
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "xyz", 3, wide, 2), 0);
  // The layer converts in runs: a character across an edge stays whole, and a long stretch of
  // replacements converts like a short one.
  EXPECT_EQ(Decode(std::string(4095, 'a') + "\x82\xA0" + std::string(20000, '\x80')),
            std::u16string(4095, u'a') + u'あ' + std::u16string(20000, u'・'));
  EXPECT_EQ(Encode(std::u16string(2047, u'a') + u"\U0001F600" + std::u16string(20000, u'가')),
            std::string(2047, 'a') + std::string(20001, '?'));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 100; ++i)
        EXPECT_EQ(Encode(Decode("\x87\x40\x81\x60"
                                "A")),
                  "\x87\x40\x81\x60"
                  "A");
    });
  }
  for (std::thread& thread : threads) thread.join();
}

TEST(CodePages, Utf8AndWhatIsRefused) {
  EXPECT_EQ(Decode("a\xE6\x9C\x88\xF0\x9F\x98\x80\xFF", CP_UTF8), u"a月\U0001F600\uFFFD");
  EXPECT_EQ(Encode(u"a月\U0001F600\xDC00", 0, nullptr, CP_UTF8),
            "a\xE6\x9C\x88\xF0\x9F\x98\x80\xEF\xBF\xBD");
  WCHAR wide[4];
  char bytes[4];
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "a", 1, wide, 4) +
                MultiByteToWideChar(CP_ACP, 0, "a", 0, wide, 4) +
                MultiByteToWideChar(CP_ACP, 0, nullptr, 1, wide, 4) +
                WideCharToMultiByte(1252, 0, u"a", 1, bytes, 4, nullptr, nullptr) +
                WideCharToMultiByte(CP_ACP, 0, u"a", -2, bytes, 4, nullptr, nullptr) +
                WideCharToMultiByte(CP_ACP, 0, u"a", 1, bytes, -1, nullptr, nullptr),
            0);
}

}  // namespace
