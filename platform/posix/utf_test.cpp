#include "platform/posix/utf.h"

#include "gtest/gtest.h"

namespace {

TEST(Utf, DecodesAndReplacesEachBadByte) {
  EXPECT_EQ(platform::Utf8ToUtf16("a\xE6\x9C\x88\xF0\x9F\x98\x80"), u"a月😀");
  // A stray trail byte, a cut sequence, an overlong form and a surrogate.
  EXPECT_EQ(platform::Utf8ToUtf16("\x80"
                                  "a\xE6\x9C"
                                  "b\xC0\xAF\xED\xA0\x80"),
            u"\uFFFDa\uFFFD\uFFFDb\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(platform::Utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
}

TEST(Utf, EncodesAndReplacesUnpairedSurrogates) {
  EXPECT_EQ(platform::Utf16ToUtf8(u"a月😀"), "a\xE6\x9C\x88\xF0\x9F\x98\x80");
  const char16_t lone[] = {0xDC00, u'x', 0xD800, 0};
  EXPECT_EQ(platform::Utf16ToUtf8(lone), "\xEF\xBF\xBDx\xEF\xBF\xBD");
  EXPECT_EQ(platform::Utf16ToUtf8(nullptr), "");
}

}  // namespace
