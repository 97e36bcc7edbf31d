// URL fetch: one request for a URL, its body handed back as wide text or written to a file,
// as the charset (a name from http/charset.h) says.
#pragma once

#include "platform/win32.h"

// Result codes of GetUrlText and GetUrlFile besides those of SendReqData (http/request.h),
// which are passed through unchanged: among them kRequestBodyBroken (-106) and
// kRequestHttpError (-107), so neither routine hands on a body that did not arrive whole or
// an error page, and kRequestWriteFailed (-108) for a raw body the file did not take whole.
constexpr int kFetchOk = 0;
constexpr int kFetchNoOutputFile = -111;  // the output file cannot be created or put in place
constexpr int kFetchNoMemory = -112;      // a buffer, the post data or the response conversion
constexpr int kFetchBadUrl = -113;        // the URL cannot be split (a null URL included)
constexpr int kFetchWriteFailed = -114;   // the decoded body's WriteLine failed

// Both routines split `url` and request its path and query from its host. A negative `port`
// means the URL's own port (its scheme's default when it names none); a non-negative one
// wins. An https URL is fetched over TLS with certificate verification. `postData` is
// encoded by `charset` ("SJIS": ANSI code page, "UTF8": UTF-8; dropped for "UNICODE" and
// "BIN") and sent when `method` is "POST" exactly; any other method sends a GET.

// On 0, *text is the body decoded by `charset` ("SJIS" from the ANSI code page, "UTF8" from
// UTF-8, both up to the first zero byte), LocalAlloc'd for the caller to LocalFree; null for
// "UNICODE" and "BIN". On any other result *text is untouched.
int GetUrlText(LPCWSTR url, LPCWSTR postData, int port, LPCWSTR user, LPCWSTR password,
               LPCWSTR method, LPCWSTR charset, LPWSTR* text);

// Writes the body to `outputPath`: "BIN" as raw bytes, written as they arrive (nothing is
// held in memory); "SJIS" and "UTF8" decoded as above
// and "UNICODE" taken as UTF-16 (little-endian unless a big-endian byte-order mark leads; a
// leading mark dropped; up to the first zero unit), each as one line through WriteLine.
// The body goes to a PendingOutputFile (lists/output_file.h) that replaces `outputPath` only
// once it is complete: on every failure an existing file is left as it was and the
// temporary file is removed. -111 before anything is sent when no temporary file can be
// created there, or at the end when the new file cannot be put in place.
int GetUrlFile(LPCWSTR url, LPCWSTR postData, int port, LPCWSTR user, LPCWSTR password,
               LPCWSTR method, LPCWSTR charset, LPCWSTR outputPath);
