// WinINet subset over libcurl. libcurl is contained in this file: it is initialised once,
// every curl object has an owner, callbacks only record what happened, and a CURLcode
// becomes this layer's WinINet error code in ErrorOf() alone.
#include "platform/inet.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <string_view>

#include "platform/posix/exit_report.h"
#include "platform/posix/utf.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr long kMaxRedirects = 10;
constexpr long kDefaultTimeoutMs = 60000;
// curl hands the body over in pieces of at most this size.
constexpr size_t kReceiveChunk = 256 * 1024;
// Unread body held here. While the transfer is paused curl keeps one more piece, so the
// layer holds at most kBufferCapacity + kReceiveChunk = 1 MiB the program has not read.
constexpr size_t kBufferCapacity = 768 * 1024;

// A CURLcode as the WinINet error GetLastError reports for it; 0 for success.
DWORD ErrorOf(CURLcode code) {
  switch (code) {
    case CURLE_OK:
      return 0;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
      return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
      return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT:
      return ERROR_INTERNET_TIMEOUT;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
      return ERROR_INTERNET_INVALID_CA;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
      return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
      return ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_TOO_MANY_REDIRECTS:
      return ERROR_HTTP_REDIRECT_FAILED;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
      return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    default:
      return ERROR_INTERNET_INTERNAL_ERROR;
  }
}

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

long TimeoutMs() {
  const char* text = std::getenv("ZEMLIK_INET_TIMEOUT_MS");
  if (text == nullptr || *text == '\0') return kDefaultTimeoutMs;
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (*end != '\0' || value <= 0) return kDefaultTimeoutMs;
  return value;
}

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD. `length` < 0: zero-terminated.
std::string ToUtf8(LPCWSTR text, long length = -1) {
  std::string out;
  if (text == nullptr) return out;
  size_t n = 0;
  if (length < 0) {
    while (text[n] != 0) ++n;
  } else {
    n = static_cast<size_t>(length);
  }
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

bool Equals(LPCWSTR a, std::u16string_view b) {
  if (a == nullptr) return false;
  size_t i = 0;
  for (; i < b.size(); ++i) {
    if (a[i] != b[i]) return false;
  }
  return a[i] == 0;
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

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char a = text[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (a != prefix[i]) return false;
  }
  return true;
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyPtr = std::unique_ptr<CURL, EasyDeleter>;
using MultiPtr = std::unique_ptr<CURLM, MultiDeleter>;
using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;

// Fixed-capacity FIFO of body bytes between curl's callback and InternetReadFile.
class ByteRing {
 public:
  explicit ByteRing(size_t capacity) : data_(new char[capacity]), capacity_(capacity) {}
  size_t Size() const { return size_; }
  size_t Free() const { return capacity_ - size_; }
  void Push(const char* bytes, size_t count) {
    size_t tail = (head_ + size_) % capacity_;
    size_t first = std::min(count, capacity_ - tail);
    std::memcpy(data_.get() + tail, bytes, first);
    std::memcpy(data_.get(), bytes + first, count - first);
    size_ += count;
  }
  size_t Pop(char* out, size_t count) {
    count = std::min(count, size_);
    size_t first = std::min(count, capacity_ - head_);
    std::memcpy(out, data_.get() + head_, first);
    std::memcpy(out + first, data_.get(), count - first);
    head_ = (head_ + count) % capacity_;
    size_ -= count;
    return count;
  }

 private:
  std::unique_ptr<char[]> data_;
  size_t capacity_;
  size_t head_ = 0;
  size_t size_ = 0;
};

struct RequestPlan {
  std::string url;
  std::string agent;
  std::string user;
  std::string password;
  bool hasUser = false;
  bool post = false;
  bool http10 = false;
  std::string postData;
  std::string headers;  // CR LF separated lines
};

// One HTTP exchange driven through a curl multi handle, so that the body can be pulled in
// the reader's pace: the write callback pauses the transfer when the buffer is full.
class Transfer {
 public:
  Transfer() : buffer_(kBufferCapacity), timeoutMs_(TimeoutMs()) {}
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;
  ~Transfer() {
    if (attached_) curl_multi_remove_handle(multi_.get(), easy_.get());
  }

  bool Start(const RequestPlan& plan);
  // Drives the transfer until the final response's headers (or its first body byte) have
  // arrived. False when the transfer ended without a response.
  bool WaitForResponse();
  // False only when nothing is left to deliver and the transfer did not end cleanly.
  bool Read(char* out, size_t want, size_t* got);
  // The final response's Content-Length, or -1 when it has none.
  long long ContentLength();
  // The final response's status code, or 0 before it has arrived.
  int Status() const { return responseReady_ ? status_ : 0; }
  // Why the transfer failed: a WinINet error code, 0 while it has not; and libcurl's
  // words for it.
  DWORD error() const { return error_; }
  std::string detail() const { return errorText_; }

 private:
  static size_t OnBody(char* data, size_t size, size_t count, void* self);
  static size_t OnHeader(char* data, size_t size, size_t count, void* self);
  static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded);

  template <class Ready>
  void DriveUntil(Ready ready);
  void CollectDone();
  void Finish(DWORD error);
  void Resume();

  MultiPtr multi_;
  SlistPtr headers_;
  EasyPtr easy_;
  bool attached_ = false;
  ByteRing buffer_;
  // While Read waits, body bytes go straight into the reader's block, the rest to buffer_.
  char* direct_ = nullptr;
  size_t directRoom_ = 0;
  long timeoutMs_;
  Clock::time_point lastActivity_;
  curl_off_t uploaded_ = 0;
  bool paused_ = false;
  bool done_ = false;
  DWORD error_ = 0;
  char errorText_[CURL_ERROR_SIZE] = {};
  bool responseReady_ = false;
  int status_ = 0;
  bool sawLocation_ = false;
  bool sawBasicChallenge_ = false;
  // Credentials go out once, in answer to the first Basic challenge.
  bool hasUser_ = false;
  bool answeredChallenge_ = false;
};

bool Transfer::Start(const RequestPlan& plan) {
  multi_.reset(curl_multi_init());
  easy_.reset(curl_easy_init());
  if (!multi_ || !easy_) return false;

  // Headers curl would add on its own are removed by naming them without a value.
  curl_slist* list = nullptr;
  auto append = [&list](const std::string& line) {
    curl_slist* next = curl_slist_append(list, line.c_str());
    if (next == nullptr) return false;
    list = next;
    return true;
  };
  bool ok = append("Accept:") && append("Expect:") && append("Proxy-Connection:");
  bool hasContentType = false;
  size_t begin = 0;
  while (ok && begin < plan.headers.size()) {
    size_t end = plan.headers.find("\r\n", begin);
    if (end == std::string::npos) end = plan.headers.size();
    std::string line = plan.headers.substr(begin, end - begin);
    if (!line.empty()) {
      if (StartsWithNoCase(line, "content-type:")) hasContentType = true;
      ok = append(line);
    }
    begin = end + 2;
  }
  if (ok && plan.post && !hasContentType) ok = append("Content-Type:");
  headers_.reset(list);
  if (!ok) return false;

  CURL* e = easy_.get();
  bool set = true;
  auto opt = [&set](CURLcode code) { set = set && code == CURLE_OK; };
  opt(curl_easy_setopt(e, CURLOPT_URL, plan.url.c_str()));
  opt(curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https"));
  opt(curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"));
  opt(curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L));
  opt(curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L));
  opt(curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L));
  opt(curl_easy_setopt(e, CURLOPT_MAXREDIRS, kMaxRedirects));
  opt(curl_easy_setopt(e, CURLOPT_HTTP_VERSION,
                       plan.http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1));
  if (!plan.agent.empty()) opt(curl_easy_setopt(e, CURLOPT_USERAGENT, plan.agent.c_str()));
  opt(curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers_.get()));
  opt(curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L));
  if (plan.post) {
    opt(curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(plan.postData.size())));
    opt(curl_easy_setopt(e, CURLOPT_COPYPOSTFIELDS, plan.postData.c_str()));
  } else {
    opt(curl_easy_setopt(e, CURLOPT_HTTPGET, 1L));
  }
  hasUser_ = plan.hasUser;
  if (plan.hasUser) {
    // As WinINet does, the credentials go out only once the server asks for them (a 401
    // with a Basic challenge); the request is then sent again, body and all, with them.
    opt(curl_easy_setopt(e, CURLOPT_HTTPAUTH, CURLAUTH_BASIC | CURLAUTH_ONLY));
    opt(curl_easy_setopt(e, CURLOPT_USERNAME, plan.user.c_str()));
    opt(curl_easy_setopt(e, CURLOPT_PASSWORD, plan.password.c_str()));
  }
  // libcurl itself reads neither variable; the system bundle is its default.
  const char* caFile = std::getenv("CURL_CA_BUNDLE");
  if (caFile == nullptr || *caFile == '\0') caFile = std::getenv("SSL_CERT_FILE");
  if (caFile != nullptr && *caFile != '\0') opt(curl_easy_setopt(e, CURLOPT_CAINFO, caFile));
  opt(curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L));
  opt(curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L));
  opt(curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs_));
  opt(curl_easy_setopt(e, CURLOPT_BUFFERSIZE, static_cast<long>(kReceiveChunk)));
  opt(curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Transfer::OnBody));
  opt(curl_easy_setopt(e, CURLOPT_WRITEDATA, this));
  opt(curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader));
  opt(curl_easy_setopt(e, CURLOPT_HEADERDATA, this));
  opt(curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &Transfer::OnProgress));
  opt(curl_easy_setopt(e, CURLOPT_XFERINFODATA, this));
  opt(curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L));
  opt(curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorText_));
  if (!set) return false;

  if (curl_multi_add_handle(multi_.get(), e) != CURLM_OK) return false;
  attached_ = true;
  lastActivity_ = Clock::now();
  return true;
}

size_t Transfer::OnBody(char* data, size_t, size_t count, void* self) {
  auto* t = static_cast<Transfer*>(self);
  size_t direct = t->buffer_.Size() == 0 ? std::min(count, t->directRoom_) : 0;
  if (count - direct > t->buffer_.Free()) {
    t->paused_ = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  if (direct > 0) {
    std::memcpy(t->direct_, data, direct);
    t->direct_ += direct;
    t->directRoom_ -= direct;
  }
  t->buffer_.Push(data + direct, count - direct);
  t->responseReady_ = true;
  t->lastActivity_ = Clock::now();
  return count;
}

// Tells the final response from interim (1xx) ones, from redirects curl will follow and from
// a Basic challenge that curl answers with the credentials.
size_t Transfer::OnHeader(char* data, size_t, size_t count, void* self) {
  auto* t = static_cast<Transfer*>(self);
  std::string_view line(data, count);
  t->lastActivity_ = Clock::now();
  if (StartsWithNoCase(line, "http/")) {
    size_t blank = line.find(' ');
    t->status_ = 0;
    for (size_t i = blank + 1; blank != std::string_view::npos && i < line.size(); ++i) {
      if (line[i] < '0' || line[i] > '9') break;
      t->status_ = t->status_ * 10 + (line[i] - '0');
    }
    t->sawLocation_ = false;
    t->sawBasicChallenge_ = false;
  } else if (line == "\r\n" || line == "\n") {
    const bool redirect = t->status_ >= 300 && t->status_ < 400 && t->sawLocation_;
    const bool challenge = t->status_ == 401 && t->sawBasicChallenge_ && t->hasUser_ &&
                           !t->answeredChallenge_;
    if (challenge) t->answeredChallenge_ = true;
    if (t->status_ >= 200 && !redirect && !challenge) t->responseReady_ = true;
  } else if (StartsWithNoCase(line, "location:")) {
    t->sawLocation_ = true;
  } else if (StartsWithNoCase(line, "www-authenticate:")) {
    std::string_view value = line.substr(17);
    while (!value.empty() && value[0] == ' ') value.remove_prefix(1);
    if (StartsWithNoCase(value, "basic")) t->sawBasicChallenge_ = true;
  }
  return count;
}

int Transfer::OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) {
  auto* t = static_cast<Transfer*>(self);
  if (uploaded != t->uploaded_) {
    t->uploaded_ = uploaded;
    t->lastActivity_ = Clock::now();
  }
  return 0;
}

void Transfer::Finish(DWORD error) {
  done_ = true;
  error_ = error;
  if (attached_) {
    curl_multi_remove_handle(multi_.get(), easy_.get());
    attached_ = false;
  }
}

void Transfer::CollectDone() {
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(multi_.get(), &left)) {
    if (message->msg == CURLMSG_DONE) Finish(ErrorOf(message->data.result));
  }
}

template <class Ready>
void Transfer::DriveUntil(Ready ready) {
  while (!done_ && !ready()) {
    int running = 0;
    if (curl_multi_perform(multi_.get(), &running) != CURLM_OK) {
      Finish(ERROR_INTERNET_INTERNAL_ERROR);
      break;
    }
    CollectDone();
    if (done_ || ready()) break;
    auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastActivity_);
    if (idle.count() >= timeoutMs_) {
      std::snprintf(errorText_, sizeof errorText_, "nothing for %ld ms", timeoutMs_);
      Finish(ERROR_INTERNET_TIMEOUT);
      break;
    }
    int wait = static_cast<int>(std::min<long>(timeoutMs_ - idle.count(), 1000));
    if (curl_multi_poll(multi_.get(), nullptr, 0, wait, nullptr) != CURLM_OK) {
      Finish(ERROR_INTERNET_INTERNAL_ERROR);
    }
  }
}

bool Transfer::WaitForResponse() {
  DriveUntil([this] { return responseReady_; });
  return responseReady_ || error_ == 0;
}

void Transfer::Resume() {
  if (!paused_ || done_ || buffer_.Free() < kReceiveChunk) return;
  paused_ = false;
  lastActivity_ = Clock::now();
  // May deliver the held piece at once, through OnBody.
  if (curl_easy_pause(easy_.get(), CURLPAUSE_CONT) != CURLE_OK) Finish(ERROR_INTERNET_INTERNAL_ERROR);
}

bool Transfer::Read(char* out, size_t want, size_t* got) {
  size_t total = 0;
  while (total < want) {
    if (buffer_.Size() > 0) {
      total += buffer_.Pop(out + total, want - total);
      Resume();
      continue;
    }
    if (done_) break;
    if (paused_) {
      Resume();
      continue;
    }
    direct_ = out + total;
    directRoom_ = want - total;
    DriveUntil([this, out, total] { return direct_ != out + total || buffer_.Size() > 0; });
    total = static_cast<size_t>(direct_ - out);
    direct_ = nullptr;
    directRoom_ = 0;
  }
  *got = total;
  return total > 0 || error_ == 0;
}

long long Transfer::ContentLength() {
  curl_off_t length = -1;
  if (!responseReady_ ||
      curl_easy_getinfo(easy_.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK) {
    return -1;
  }
  return length;
}

// Handles. Every handle handed out is registered, so a stale or foreign one is refused.
enum class Kind { kRoot, kConnection, kRequest };

struct Handle {
  explicit Handle(Kind k) : kind(k) {}
  virtual ~Handle() = default;
  Kind kind;
};

struct Root : Handle {
  Root() : Handle(Kind::kRoot) {}
  std::string agent;
};

struct Connection : Handle {
  Connection() : Handle(Kind::kConnection) {}
  std::string agent;
  std::string host;
  INTERNET_PORT port = 0;
  std::string user;
  std::string password;
  bool hasUser = false;
};

struct Request : Handle {
  Request() : Handle(Kind::kRequest) {}
  Connection connection;
  bool post = false;
  bool http10 = false;
  bool secure = false;
  std::string target;
  std::unique_ptr<Transfer> transfer;
};

std::mutex registryMutex;
std::set<Handle*>& Registry() {
  static auto* handles = new std::set<Handle*>();
  return *handles;
}

HINTERNET Register(std::unique_ptr<Handle> handle) {
  std::lock_guard<std::mutex> lock(registryMutex);
  Registry().insert(handle.get());
  return handle.release();
}

template <class T>
T* Lookup(HINTERNET internet, Kind kind) {
  std::lock_guard<std::mutex> lock(registryMutex);
  auto* handle = static_cast<Handle*>(internet);
  if (Registry().count(handle) == 0 || handle->kind != kind) return nullptr;
  return static_cast<T*>(handle);
}

}  // namespace

HINTERNET InternetOpenW(LPCWSTR agent, DWORD accessType, LPCWSTR proxy, LPCWSTR proxyBypass,
                        DWORD flags) try {
  if (accessType != INTERNET_OPEN_TYPE_PRECONFIG || proxy != nullptr || proxyBypass != nullptr ||
      flags != 0) {
    return nullptr;
  }
  GlobalInit();
  auto root = std::make_unique<Root>();
  root->agent = ToUtf8(agent);
  return Register(std::move(root));
} catch (...) {
  return nullptr;
}

HINTERNET InternetConnectW(HINTERNET internet, LPCWSTR serverName, INTERNET_PORT serverPort,
                           LPCWSTR userName, LPCWSTR password, DWORD service, DWORD flags,
                           DWORD_PTR context) try {
  Root* root = Lookup<Root>(internet, Kind::kRoot);
  if (root == nullptr || serverName == nullptr || serverName[0] == 0 ||
      service != INTERNET_SERVICE_HTTP || flags != 0) {
    return nullptr;
  }
  auto connection = std::make_unique<Connection>();
  connection->agent = root->agent;
  connection->host = ToUtf8(serverName);
  connection->port = serverPort;
  connection->hasUser = userName != nullptr;
  connection->user = ToUtf8(userName);
  connection->password = ToUtf8(password);
  return Register(std::move(connection));
} catch (...) {
  return nullptr;
}

HINTERNET HttpOpenRequestW(HINTERNET connect, LPCWSTR verb, LPCWSTR objectName, LPCWSTR version,
                           LPCWSTR referrer, LPCWSTR* acceptTypes, DWORD flags,
                           DWORD_PTR context) try {
  Connection* connection = Lookup<Connection>(connect, Kind::kConnection);
  if (connection == nullptr || referrer != nullptr || acceptTypes != nullptr ||
      (flags & ~(INTERNET_FLAG_RELOAD | INTERNET_FLAG_SECURE)) != 0) {
    return nullptr;
  }
  auto request = std::make_unique<Request>();
  if (verb == nullptr || Equals(verb, u"GET")) {
    request->post = false;
  } else if (Equals(verb, u"POST")) {
    request->post = true;
  } else {
    return nullptr;
  }
  if (version == nullptr || Equals(version, u"HTTP/1.1")) {
    request->http10 = false;
  } else if (Equals(version, u"HTTP/1.0")) {
    request->http10 = true;
  } else {
    return nullptr;
  }
  request->connection = *connection;
  request->secure = (flags & INTERNET_FLAG_SECURE) != 0;
  request->target = EncodeTarget(ToUtf8(objectName));
  return Register(std::move(request));
} catch (...) {
  return nullptr;
}

BOOL HttpSendRequestW(HINTERNET handle, LPCWSTR headers, DWORD headersLength, LPVOID optional,
                      DWORD optionalLength) try {
  Request* request = Lookup<Request>(handle, Kind::kRequest);
  if (request == nullptr || request->transfer) return FALSE;
  if (optional == nullptr && optionalLength != 0) return FALSE;
  const Connection& c = request->connection;

  RequestPlan plan;
  std::string host = c.host;
  if (host.find(':') != std::string::npos && host[0] != '[') host = "[" + host + "]";
  INTERNET_PORT port = c.port;
  if (port == INTERNET_INVALID_PORT_NUMBER) {
    port = request->secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
  }
  plan.url = (request->secure ? "https://" : "http://") + host + ":" + std::to_string(port) +
             request->target;
  plan.agent = c.agent;
  plan.user = c.user;
  plan.password = c.password;
  plan.hasUser = c.hasUser;
  plan.post = request->post;
  plan.http10 = request->http10;
  if (request->post && optional != nullptr) {
    plan.postData.assign(static_cast<const char*>(optional), optionalLength);
  }
  if (headers != nullptr) {
    long length = headersLength == 0xFFFFFFFFu ? -1 : static_cast<long>(headersLength);
    plan.headers = ToUtf8(headers, length);
  }

  platform::NoteRequest(plan.url);
  auto transfer = std::make_unique<Transfer>();
  if (!transfer->Start(plan)) {
    SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
    return FALSE;
  }
  request->transfer = std::move(transfer);
  if (request->transfer->WaitForResponse()) return TRUE;
  SetLastError(request->transfer->error());
  platform::NoteRequestFailure(request->transfer->detail());
  return FALSE;
} catch (...) {
  return FALSE;
}

BOOL InternetReadFile(HINTERNET file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead) try {
  if (bytesRead != nullptr) *bytesRead = 0;
  Request* request = Lookup<Request>(file, Kind::kRequest);
  if (request == nullptr || !request->transfer || bytesRead == nullptr ||
      (buffer == nullptr && bytesToRead != 0)) {
    return FALSE;
  }
  size_t got = 0;
  bool ok = request->transfer->Read(static_cast<char*>(buffer), bytesToRead, &got);
  *bytesRead = static_cast<DWORD>(got);
  if (ok) return TRUE;
  SetLastError(request->transfer->error());
  platform::NoteRequestFailure(request->transfer->detail());
  return FALSE;
} catch (...) {
  return FALSE;
}

BOOL HttpQueryInfoW(HINTERNET handle, DWORD infoLevel, LPVOID buffer, LPDWORD bufferLength,
                    LPDWORD index) try {
  Request* request = Lookup<Request>(handle, Kind::kRequest);
  if (request == nullptr || !request->transfer || index != nullptr || buffer == nullptr ||
      bufferLength == nullptr || *bufferLength < sizeof(DWORD)) {
    return FALSE;
  }
  long long value;
  if (infoLevel == (HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER)) {
    value = request->transfer->ContentLength();
  } else if (infoLevel == (HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER)) {
    value = request->transfer->Status();
    if (value == 0) value = -1;
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

BOOL InternetCloseHandle(HINTERNET internet) {
  Handle* handle = static_cast<Handle*>(internet);
  {
    std::lock_guard<std::mutex> lock(registryMutex);
    if (Registry().erase(handle) == 0) return FALSE;
  }
  delete handle;
  return TRUE;
}

namespace {

struct Span {
  size_t begin = 0;
  size_t length = 0;
  bool present = false;
};

void Give(LPCWSTR url, const Span& span, LPWSTR* pointer, DWORD* length) {
  if (*length == 0) return;
  *pointer = span.present ? const_cast<LPWSTR>(url + span.begin) : nullptr;
  *length = span.present ? static_cast<DWORD>(span.length) : 0;
}

bool SchemeIs(LPCWSTR text, size_t length, std::string_view name) {
  if (length != name.size()) return false;
  for (size_t i = 0; i < length; ++i) {
    WCHAR c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<WCHAR>(c - 'A' + 'a');
    if (c != static_cast<WCHAR>(name[i])) return false;
  }
  return true;
}

}  // namespace

namespace {
BOOL CrackUrl(LPCWSTR url, DWORD urlLength, DWORD flags, LPURL_COMPONENTSW components);
}  // namespace

BOOL InternetCrackUrlW(LPCWSTR url, DWORD urlLength, DWORD flags, LPURL_COMPONENTSW components) {
  if (CrackUrl(url, urlLength, flags, components)) return TRUE;
  platform::NoteBadUrl(url != nullptr ? platform::Utf16ToUtf8(url) : std::string());
  return FALSE;
}

namespace {

BOOL CrackUrl(LPCWSTR url, DWORD urlLength, DWORD flags, LPURL_COMPONENTSW components) {
  URL_COMPONENTSW* c = components;
  if (url == nullptr || c == nullptr || flags != 0 || c->dwStructSize != sizeof(URL_COMPONENTSW)) {
    return FALSE;
  }
  // Copying into caller buffers is not offered: only pointers into the URL.
  if ((c->lpszScheme && c->dwSchemeLength) || (c->lpszHostName && c->dwHostNameLength) ||
      (c->lpszUserName && c->dwUserNameLength) || (c->lpszPassword && c->dwPasswordLength) ||
      (c->lpszUrlPath && c->dwUrlPathLength) || (c->lpszExtraInfo && c->dwExtraInfoLength)) {
    return FALSE;
  }
  size_t n = urlLength;
  if (n == 0) {
    while (url[n] != 0) ++n;
  }

  Span scheme{0, 0, true};
  while (scheme.length < n && url[scheme.length] != ':') ++scheme.length;
  if (scheme.length == n) return FALSE;
  bool secure = SchemeIs(url, scheme.length, "https");
  if (!secure && !SchemeIs(url, scheme.length, "http")) return FALSE;
  size_t at = scheme.length + 1;
  if (n - at < 2 || url[at] != '/' || url[at + 1] != '/') return FALSE;
  size_t authority = at + 2;
  size_t authorityEnd = authority;
  while (authorityEnd < n && url[authorityEnd] != '/' && url[authorityEnd] != '?' &&
         url[authorityEnd] != '#') {
    ++authorityEnd;
  }

  Span user, password;
  size_t hostBegin = authority;
  for (size_t i = authorityEnd; i > authority; --i) {
    if (url[i - 1] == '@') {
      hostBegin = i;
      break;
    }
  }
  if (hostBegin != authority) {
    size_t userEnd = authority;
    while (userEnd < hostBegin - 1 && url[userEnd] != ':') ++userEnd;
    user = {authority, userEnd - authority, true};
    if (userEnd < hostBegin - 1) password = {userEnd + 1, hostBegin - 1 - (userEnd + 1), true};
  }

  size_t hostEnd = hostBegin;
  if (hostBegin < authorityEnd && url[hostBegin] == '[') {
    while (hostEnd < authorityEnd && url[hostEnd] != ']') ++hostEnd;
    if (hostEnd == authorityEnd) return FALSE;
    ++hostEnd;
  } else {
    while (hostEnd < authorityEnd && url[hostEnd] != ':') ++hostEnd;
  }
  if (hostEnd == hostBegin) return FALSE;
  Span host{hostBegin, hostEnd - hostBegin, true};

  INTERNET_PORT port = secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
  if (hostEnd < authorityEnd) {
    if (url[hostEnd] != ':') return FALSE;
    size_t digits = authorityEnd - (hostEnd + 1);
    if (digits > 5) return FALSE;
    if (digits > 0) {
      unsigned value = 0;
      for (size_t i = hostEnd + 1; i < authorityEnd; ++i) {
        if (url[i] < '0' || url[i] > '9') return FALSE;
        value = value * 10 + (url[i] - '0');
      }
      if (value == 0 || value > 65535) return FALSE;
      port = static_cast<INTERNET_PORT>(value);
    }
  }

  size_t pathEnd = authorityEnd;
  while (pathEnd < n && url[pathEnd] != '?' && url[pathEnd] != '#') ++pathEnd;
  Span path{authorityEnd, pathEnd - authorityEnd, pathEnd > authorityEnd};
  Span extra{pathEnd, n - pathEnd, n > pathEnd};

  c->nScheme = secure ? INTERNET_SCHEME_HTTPS : INTERNET_SCHEME_HTTP;
  c->nPort = port;
  Give(url, scheme, &c->lpszScheme, &c->dwSchemeLength);
  Give(url, host, &c->lpszHostName, &c->dwHostNameLength);
  Give(url, user, &c->lpszUserName, &c->dwUserNameLength);
  Give(url, password, &c->lpszPassword, &c->dwPasswordLength);
  Give(url, path, &c->lpszUrlPath, &c->dwUrlPathLength);
  Give(url, extra, &c->lpszExtraInfo, &c->dwExtraInfoLength);
  return TRUE;
}

}  // namespace
