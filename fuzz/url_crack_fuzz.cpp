// InternetCrackUrlW on arbitrary text: every component it hands back must lie inside the
// URL, and a URL it accepts must have a host, a known scheme and a port.
//
// Input: the first byte chooses zero-terminated (even) or explicit length (odd); each
// further byte is one UTF-16 unit, except 0xFE, which takes the next two bytes as a unit
// (so "http://" is easy to reach and any unit still possible).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/inet.h"

namespace {

void CheckInside(const WCHAR* url, size_t length, const WCHAR* part, DWORD partLength) {
  if (part == nullptr) {
    if (partLength != 0) std::abort();
    return;
  }
  if (part < url || part > url + length || partLength > length ||
      part + partLength > url + length) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  bool explicitLength = (data[0] & 1) != 0;
  std::vector<WCHAR> url;
  for (size_t i = 1; i < size; ++i) {
    if (data[i] == 0xFE && i + 2 < size) {
      url.push_back(static_cast<WCHAR>(data[i + 1] << 8 | data[i + 2]));
      i += 2;
    } else {
      url.push_back(data[i]);
    }
  }
  size_t length = url.size();
  url.push_back(0);
  if (!explicitLength) {
    length = 0;
    while (url[length] != 0) ++length;
  }
  if (explicitLength && length == 0) return 0;  // 0 would mean zero-terminated

  URL_COMPONENTSW c = {};
  c.dwStructSize = sizeof(c);
  c.dwSchemeLength = c.dwHostNameLength = c.dwUserNameLength = c.dwPasswordLength =
      c.dwUrlPathLength = c.dwExtraInfoLength = 1;
  BOOL ok = InternetCrackUrlW(url.data(), explicitLength ? static_cast<DWORD>(length) : 0, 0, &c);
  if (!ok) return 0;
  CheckInside(url.data(), length, c.lpszScheme, c.dwSchemeLength);
  CheckInside(url.data(), length, c.lpszHostName, c.dwHostNameLength);
  CheckInside(url.data(), length, c.lpszUserName, c.dwUserNameLength);
  CheckInside(url.data(), length, c.lpszPassword, c.dwPasswordLength);
  CheckInside(url.data(), length, c.lpszUrlPath, c.dwUrlPathLength);
  CheckInside(url.data(), length, c.lpszExtraInfo, c.dwExtraInfoLength);
  if (c.lpszHostName == nullptr || c.dwHostNameLength == 0 || c.nPort == 0) std::abort();
  if (c.nScheme != INTERNET_SCHEME_HTTP && c.nScheme != INTERNET_SCHEME_HTTPS) std::abort();
  // Path and extra information follow each other and end the URL.
  const WCHAR* end = url.data() + length;
  if (c.lpszExtraInfo != nullptr && c.lpszExtraInfo + c.dwExtraInfoLength != end) std::abort();
  if (c.lpszUrlPath != nullptr && c.lpszExtraInfo == nullptr &&
      c.lpszUrlPath + c.dwUrlPathLength != end) {
    std::abort();
  }
  return 0;
}
