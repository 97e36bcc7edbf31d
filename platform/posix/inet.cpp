// The WinINet handle calls: sessions, connections and requests in the layer's handle table.
// Generic POSIX code only; the exchange itself is inet_transfer.cpp's.
#include "platform/inet.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/host_failure_notes.h"
#include "platform/posix/inet_internal.h"
#include "platform/posix/object.h"
#include "platform/posix/utf.h"

namespace {

using platform::inet::RequestPlan;
using platform::inet::Transfer;

// Every WinINet handle; closed by InternetCloseHandle only.
class InternetObject : public platform::Object {
 public:
  bool ClosesWithCloseHandle() const override { return false; }
};

struct Root : InternetObject {
  std::string agent;
};

// What a connection handle fixes for the requests opened through it.
struct Server {
  std::string agent;
  std::string host;
  INTERNET_PORT port = 0;
  std::string user;
  std::string password;
  bool hasUser = false;
};

struct Connection : InternetObject {
  Server server;
};

// The fields before `mutex` are set before the handle exists and never change.
struct Request : InternetObject {
  Server server;
  bool post = false;
  bool http10 = false;
  bool secure = false;
  std::string target;
  // Calls on one request take turns: the transfer serves one caller at a time.
  std::mutex mutex;
  std::unique_ptr<Transfer> transfer;  // guarded by mutex
};

HINTERNET Register(std::shared_ptr<InternetObject> object) {
  return platform::NewHandle(std::move(object));
}

// The request target as curl must see it: bytes a URL cannot carry are percent-encoded.
std::string EncodeTarget(const std::string& object) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  if (object.empty() || object[0] != '/') out += '/';
  for (unsigned char c : object) {
    if (c <= 0x20 || c >= 0x7F) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// The request's method and version from HttpOpenRequestW's words (null: GET, HTTP/1.1);
// false for others.
bool SetMethod(Request* request, LPCWSTR verb, LPCWSTR version) {
  const std::u16string_view method = verb != nullptr ? verb : u"GET";
  const std::u16string_view http = version != nullptr ? version : u"HTTP/1.1";
  if ((method != u"GET" && method != u"POST") || (http != u"HTTP/1.1" && http != u"HTTP/1.0")) {
    return false;
  }
  request->post = method == u"POST";
  request->http10 = http == u"HTTP/1.0";
  return true;
}

// The header lines of HttpSendRequestW's CR LF separated text; empty lines are dropped.
std::vector<std::string> HeaderLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find("\r\n", begin);
    if (end == std::string::npos) end = text.size();
    if (end > begin) lines.push_back(text.substr(begin, end - begin));
    begin = end + 2;
  }
  return lines;
}

// What HttpSendRequestW sends for `request`, given its headers and body.
RequestPlan PlanOf(const Request& request, LPCWSTR headers, DWORD headersLength, LPVOID optional,
                   DWORD optionalLength) {
  const Server& s = request.server;
  RequestPlan plan;
  INTERNET_PORT port = s.port;
  if (port == INTERNET_INVALID_PORT_NUMBER) {
    port = request.secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
  }
  plan.url = (request.secure ? "https://" : "http://") + s.host + ":" + std::to_string(port) +
             request.target;
  plan.agent = s.agent;
  plan.user = s.user;
  plan.password = s.password;
  plan.hasUser = s.hasUser;
  plan.post = request.post;
  plan.http10 = request.http10;
  if (request.post && optional != nullptr) {
    plan.postData.assign(static_cast<const char*>(optional), optionalLength);
  }
  if (headers != nullptr) {
    plan.headers =
        HeaderLines(headersLength == 0xFFFFFFFFu ? platform::Utf16ToUtf8(headers)
                                                 : platform::Utf16ToUtf8(headers, headersLength));
  }
  return plan;
}

// A failed exchange: its WinINet error for GetLastError, libcurl's words for the exit report.
BOOL Failed(const Transfer& transfer) {
  SetLastError(transfer.error());
  platform::NoteRequestFailure(transfer.detail(), transfer.TunnelRefusal());
  return FALSE;
}

}  // namespace

HINTERNET InternetOpenW(LPCWSTR agent, DWORD accessType, LPCWSTR proxy, LPCWSTR proxyBypass,
                        DWORD flags) try {
  if (accessType != INTERNET_OPEN_TYPE_PRECONFIG || proxy != nullptr || proxyBypass != nullptr ||
      flags != 0) {
    return nullptr;
  }
  platform::inet::InitTransfers();
  auto root = std::make_shared<Root>();
  root->agent = platform::Utf16ToUtf8(agent);
  return Register(std::move(root));
} catch (...) {
  return nullptr;
}

HINTERNET InternetConnectW(HINTERNET internet, LPCWSTR serverName, INTERNET_PORT serverPort,
                           LPCWSTR userName, LPCWSTR password, DWORD service, DWORD flags,
                           DWORD_PTR context) try {
  auto root = platform::FindHandleAs<Root>(internet);
  if (root == nullptr || serverName == nullptr || serverName[0] == 0 ||
      service != INTERNET_SERVICE_HTTP || flags != 0 || context != 0) {
    return nullptr;
  }
  auto connection = std::make_shared<Connection>();
  Server& s = connection->server;
  s.agent = root->agent;
  s.host = platform::Utf16ToUtf8(serverName);
  s.port = serverPort;
  s.hasUser = userName != nullptr;
  s.user = platform::Utf16ToUtf8(userName);
  s.password = platform::Utf16ToUtf8(password);
  return Register(std::move(connection));
} catch (...) {
  return nullptr;
}

HINTERNET HttpOpenRequestW(HINTERNET connect, LPCWSTR verb, LPCWSTR objectName, LPCWSTR version,
                           LPCWSTR referrer, LPCWSTR* acceptTypes, DWORD flags,
                           DWORD_PTR context) try {
  auto connection = platform::FindHandleAs<Connection>(connect);
  if (connection == nullptr || referrer != nullptr || acceptTypes != nullptr || context != 0 ||
      (flags & ~(INTERNET_FLAG_RELOAD | INTERNET_FLAG_SECURE)) != 0) {
    return nullptr;
  }
  auto request = std::make_shared<Request>();
  if (!SetMethod(request.get(), verb, version)) return nullptr;
  request->server = connection->server;
  request->secure = (flags & INTERNET_FLAG_SECURE) != 0;
  request->target = EncodeTarget(platform::Utf16ToUtf8(objectName));
  return Register(std::move(request));
} catch (...) {
  return nullptr;
}

BOOL HttpSendRequestW(HINTERNET handle, LPCWSTR headers, DWORD headersLength, LPVOID optional,
                      DWORD optionalLength) try {
  auto request = platform::FindHandleAs<Request>(handle);
  if (request == nullptr) return FALSE;
  std::lock_guard<std::mutex> lock(request->mutex);
  if (request->transfer) return FALSE;
  if (optional == nullptr && optionalLength != 0) return FALSE;
  RequestPlan plan = PlanOf(*request, headers, headersLength, optional, optionalLength);
  platform::NoteRequest(plan.url);
  request->transfer = platform::inet::StartTransfer(plan);
  if (!request->transfer) {
    SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
    return FALSE;
  }
  if (request->transfer->WaitForResponse()) return TRUE;
  return Failed(*request->transfer);
} catch (...) {
  return FALSE;
}

BOOL InternetReadFile(HINTERNET file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead) try {
  if (bytesRead != nullptr) *bytesRead = 0;
  auto request = platform::FindHandleAs<Request>(file);
  if (request == nullptr) return FALSE;
  std::lock_guard<std::mutex> lock(request->mutex);
  if (!request->transfer || bytesRead == nullptr || (buffer == nullptr && bytesToRead != 0)) {
    return FALSE;
  }
  size_t got = 0;
  bool ok = request->transfer->Read(static_cast<char*>(buffer), bytesToRead, &got);
  *bytesRead = static_cast<DWORD>(got);
  return ok ? TRUE : Failed(*request->transfer);
} catch (...) {
  return FALSE;
}

BOOL HttpQueryInfoW(HINTERNET handle, DWORD infoLevel, LPVOID buffer, LPDWORD bufferLength,
                    LPDWORD index) try {
  auto request = platform::FindHandleAs<Request>(handle);
  if (request == nullptr) return FALSE;
  std::lock_guard<std::mutex> lock(request->mutex);
  // Only a request whose final response has arrived has either.
  if (!request->transfer || request->transfer->Status() == 0 || index != nullptr ||
      buffer == nullptr || bufferLength == nullptr || *bufferLength < sizeof(DWORD)) {
    return FALSE;
  }
  long long value;
  if (infoLevel == (HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER)) {
    value = request->transfer->ContentLength();
  } else if (infoLevel == (HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER)) {
    value = request->transfer->Status();
  } else {
    return FALSE;
  }
  if (value < 0 || value > 0xFFFFFFFFll) return FALSE;
  *static_cast<DWORD*>(buffer) = static_cast<DWORD>(value);
  *bufferLength = sizeof(DWORD);
  return TRUE;
} catch (...) {
  return FALSE;
}

// Another thread still working on the request keeps it alive until its call returns.
BOOL InternetCloseHandle(HINTERNET internet) {
  if (platform::FindHandleAs<InternetObject>(internet) == nullptr) return FALSE;
  return platform::CloseObjectHandle(internet) ? TRUE : FALSE;
}
