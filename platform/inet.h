// The WinINet subset the program calls, under the Win32 names, implemented over libcurl.
// All calls are synchronous. Only the flags and arguments listed here are accepted; a call
// given anything else fails (null handle or FALSE) rather than silently doing something else.
//
// Behaviour on the host:
// - INTERNET_OPEN_TYPE_PRECONFIG uses the host's proxy variables as curl reads them
//   (http_proxy, https_proxy, all_proxy, no_proxy).
// - Redirects are followed, at most 10. A user name and password given to InternetConnectW
//   are offered for HTTP Basic authentication once the server asks for them (a 401 with a
//   Basic challenge): the request is sent again with them, never before.
// - The request carries Host, the agent string as User-Agent exactly, the headers given to
//   HttpSendRequestW and, for POST, Content-Length; nothing else (no Accept, no Expect).
// - https (INTERNET_FLAG_SECURE) verifies the server certificate. The CA bundle is the
//   system's, or the file named by CURL_CA_BUNDLE, else by SSL_CERT_FILE.
// - Time limits: connecting gives up after 60 s, and a transfer that delivers no byte for
//   60 s fails. ZEMLIK_INET_TIMEOUT_MS=<milliseconds> replaces both (for tests).
// - The body is streamed: at most about 1 MiB that the program has not read is buffered.
#pragma once

#include <cstdint>

#include "platform/win32.h"

#if defined(_WIN32)
// Windows has WinINet itself: the system's calls, as they are, the proxy being the
// system's setting. Only InternetOpenW and InternetConnectW go through the layer,
// which gives their handles the time limits above: connect, send and receive 60 s
// each, or ZEMLIK_INET_TIMEOUT_MS.
#include <wininet.h>

namespace platform {
HINTERNET TimedInternetOpenW(LPCWSTR agent, DWORD accessType, LPCWSTR proxy, LPCWSTR proxyBypass,
                             DWORD flags);
HINTERNET TimedInternetConnectW(HINTERNET internet, LPCWSTR serverName, INTERNET_PORT serverPort,
                                LPCWSTR userName, LPCWSTR password, DWORD service, DWORD flags,
                                DWORD_PTR context);
}  // namespace platform

#else

using HINTERNET = void*;
using DWORD_PTR = std::uintptr_t;

constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG = 0;
constexpr DWORD INTERNET_SERVICE_HTTP = 3;
constexpr DWORD INTERNET_FLAG_RELOAD = 0x80000000;
// Sends the request over TLS with certificate verification.
constexpr DWORD INTERNET_FLAG_SECURE = 0x00800000;

constexpr INTERNET_PORT INTERNET_INVALID_PORT_NUMBER = 0;
constexpr INTERNET_PORT INTERNET_DEFAULT_HTTP_PORT = 80;
constexpr INTERNET_PORT INTERNET_DEFAULT_HTTPS_PORT = 443;

// Only access type INTERNET_OPEN_TYPE_PRECONFIG, with null proxy and bypass, flags 0.
HINTERNET InternetOpenW(LPCWSTR agent, DWORD accessType, LPCWSTR proxy, LPCWSTR proxyBypass,
                        DWORD flags);

// Only INTERNET_SERVICE_HTTP, flags 0, context 0 (no status callback). Port 0
// (INTERNET_INVALID_PORT_NUMBER) means the scheme's default: 80, or 443 for a request opened with
// INTERNET_FLAG_SECURE. Nothing is sent yet: the connection is made by HttpSendRequestW.
HINTERNET InternetConnectW(HINTERNET internet, LPCWSTR serverName, INTERNET_PORT serverPort,
                           LPCWSTR userName, LPCWSTR password, DWORD service, DWORD flags,
                           DWORD_PTR context);

// Verb "GET" or "POST" (null means "GET"); version "HTTP/1.1", "HTTP/1.0" or null; referrer
// and accept types null; flags any of INTERNET_FLAG_RELOAD and INTERNET_FLAG_SECURE; context 0.
// The object is the path and query; a missing leading slash is supplied, and bytes a URL
// cannot carry (blanks, controls, non-ASCII as UTF-8) are sent percent-encoded.
HINTERNET HttpOpenRequestW(HINTERNET connect, LPCWSTR verb, LPCWSTR objectName, LPCWSTR version,
                           LPCWSTR referrer, LPCWSTR* acceptTypes, DWORD flags, DWORD_PTR context);

// Sends the request and returns TRUE once the final response's headers have arrived
// (whatever its status); FALSE when no response came (refused, unreachable, time limit,
// TLS failure, too many redirects, a proxy that refused the tunnel), GetLastError saying
// why (an ERROR_INTERNET_* or ERROR_HTTP_* code below). headersLength (UINT32_MAX =
// zero-terminated) counts the characters of `headers`: header lines separated by CR LF. `optional`
// is the POST body.
BOOL HttpSendRequestW(HINTERNET request, LPCWSTR headers, DWORD headersLength, LPVOID optional,
                      DWORD optionalLength);

// Blocks until `bytesToRead` body bytes are copied or the body ends. TRUE with *bytesRead 0
// at the end of the body; FALSE when the transfer broke (a reset, the time limit, a
// malformed chunked stream, fewer bytes than the Content-Length), after the bytes that did
// arrive were delivered by earlier calls; GetLastError says why.
BOOL InternetReadFile(HINTERNET file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead);

constexpr DWORD HTTP_QUERY_CONTENT_LENGTH = 5;
constexpr DWORD HTTP_QUERY_STATUS_CODE = 19;
constexpr DWORD HTTP_QUERY_FLAG_NUMBER = 0x20000000;

// The WinINet error codes the layer reports through GetLastError.
constexpr DWORD ERROR_INTERNET_TIMEOUT = 12002;
constexpr DWORD ERROR_INTERNET_INTERNAL_ERROR = 12004;
constexpr DWORD ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;
constexpr DWORD ERROR_INTERNET_CONNECTION_ABORTED = 12030;
constexpr DWORD ERROR_INTERNET_INVALID_PROXY_REQUEST = 12033;  // a proxy setting not understood
constexpr DWORD ERROR_INTERNET_INVALID_CA = 12045;
constexpr DWORD ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;
constexpr DWORD ERROR_HTTP_REDIRECT_FAILED = 12156;
constexpr DWORD ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157;

// HTTP_QUERY_CONTENT_LENGTH or HTTP_QUERY_STATUS_CODE, with HTTP_QUERY_FLAG_NUMBER, index
// null, on a sent request: the final response's Content-Length or status code as a DWORD.
// FALSE when it has none (a body chunked or ended by closing) or it does not fit.
BOOL HttpQueryInfoW(HINTERNET request, DWORD infoLevel, LPVOID buffer, LPDWORD bufferLength,
                    LPDWORD index);

// Closes a handle of any kind. Handles are independent: closing a root or connection
// handle leaves requests opened through it working.
BOOL InternetCloseHandle(HINTERNET internet);

enum INTERNET_SCHEME : int {
  INTERNET_SCHEME_UNKNOWN = -1,
  INTERNET_SCHEME_HTTP = 3,
  INTERNET_SCHEME_HTTPS = 4,
};

struct URL_COMPONENTSW {
  DWORD dwStructSize;
  LPWSTR lpszScheme;
  DWORD dwSchemeLength;
  INTERNET_SCHEME nScheme;
  LPWSTR lpszHostName;
  DWORD dwHostNameLength;
  INTERNET_PORT nPort;
  LPWSTR lpszUserName;
  DWORD dwUserNameLength;
  LPWSTR lpszPassword;
  DWORD dwPasswordLength;
  LPWSTR lpszUrlPath;
  DWORD dwUrlPathLength;
  LPWSTR lpszExtraInfo;
  DWORD dwExtraInfoLength;
};
using LPURL_COMPONENTSW = URL_COMPONENTSW*;

// Splits "scheme://[user[:password]@]host[:port][/path][?extra|#extra]" for the schemes
// http and https (any case). dwStructSize must be sizeof(URL_COMPONENTSW); urlLength 0
// means zero-terminated; flags must be 0. Each component whose length field is non-zero
// (and whose pointer is null) receives a pointer into `url` and its length; an absent
// component gets null and 0. nScheme and nPort (the URL's port, else 80 or 443) are always
// set. FALSE for another scheme, a missing "//" or host, or a port that is not 1 to 65535.
BOOL InternetCrackUrlW(LPCWSTR url, DWORD urlLength, DWORD flags, LPURL_COMPONENTSW components);

#endif  // _WIN32
