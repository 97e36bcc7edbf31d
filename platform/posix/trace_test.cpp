#include "platform/trace.h"

#include <stdlib.h>

#include "gtest/gtest.h"

namespace {

TEST(Trace, GoesToStandardErrorOnlyWhenAskedFor) {
  unsetenv("ZEMLIK_TRACE");
  ::testing::internal::CaptureStderr();
  OutputDebugStringW(u"hidden");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

  setenv("ZEMLIK_TRACE", "", 1);
  ::testing::internal::CaptureStderr();
  OutputDebugStringW(u"cs=1 cl=[/o:\\My Documents\\月.csv]");
  OutputDebugStringW(u"");
  const char16_t broken[] = {u'a', 0xD800, u'b', 0};
  OutputDebugStringW(broken);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "cs=1 cl=[/o:\\My Documents\\月.csv]\n\na\xEF\xBF\xBD"
            "b\n");
  unsetenv("ZEMLIK_TRACE");
}

}  // namespace
