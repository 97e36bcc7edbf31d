// The HTTP exchange behind WinINet's request handles, driven through libcurl.
// libcurl is confined here: initialised once, each curl object owned, CURLcode mapped in ErrorOf().
#include <curl/curl.h>
#include <locale.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/common/inet_timeout.h"
#include "platform/posix/inet_internal.h"

namespace platform::inet {
namespace {

using Clock = std::chrono::steady_clock;

constexpr long kMaxRedirects = 10;
// curl hands the body over in pieces of at most this size.
constexpr size_t kReceiveChunk = 256 * 1024;
// Unread body held here. While the transfer is paused curl keeps one more piece, so the
// layer holds at most kBufferCapacity + kReceiveChunk = 1 MiB the program has not read.
constexpr size_t kBufferCapacity = 768 * 1024;

// A CURLcode as the WinINet error GetLastError reports for it; 0 for success.
DWORD ErrorOf(CURLcode code) {
  static constexpr struct {
    CURLcode code;
    DWORD error;
  } kErrors[] = {
      {CURLE_OK, 0},
      {CURLE_COULDNT_RESOLVE_PROXY, ERROR_INTERNET_NAME_NOT_RESOLVED},
      {CURLE_COULDNT_RESOLVE_HOST, ERROR_INTERNET_NAME_NOT_RESOLVED},
      {CURLE_COULDNT_CONNECT, ERROR_INTERNET_CANNOT_CONNECT},
      {CURLE_OPERATION_TIMEDOUT, ERROR_INTERNET_TIMEOUT},
      {CURLE_PEER_FAILED_VERIFICATION, ERROR_INTERNET_INVALID_CA},
      {CURLE_SSL_CACERT_BADFILE, ERROR_INTERNET_INVALID_CA},
      {CURLE_SSL_CONNECT_ERROR, ERROR_INTERNET_SECURITY_CHANNEL_ERROR},
      {CURLE_SSL_CERTPROBLEM, ERROR_INTERNET_SECURITY_CHANNEL_ERROR},
      {CURLE_PARTIAL_FILE, ERROR_INTERNET_CONNECTION_ABORTED},
      {CURLE_RECV_ERROR, ERROR_INTERNET_CONNECTION_ABORTED},
      {CURLE_SEND_ERROR, ERROR_INTERNET_CONNECTION_ABORTED},
      {CURLE_GOT_NOTHING, ERROR_INTERNET_CONNECTION_ABORTED},
      {CURLE_TOO_MANY_REDIRECTS, ERROR_HTTP_REDIRECT_FAILED},
      {CURLE_WEIRD_SERVER_REPLY, ERROR_HTTP_INVALID_SERVER_RESPONSE},
      {CURLE_BAD_CONTENT_ENCODING, ERROR_HTTP_INVALID_SERVER_RESPONSE},
  };
  for (const auto& entry : kErrors) {
    if (entry.code == code) return entry.error;
  }
  return ERROR_INTERNET_INTERNAL_ERROR;
}

// libcurl turns a host name that is not ASCII into its IDNA form through libidn2, which reads
// the name in the locale's character set; the layer's names are UTF-8 whatever the locale, so
// the calls that drive curl run with a UTF-8 character type on their thread.
class Utf8Names {
 public:
  // Without the locale (null) uselocale changes nothing, and the destructor restores the same.
  Utf8Names() : previous_(uselocale(Locale())) {}
  ~Utf8Names() { uselocale(previous_); }
  Utf8Names(const Utf8Names&) = delete;
  Utf8Names& operator=(const Utf8Names&) = delete;

 private:
  static locale_t Locale() {
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);  // kept for good
    return utf8;
  }
  locale_t previous_;
};

// Frees a curl object with its own cleanup call.
template <class T, auto Free>
struct CurlDeleter {
  void operator()(T* object) const { Free(object); }
};
using EasyPtr = std::unique_ptr<CURL, CurlDeleter<CURL, curl_easy_cleanup>>;
using MultiPtr = std::unique_ptr<CURLM, CurlDeleter<CURLM, curl_multi_cleanup>>;
using SlistPtr = std::unique_ptr<curl_slist, CurlDeleter<curl_slist, curl_slist_free_all>>;

// The request headers as curl takes them, or null when curl cannot hold them. Headers curl
// would add on its own are removed by naming them without a value.
SlistPtr HeaderList(const RequestPlan& plan) {
  std::vector<std::string> lines = {"Accept:", "Expect:", "Proxy-Connection:"};
  lines.insert(lines.end(), plan.headers.begin(), plan.headers.end());
  auto typed = [](const std::string& line) { return StartsWithNoCase(line, "content-type:"); };
  if (plan.post && std::none_of(plan.headers.begin(), plan.headers.end(), typed)) {
    lines.push_back("Content-Type:");
  }
  SlistPtr list;
  for (const std::string& line : lines) {
    curl_slist* next = curl_slist_append(list.get(), line.c_str());
    if (next == nullptr) return nullptr;
    static_cast<void>(list.release());  // `next` holds the same nodes and one more
    list.reset(next);
  }
  return list;
}

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

// One exchange driven through a curl multi handle, so that the body can be pulled in the
// reader's pace: the write callback pauses the transfer when the buffer is full. The callbacks
// only record what happened; the calls that drive curl act on it.
class CurlTransfer : public Transfer {
 public:
  CurlTransfer() : buffer_(kBufferCapacity), timeoutMs_(InetTimeoutMs()) {}
  // Finish() has detached an ended exchange; one set up only in part is detached in vain.
  ~CurlTransfer() override {
    if (!done_) curl_multi_remove_handle(multi_.get(), easy_.get());
  }

  bool Start(const RequestPlan& plan);
  bool WaitForResponse() override;
  bool Read(char* out, size_t want, size_t* got) override;
  long long ContentLength() override;
  int Status() const override { return responseReady_ ? status_ : 0; }
  DWORD error() const override { return error_; }
  std::string detail() const override { return errorText_; }
  int TunnelRefusal() const override { return tunnelRefusal_; }

 private:
  static size_t OnBody(char* data, size_t size, size_t count, void* self);
  static size_t OnHeader(char* data, size_t size, size_t count, void* self);
  static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded);

  bool SetOptions(const RequestPlan& plan);
  void DriveUntil(const bool& ready);
  void CollectDone();
  DWORD ErrorFor(CURLcode code);
  // Whether a connection (to the host, or to the proxy) was made.
  bool Connected();
  void Finish(DWORD error);
  void Resume();

  MultiPtr multi_;
  SlistPtr headers_;
  EasyPtr easy_;
  ByteRing buffer_;
  // While Read waits, body bytes go straight into the reader's block, the rest to buffer_.
  char* direct_ = nullptr;
  size_t directRoom_ = 0;
  bool delivered_ = false;  // body bytes taken since Read last cleared it
  long timeoutMs_;
  Clock::time_point lastActivity_;
  curl_off_t uploaded_ = 0;
  bool paused_ = false;
  bool done_ = false;
  DWORD error_ = 0;
  char errorText_[CURL_ERROR_SIZE] = {};
  int tunnelRefusal_ = 0;
  bool responseReady_ = false;
  int status_ = 0;
  bool sawLocation_ = false;
  bool sawBasicChallenge_ = false;
  // Credentials go out once, in answer to the first Basic challenge.
  bool hasUser_ = false;
  bool answeredChallenge_ = false;
};

bool CurlTransfer::Start(const RequestPlan& plan) {
  multi_.reset(curl_multi_init());
  easy_.reset(curl_easy_init());
  if (!multi_ || !easy_) return false;
  headers_ = HeaderList(plan);
  if (!headers_ || !SetOptions(plan)) return false;
  if (curl_multi_add_handle(multi_.get(), easy_.get()) != CURLM_OK) return false;
  lastActivity_ = Clock::now();
  return true;
}

bool CurlTransfer::SetOptions(const RequestPlan& plan) {
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
  opt(curl_easy_setopt(e, CURLOPT_BUFFERSIZE, static_cast<long>(kReceiveChunk)));
  opt(curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CurlTransfer::OnBody));
  opt(curl_easy_setopt(e, CURLOPT_WRITEDATA, this));
  opt(curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &CurlTransfer::OnHeader));
  opt(curl_easy_setopt(e, CURLOPT_HEADERDATA, this));
  opt(curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &CurlTransfer::OnProgress));
  opt(curl_easy_setopt(e, CURLOPT_XFERINFODATA, this));
  opt(curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L));
  opt(curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorText_));
  return set;
}

size_t CurlTransfer::OnBody(char* data, size_t, size_t count, void* self) {
  auto* t = static_cast<CurlTransfer*>(self);
  // Only a piece that the buffer cannot take waits; an empty buffer takes any piece.
  if (count > t->buffer_.Free()) {
    t->paused_ = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  const size_t direct = t->buffer_.Size() == 0 ? std::min(count, t->directRoom_) : 0;
  if (direct > 0) {
    std::memcpy(t->direct_, data, direct);
    t->direct_ += direct;
    t->directRoom_ -= direct;
  }
  t->buffer_.Push(data + direct, count - direct);
  t->delivered_ = true;
  t->responseReady_ = true;
  t->lastActivity_ = Clock::now();
  return count;
}

// Tells the final response from interim (1xx) ones, from redirects curl will follow and from
// a Basic challenge that curl answers with the credentials.
size_t CurlTransfer::OnHeader(char* data, size_t, size_t count, void* self) {
  auto* t = static_cast<CurlTransfer*>(self);
  std::string_view line(data, count);
  t->lastActivity_ = Clock::now();
  if (StartsWithNoCase(line, "http/")) {
    const size_t blank = line.find(' ');
    t->status_ = 0;
    if (blank != std::string_view::npos) {
      std::from_chars(line.data() + blank + 1, line.data() + line.size(), t->status_);
    }
    t->sawLocation_ = false;
    t->sawBasicChallenge_ = false;
  } else if (line == "\r\n" || line == "\n") {
    const bool redirect = t->status_ >= 300 && t->status_ < 400 && t->sawLocation_;
    const bool challenge =
        t->status_ == 401 && t->sawBasicChallenge_ && t->hasUser_ && !t->answeredChallenge_;
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

int CurlTransfer::OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) {
  auto* t = static_cast<CurlTransfer*>(self);
  if (uploaded != t->uploaded_) {
    t->uploaded_ = uploaded;
    t->lastActivity_ = Clock::now();
  }
  return 0;
}

void CurlTransfer::Finish(DWORD error) {
  done_ = true;
  error_ = error;
  curl_multi_remove_handle(multi_.get(), easy_.get());
}

void CurlTransfer::CollectDone() {
  int left = 0;
  // CURLMSG_DONE is the only message curl sends.
  while (CURLMsg* message = curl_multi_info_read(multi_.get(), &left)) {
    Finish(ErrorFor(message->data.result));
  }
}

// ErrorOf, told apart where curl's code covers more than one cause: a proxy setting that
// cannot be parsed is no name that failed to resolve. Notes a refused https tunnel.
DWORD CurlTransfer::ErrorFor(CURLcode code) {
  long tunnel = 0;  // the proxy's answer to CONNECT; one of 300 and above fails the exchange
  curl_easy_getinfo(easy_.get(), CURLINFO_HTTP_CONNECTCODE, &tunnel);
  if (tunnel >= 300) tunnelRefusal_ = static_cast<int>(tunnel);
  if (code == CURLE_COULDNT_RESOLVE_PROXY && std::strncmp(errorText_, "Unsupported proxy", 17) == 0) {
    return ERROR_INTERNET_INVALID_PROXY_REQUEST;
  }
  return ErrorOf(code);
}

bool CurlTransfer::Connected() {
  curl_off_t connectTime;
  return curl_easy_getinfo(easy_.get(), CURLINFO_CONNECT_TIME_T, &connectTime) == CURLE_OK &&
         connectTime > 0;
}

// Drives the exchange, neither ended nor `ready`, until a callback sets `ready` or it ends.
// Both time limits are the layer's own, counted from the last sign of life: one that runs
// out before a connection was made leaves the host unreached.
void CurlTransfer::DriveUntil(const bool& ready) {
  const Utf8Names names;
  for (;;) {
    int running = 0;
    if (curl_multi_perform(multi_.get(), &running) != CURLM_OK) break;
    CollectDone();
    if (done_ || ready) return;
    auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastActivity_);
    if (idle.count() >= timeoutMs_) {
      const bool connected = Connected();
      std::snprintf(errorText_, sizeof errorText_,
                    connected ? "nothing for %ld ms" : "no connection within %ld ms", timeoutMs_);
      Finish(connected ? ERROR_INTERNET_TIMEOUT : ERROR_INTERNET_CANNOT_CONNECT);
      return;
    }
    int wait = static_cast<int>(std::min<long>(timeoutMs_ - idle.count(), 1000));
    if (curl_multi_poll(multi_.get(), nullptr, 0, wait, nullptr) != CURLM_OK) break;
  }
  Finish(ERROR_INTERNET_INTERNAL_ERROR);  // curl's multi interface itself failed
}

// An exchange that ends without error has had its final response.
bool CurlTransfer::WaitForResponse() {
  DriveUntil(responseReady_);
  return responseReady_;
}

void CurlTransfer::Resume() {
  if (!paused_ || buffer_.Free() < kReceiveChunk) return;
  paused_ = false;
  lastActivity_ = Clock::now();
  // May deliver the held piece at once, through OnBody.
  const CURLcode resumed = curl_easy_pause(easy_.get(), CURLPAUSE_CONT);
  if (resumed != CURLE_OK) Finish(ERROR_INTERNET_INTERNAL_ERROR);
}

bool CurlTransfer::Read(char* out, size_t want, size_t* got) {
  size_t total = 0;
  while (total < want) {
    if (buffer_.Size() > 0) {
      total += buffer_.Pop(out + total, want - total);
      Resume();
      continue;
    }
    // The pops that emptied the buffer have resumed a paused transfer.
    if (done_) break;
    direct_ = out + total;
    directRoom_ = want - total;
    delivered_ = false;
    DriveUntil(delivered_);
    total = static_cast<size_t>(direct_ - out);
    direct_ = nullptr;
    directRoom_ = 0;
  }
  *got = total;
  return total > 0 || error_ == 0;
}

long long CurlTransfer::ContentLength() {
  curl_off_t length = -1;
  curl_easy_getinfo(easy_.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  return length;
}

}  // namespace

void InitTransfers() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::unique_ptr<Transfer> StartTransfer(const RequestPlan& plan) {
  auto transfer = std::make_unique<CurlTransfer>();
  if (!transfer->Start(plan)) return nullptr;
  return transfer;
}

}  // namespace platform::inet
