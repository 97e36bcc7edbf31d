#include "tests/support/cp932.h"

#include <gtest/gtest.h>
#include <iconv.h>

namespace zemlik::testing {

std::string Cp932(const std::string& utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  std::string out(utf8.size() * 2 + 16, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char* to = out.data();
  size_t outLeft = out.size();
  const size_t converted = iconv(cd, &in, &inLeft, &to, &outLeft);
  iconv_close(cd);
  EXPECT_NE(converted, static_cast<size_t>(-1)) << "not in code page 932: " << utf8;
  out.resize(out.size() - outLeft);
  return out;
}

}  // namespace zemlik::testing
