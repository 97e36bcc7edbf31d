// A URL fetched as text or stored as a file, through one request and the charset's conversion.
#include "http/fetch.h"

#include <utility>

#include "http/charset.h"
#include "http/conversions.h"
#include "http/request.h"
#include "lists/output_file.h"
#include "platform/files.h"
#include "platform/inet.h"
#include "platform/memory.h"
#include "platform/scoped.h"
#include "platform/text.h"

namespace {

enum class Charset { kSjis, kUtf8, kUnicode, kBin };

// A name outside the four canonical ones is handled as "BIN": no conversion either way.
Charset CharsetOf(LPCWSTR name) {
  if (name != nullptr) {
    if (wcscmp(name, kCharsetSjis) == 0) return Charset::kSjis;
    if (wcscmp(name, kCharsetUtf8) == 0) return Charset::kUtf8;
    if (wcscmp(name, kCharsetUnicode) == 0) return Charset::kUnicode;
  }
  return Charset::kBin;
}

// Host and page taken from the URL, the port and scheme to use, and the encoded post data.
struct Target {
  platform::LocalPtr<WCHAR[]> host;
  platform::LocalPtr<WCHAR[]> page;
  int port = -1;
  BOOL secure = FALSE;
  platform::LocalPtr<char[]> post;
  LPCWSTR method = TEXT("GET");
};

platform::LocalPtr<WCHAR[]> Join(LPCWSTR first, DWORD firstLength, LPCWSTR second,
                                 DWORD secondLength) {
  SIZE_T length = static_cast<SIZE_T>(firstLength) + secondLength;
  platform::LocalPtr<WCHAR[]> joined = platform::LocalAllocArray<WCHAR>(length + 1);
  if (!joined) return joined;
  for (DWORD i = 0; i < firstLength; ++i) joined[i] = first[i];
  for (DWORD i = 0; i < secondLength; ++i) joined[firstLength + i] = second[i];
  joined[length] = 0;
  return joined;
}

int Prepare(LPCWSTR url, LPCWSTR postData, int port, LPCWSTR method, Charset charset,
            Target* target) {
  if (url == nullptr) return kFetchBadUrl;
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.dwSchemeLength = 1;
  parts.dwHostNameLength = 1;
  parts.dwUserNameLength = 1;
  parts.dwPasswordLength = 1;
  parts.dwUrlPathLength = 1;
  parts.dwExtraInfoLength = 1;
  if (!InternetCrackUrlW(url, 0, 0, &parts)) return kFetchBadUrl;

  target->host = Join(parts.lpszHostName, parts.dwHostNameLength, nullptr, 0);
  target->page =
      Join(parts.lpszUrlPath, parts.dwUrlPathLength, parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (!target->host || !target->page) return kFetchNoMemory;
  target->port = port < 0 ? parts.nPort : port;
  target->secure = parts.nScheme == INTERNET_SCHEME_HTTPS ? TRUE : FALSE;

  if (postData != nullptr && postData[0] != 0 &&
      (charset == Charset::kSjis || charset == Charset::kUtf8)) {
    LPSTR encoded = nullptr;
    int converted =
        charset == Charset::kSjis ? WideToAnsi(postData, &encoded) : WideToUtf8(postData, &encoded);
    if (converted != 0) return kFetchNoMemory;
    target->post.reset(encoded);
  }
  if (method != nullptr && wcscmp(method, TEXT("POST")) == 0) target->method = TEXT("POST");
  return kFetchOk;
}

int Send(const Target& target, LPCWSTR user, LPCWSTR password, platform::LocalPtr<char[]>* body,
         DWORD* bodyLength) {
  LPSTR received = nullptr;
  int result = SendReqData(target.host.get(), target.method, target.page.get(), target.port, user,
                           password, target.post.get(), &received, bodyLength, target.secure);
  body->reset(received);
  return result;
}

// "SJIS" and "UTF8" bodies as wide text, up to their first zero byte.
int Decode(Charset charset, LPCSTR body, platform::LocalPtr<WCHAR[]>* text) {
  LPWSTR decoded = nullptr;
  int converted =
      charset == Charset::kSjis ? AnsiToWide(body, &decoded) : Utf8ToWide(body, &decoded);
  if (converted != 0) return kFetchNoMemory;
  text->reset(decoded);
  return kFetchOk;
}

// A body taken as UTF-16: a leading byte-order mark chooses the byte order (little-endian
// without one) and is dropped; the text ends at the first zero unit or an odd last byte.
int DecodeUtf16(const char* body, DWORD length, platform::LocalPtr<WCHAR[]>* text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(body);
  bool bigEndian = false;
  DWORD at = 0;
  if (length >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    at = 2;
  } else if (length >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
    bigEndian = true;
    at = 2;
  }
  SIZE_T units = (length - at) / 2;
  platform::LocalPtr<WCHAR[]> wide = platform::LocalAllocArray<WCHAR>(units + 1);
  if (!wide) return kFetchNoMemory;
  SIZE_T count = 0;
  for (; count < units; ++count) {
    unsigned char a = bytes[at + 2 * count];
    unsigned char b = bytes[at + 2 * count + 1];
    WCHAR unit = bigEndian ? static_cast<WCHAR>(a << 8 | b) : static_cast<WCHAR>(b << 8 | a);
    if (unit == 0) break;
    wide[count] = unit;
  }
  wide[count] = 0;
  *text = std::move(wide);
  return kFetchOk;
}

}  // namespace

int GetUrlText(LPCWSTR url, LPCWSTR postData, int port, LPCWSTR user, LPCWSTR password,
               LPCWSTR method, LPCWSTR charset, LPWSTR* text) {
  Charset kind = CharsetOf(charset);
  Target target;
  int result = Prepare(url, postData, port, method, kind, &target);
  if (result != kFetchOk) return result;

  platform::LocalPtr<char[]> body;
  DWORD bodyLength = 0;
  result = Send(target, user, password, &body, &bodyLength);
  if (result != 0) return result;

  platform::LocalPtr<WCHAR[]> decoded;
  if (kind == Charset::kSjis || kind == Charset::kUtf8) {
    result = Decode(kind, body.get(), &decoded);
    if (result != kFetchOk) return result;
  }
  *text = decoded.release();
  return kFetchOk;
}

int GetUrlFile(LPCWSTR url, LPCWSTR postData, int port, LPCWSTR user, LPCWSTR password,
               LPCWSTR method, LPCWSTR charset, LPCWSTR outputPath) {
  Charset kind = CharsetOf(charset);
  Target target;
  int result = Prepare(url, postData, port, method, kind, &target);
  if (result != kFetchOk) return result;

  PendingOutputFile file(outputPath);
  if (!file.valid()) return kFetchNoOutputFile;

  if (kind == Charset::kBin) {
    // Raw bytes go to the file as they arrive; nothing is decoded, so nothing is held.
    result = SendReqDataToFile(target.host.get(), target.method, target.page.get(), target.port,
                               user, password, target.post.get(), file.handle(), target.secure);
    if (result != 0) return result;
  } else {
    platform::LocalPtr<char[]> body;
    DWORD bodyLength = 0;
    result = Send(target, user, password, &body, &bodyLength);
    if (result != 0) return result;
    platform::LocalPtr<WCHAR[]> text;
    result = kind == Charset::kUnicode ? DecodeUtf16(body.get(), bodyLength, &text)
                                       : Decode(kind, body.get(), &text);
    if (result != kFetchOk) return result;
    body.reset();
    if (WriteLine(file.handle(), text.get()) != kLineWritten) return kFetchWriteFailed;
  }
  return file.Commit() ? kFetchOk : kFetchNoOutputFile;
}
