// URL cracking in the WinINet subset. What goes over the wire is pinned through SendReqData
// and the fetches (http/), which see this layer's answers and error codes.
#include "platform/inet.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/common/inet_timeout.h"
#include "tests/support/testing.h"

namespace zemlik::test {
namespace {

// Each component of a split URL, "-" where absent; "" for a URL that cannot be split.
std::string Cracked(const std::u16string& url, DWORD length = 0) {
  URL_COMPONENTSW c{sizeof c};
  c.dwSchemeLength = c.dwHostNameLength = c.dwUserNameLength = c.dwPasswordLength =
      c.dwUrlPathLength = c.dwExtraInfoLength = 1;
  if (!InternetCrackUrlW(url.c_str(), length, 0, &c)) return "";
  std::string out = std::to_string(c.nScheme) + " " + std::to_string(c.nPort);
  const LPWSTR texts[] = {c.lpszScheme,   c.lpszHostName, c.lpszUserName,
                          c.lpszPassword, c.lpszUrlPath,  c.lpszExtraInfo};
  const DWORD sizes[] = {c.dwSchemeLength,   c.dwHostNameLength, c.dwUserNameLength,
                         c.dwPasswordLength, c.dwUrlPathLength,  c.dwExtraInfoLength};
  for (int i = 0; i < 6; ++i) out += " " + (texts[i] ? Utf8({texts[i], sizes[i]}) : "-");
  return out;
}

TEST(Inet, CrackingSplitsIntoPointersIntoTheUrl) {
  EXPECT_EQ(Cracked(u"http://shop.example/list.csv?m=12"),
            "3 80 http shop.example - - /list.csv ?m=12");
  EXPECT_EQ(Cracked(u"HTTPS://u:p@a:8443/?a=b#frag"), "4 8443 HTTPS a u p / ?a=b#frag");
  EXPECT_EQ(Cracked(u"https://host"), "4 443 https host - - - -");
  EXPECT_EQ(Cracked(u"http://user@[::1]:8080#top"), "3 8080 http [::1] user - - #top");
  EXPECT_EQ(Cracked(u"http://a@b@host:/p@q"), "3 80 http host a@b - /p@q -");
  EXPECT_EQ(Cracked(u"http://host/path?q", 11), "3 80 http host - - - -");
  for (const char16_t* url :
       {u"file://host/", u"http:", u"http:x/", u"http:/host", u"http://", u"http://:80/",
        u"http://h:0/", u"http://h:65536/", u"http://h:123456/", u"http://h:-1/", u"http://h:8x/",
        u"http://[::1/", u"http://[::1]x/", u"://host/"}) {
    EXPECT_EQ(Cracked(url), "") << Utf8(url);
  }
}

// A time limit in ZEMLIK_INET_TIMEOUT_MS is a whole number of milliseconds above zero.
TEST(Inet, ATimeLimitIsMillisecondsAboveZero) {
  for (auto [value, limit] : {std::pair{"250", 250}, {"0", 60000}, {"-5", 60000}, {"5x", 60000}}) {
    ScopedEnv set({{"ZEMLIK_INET_TIMEOUT_MS", value}});
    EXPECT_EQ(platform::InetTimeoutMs(), limit) << value;
  }
}

}  // namespace
}  // namespace zemlik::test
