#include "tests/support/cp932.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "tests/support/win32/host.h"

namespace zemlik::testing {

std::string Cp932(const std::string& utf8) {
  const std::wstring wide = Wide(utf8);
  if (wide.empty()) return std::string();
  BOOL lacking = FALSE;
  const int n = WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, wide.data(),
                                    static_cast<int>(wide.size()), nullptr, 0, nullptr, &lacking);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                      out.data(), n, nullptr, &lacking);
  EXPECT_FALSE(lacking) << "not in code page 932: " << utf8;
  return out;
}

}  // namespace zemlik::testing
