#include "tests/support/proxy_target.h"

#include <windows.h>

namespace zemlik::testing {
namespace {

bool UnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace

std::string ProxyTarget(const std::string& host, const std::string& target) {
  static const bool wine = UnderWine();
  return "http://" + host + (wine ? ":80" : "") + target;
}

}  // namespace zemlik::testing
