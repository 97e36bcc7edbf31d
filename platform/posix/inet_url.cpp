// URL cracking, InternetCrackUrlW: pointers into the caller's URL, nothing copied.
// Generic POSIX code only; it neither opens handles nor sends anything.
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/inet.h"
#include "platform/posix/host_failure_notes.h"
#include "platform/posix/inet_internal.h"
#include "platform/posix/utf.h"

namespace {

struct Span {
  size_t begin = 0;
  size_t length = 0;
  bool present = false;
};

// The parts between "//" and the path.
struct Authority {
  Span user;
  Span password;
  Span host;
  INTERNET_PORT port = 0;
};

// A component of URL_COMPONENTSW: its pointer and its length.
struct Field {
  LPWSTR* text;
  DWORD* length;
};

void Give(LPCWSTR url, const Span& span, const Field& field) {
  if (*field.length == 0) return;
  *field.text = span.present ? const_cast<LPWSTR>(url + span.begin) : nullptr;
  *field.length = span.present ? static_cast<DWORD>(span.length) : 0;
}

bool SchemeIs(std::u16string_view scheme, std::string_view name) {
  return scheme.size() == name.size() && platform::inet::StartsWithNoCase(scheme, name);
}

// The port in url[begin, end): 1 to 65535 in at most five digits. No digits leave *port as is.
bool ReadPort(LPCWSTR url, size_t begin, size_t end, INTERNET_PORT* port) {
  if (end - begin > 5) return false;
  if (end == begin) return true;
  unsigned value = 0;
  for (size_t i = begin; i < end; ++i) {
    if (url[i] < '0' || url[i] > '9') return false;
    value = value * 10 + (url[i] - '0');
  }
  if (value == 0 || value > 65535) return false;
  *port = static_cast<INTERNET_PORT>(value);
  return true;
}

// Splits url[begin, end) into user, password, host and port; *a's port is the scheme's
// default on entry. False without a host or with a bad port.
bool SplitAuthority(LPCWSTR url, size_t begin, size_t end, Authority* a) {
  size_t hostBegin = begin;
  for (size_t i = end; i > begin; --i) {
    if (url[i - 1] == '@') {
      hostBegin = i;
      break;
    }
  }
  if (hostBegin != begin) {
    size_t userEnd = begin;
    while (userEnd < hostBegin - 1 && url[userEnd] != ':') ++userEnd;
    a->user = {begin, userEnd - begin, true};
    if (userEnd < hostBegin - 1) a->password = {userEnd + 1, hostBegin - 1 - (userEnd + 1), true};
  }

  size_t hostEnd = hostBegin;
  if (hostBegin < end && url[hostBegin] == '[') {
    while (hostEnd < end && url[hostEnd] != ']') ++hostEnd;
    if (hostEnd == end) return false;
    ++hostEnd;
  } else {
    while (hostEnd < end && url[hostEnd] != ':') ++hostEnd;
  }
  if (hostEnd == hostBegin) return false;
  a->host = {hostBegin, hostEnd - hostBegin, true};
  if (hostEnd == end) return true;
  return url[hostEnd] == ':' && ReadPort(url, hostEnd + 1, end, &a->port);
}

BOOL CrackUrl(LPCWSTR url, DWORD urlLength, DWORD flags, LPURL_COMPONENTSW components) {
  URL_COMPONENTSW* c = components;
  if (url == nullptr || c == nullptr || flags != 0 || c->dwStructSize != sizeof(URL_COMPONENTSW)) {
    return FALSE;
  }
  const Field fields[] = {
      {&c->lpszScheme, &c->dwSchemeLength},     {&c->lpszHostName, &c->dwHostNameLength},
      {&c->lpszUserName, &c->dwUserNameLength}, {&c->lpszPassword, &c->dwPasswordLength},
      {&c->lpszUrlPath, &c->dwUrlPathLength},   {&c->lpszExtraInfo, &c->dwExtraInfoLength}};
  // Copying into caller buffers is not offered: only pointers into the URL.
  for (const Field& field : fields) {
    if (*field.text != nullptr && *field.length != 0) return FALSE;
  }
  size_t n = urlLength;
  if (n == 0) {
    while (url[n] != 0) ++n;
  }

  Span scheme{0, 0, true};
  while (scheme.length < n && url[scheme.length] != ':') ++scheme.length;
  if (scheme.length == n) return FALSE;
  std::u16string_view schemeText(url, scheme.length);
  bool secure = SchemeIs(schemeText, "https");
  if (!secure && !SchemeIs(schemeText, "http")) return FALSE;
  size_t at = scheme.length + 1;
  if (n - at < 2 || url[at] != '/' || url[at + 1] != '/') return FALSE;
  size_t authority = at + 2;
  size_t authorityEnd = authority;
  while (authorityEnd < n && url[authorityEnd] != '/' && url[authorityEnd] != '?' &&
         url[authorityEnd] != '#') {
    ++authorityEnd;
  }
  Authority a;
  a.port = secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
  if (!SplitAuthority(url, authority, authorityEnd, &a)) return FALSE;

  size_t pathEnd = authorityEnd;
  while (pathEnd < n && url[pathEnd] != '?' && url[pathEnd] != '#') ++pathEnd;
  Span path{authorityEnd, pathEnd - authorityEnd, pathEnd > authorityEnd};
  Span extra{pathEnd, n - pathEnd, n > pathEnd};

  c->nScheme = secure ? INTERNET_SCHEME_HTTPS : INTERNET_SCHEME_HTTP;
  c->nPort = a.port;
  const Span spans[] = {scheme, a.host, a.user, a.password, path, extra};
  for (int i = 0; i < 6; ++i) Give(url, spans[i], fields[i]);
  return TRUE;
}

}  // namespace

BOOL InternetCrackUrlW(LPCWSTR url, DWORD urlLength, DWORD flags, LPURL_COMPONENTSW components) {
  if (CrackUrl(url, urlLength, flags, components)) return TRUE;
  platform::NoteBadUrl(url != nullptr ? platform::Utf16ToUtf8(url) : std::string());
  return FALSE;
}
