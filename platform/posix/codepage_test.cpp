#include <algorithm>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "platform/text.h"

namespace {

// The whole conversion: ask for the size, then convert into exactly that.
std::u16string Decode(const std::string& bytes, UINT codePage = CP_ACP) {
  int n = static_cast<int>(bytes.size());
  int needed = MultiByteToWideChar(codePage, 0, bytes.data(), n, nullptr, 0);
  std::u16string out(static_cast<std::size_t>(needed), u'#');
  if (needed == 0) return u"<failed>";
  int written = MultiByteToWideChar(codePage, 0, bytes.data(), n, out.data(), needed);
  EXPECT_EQ(written, needed);
  return out;
}

std::string Encode(const std::u16string& text, DWORD flags = 0, BOOL* usedDefault = nullptr,
                   UINT codePage = CP_ACP) {
  int n = static_cast<int>(text.size());
  int needed = WideCharToMultiByte(codePage, flags, text.data(), n, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(needed), '#');
  if (needed == 0) return "<failed>";
  int written = WideCharToMultiByte(codePage, flags, text.data(), n, out.data(), needed, nullptr,
                                    usedDefault);
  EXPECT_EQ(written, needed);
  return out;
}

TEST(CodePage932, RoundTripsTheWindowsPage) {
  const std::string bytes =
      "\x5C\x7E"                          // yen and overline positions are ASCII on this page
      "\x81\x60\x81\x5F\x81\x7C"          // U+FF5E, U+FF3C, U+FF0D
      "\xA1\xB1\xDF"                      // half-width katakana
      "\x82\xA9\x83\x4A\x8C\x8E"          // か カ 月
      "\x87\x40\x87\x54\x87\x82"          // NEC row 13: ① Ⅰ №
      "\xFA\x40\xFA\x5C\xFB\x40\xFC\x4B"  // IBM extensions: ⅰ 纊 涖 黑
      "\xF0\x40";                         // user-defined area
  const std::u16string text =
      u"\\~\uFF5E\uFF3C\uFF0D\uFF61\uFF71\uFF9F\u304B\u30AB\u6708\u2460\u2160\u2116"
      u"\u2170\u7E8A\u6D96\u9ED1\uE000";
  EXPECT_EQ(Decode(bytes), text);
  EXPECT_EQ(Encode(text), bytes);
}

// Duplicates are written the way the Windows page writes them.
TEST(CodePage932, DuplicateCodesEncodeToTheirPreferredForm) {
  EXPECT_EQ(Decode("\xFA\x4A\xED\x40\x87\x9C\xFA\x54"), u"\u2160\u7E8A\u222A\uFFE2");
  EXPECT_EQ(Encode(u"\u2160\u7E8A\u222A\uFFE2"), "\x87\x54\xFA\x5C\x81\xBE\x81\xCA");
}

TEST(CodePage932, EachOffendingByteDecodesToAMiddleDot) {
  EXPECT_EQ(Decode("A\x81"), u"A\u30FB");  // lead byte cut off at the end
  EXPECT_EQ(Decode("\x81\x20"
                   "B"),
            u"\u30FB B");  // lead byte with an invalid trail
  EXPECT_EQ(Decode("\x81\x7F"), u"\u30FB\x7F");
  EXPECT_EQ(Decode("\x85\x40"), u"\u30FB@");  // unassigned row
  EXPECT_EQ(Decode("\x80\xA0\xFD\xFE\xFF"), u"\u30FB\u30FB\u30FB\u30FB\u30FB");
  EXPECT_EQ(Decode("\x82\xA9\x81\xFF\x82\xA9"), u"\u304B\u30FB\u30FB\u304B");
}

TEST(CodePage932, WhatThePageLacksBecomesOneQuestionMark) {
  BOOL usedDefault = TRUE;
  EXPECT_EQ(Encode(u"a\u304Bz", 0, &usedDefault), "a\x82\xA9z");
  EXPECT_FALSE(usedDefault);

  EXPECT_EQ(Encode(u"\u20AC\U0001F600a\u00E9", 0, &usedDefault), "??a?");
  EXPECT_TRUE(usedDefault);

  const char16_t unpaired[] = {0xD800, u'x', 0xDC00, u'y', 0xD83D, 0};
  EXPECT_EQ(Encode(unpaired), "?x?y?");
}

TEST(CodePage932, CompositeCheckWritesPrecomposedKana) {
  const std::u16string text =
      u"\u304B\u3099\u30A6\u3099\u306F\u309A\u30D8\u309A\u30BB\u3099\u309D\u3099"
      u"\u3046\u3099\u3042\u3099\u3099";
  EXPECT_EQ(Encode(text, WC_COMPOSITECHECK),
            "\x82\xAA"      // が
            "\x83\x94"      // ヴ
            "\x82\xCF"      // ぱ
            "\x83\x79"      // ペ
            "\x83\x5B"      // ゼ
            "\x81\x55"      // ゞ
            "\x82\xA4?"     // ゔ is not on the page: う and the mark apart
            "\x82\xA0??");  // あ has no voiced form
  EXPECT_EQ(Encode(u"\u304B\u3099\u30A6\u3099"), "\x82\xA9?\x83\x45?");
}

TEST(CodePage932, ZeroTerminatedSourceIncludesTheTerminator) {
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a\x82\xA9", -1, nullptr, 0), 3);
  WCHAR wide[4] = {u'#', u'#', u'#', u'#'};
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a\x82\xA9", -1, wide, 4), 3);
  EXPECT_EQ(std::u16string(wide, 4), std::u16string(u"a\u304B\0#", 4));

  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"a\u304B", -1, nullptr, 0, nullptr, nullptr), 4);
  char bytes[5] = {'#', '#', '#', '#', '#'};
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"a\u304B", -1, bytes, 5, nullptr, nullptr), 4);
  EXPECT_EQ(std::string(bytes, 5), std::string("a\x82\xA9\0#", 5));
}

TEST(CodePage932, ATooSmallBufferGetsWholeCharactersAndTheCallFails) {
  WCHAR wide[4] = {u'#', u'#', u'#', u'#'};
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, wide, 2), 0);
  EXPECT_EQ(std::u16string(wide, 4), u"ab##");

  char bytes[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"a\u304Bb", 3, bytes, 2, nullptr, nullptr), 0);
  EXPECT_EQ(std::string(bytes, 4), "a###");
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"a\u304Bb", 3, bytes, 3, nullptr, nullptr), 0);
  EXPECT_EQ(std::string(bytes, 4), "a\x82\xA9#");

  WCHAR one[2] = {u'#', u'#'};
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xF0\x9F\x98\x80", 4, one, 1), 0);
  EXPECT_EQ(std::u16string(one, 2), u"##");
}

TEST(CodePage932, LongTextsConvertWhole) {
  std::string bytes;
  std::u16string text;
  for (int i = 0; i < 3000; ++i) {
    bytes += i % 3 == 0 ? "\x8C\x8E" : (i % 3 == 1 ? "x" : "\xB1");
    text += i % 3 == 0 ? u'\u6708' : (i % 3 == 1 ? u'x' : u'\uFF71');
  }
  bytes += "\x81";
  text += u'\u30FB';
  EXPECT_EQ(Decode(bytes), text);
  text.back() = u'\u20AC';
  bytes.back() = '?';
  EXPECT_EQ(Encode(text), bytes);
}

// The layer converts in bounded runs: a character across a run's edge stays
// whole, and a long stretch of replacements converts like a short one.
TEST(CodePage932, CharactersAcrossRunEdgesAndLongStretchesOfReplacements) {
  std::string bytes(4095, 'a');
  std::u16string text(4095, u'a');
  bytes += "\x82\xA0";
  text += u'\u3042';
  for (int i = 0; i < 20000; ++i) {
    bytes += '\x80';
    text += u'\u30FB';
  }
  bytes += "\x82\xA0";
  text += u'\u3042';
  EXPECT_EQ(Decode(bytes), text);

  std::u16string wide(2047, u'a');
  std::string narrow(2047, 'a');
  wide += u"\U0001F600";  // its two units straddle the first run's edge
  narrow += '?';
  for (int i = 0; i < 20000; ++i) {
    wide += u'\uAC00';
    narrow += '?';
  }
  wide += u'\u3042';
  narrow += "\x82\xA0";
  EXPECT_EQ(Encode(wide), narrow);
}

TEST(CodePage932, ConversionsRunSideBySideOnSeveralThreads) {
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < 200; ++i) {
        if (Decode("\x87\x40\x81\x60"
                   "A") != u"\u2460\uFF5EA")
          ++failures[t];
        if (Encode(u"\u2460\uFF5E\u20AC") != "\x87\x40\x81\x60?") ++failures[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

TEST(CodePageUtf8, DecodesAndEncodes) {
  EXPECT_EQ(Decode("a\xE6\x9C\x88\xF0\x9F\x98\x80\xFF", CP_UTF8), u"a\u6708\U0001F600\uFFFD");
  EXPECT_EQ(Encode(u"a\u6708\U0001F600", 0, nullptr, CP_UTF8), "a\xE6\x9C\x88\xF0\x9F\x98\x80");
  const char16_t unpaired[] = {0xDC00, 0};
  EXPECT_EQ(Encode(unpaired, 0, nullptr, CP_UTF8), "\xEF\xBF\xBD");
}

TEST(CodePages, InvalidCallsFail) {
  WCHAR wide[4];
  char bytes[4];
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "a", 1, wide, 4), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a", 0, wide, 4), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, nullptr, 1, wide, 4), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a", 1, nullptr, 4), 0);
  EXPECT_EQ(WideCharToMultiByte(1252, 0, u"a", 1, bytes, 4, nullptr, nullptr), 0);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"a", -2, bytes, 4, nullptr, nullptr), 0);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"a", 1, bytes, -1, nullptr, nullptr), 0);
}

}  // namespace
