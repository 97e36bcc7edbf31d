// One HTTP request through WinINet, its body read whole into memory or streamed to a file.
#include "http/request.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "http/outcome.h"
#include "http/trace_buffer.h"
#include "platform/files.h"
#include "platform/inet.h"
#include "platform/memory.h"
#include "platform/routes.h"
#include "platform/scoped.h"
#include "platform/text.h"

namespace {

constexpr WCHAR kAgent[] =
    TEXT("HTTP_USER_AGENT:Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; .NET CLR 1.1.");
constexpr WCHAR kPostHeader[] = TEXT("Content-Type: application/x-www-form-urlencoded");
constexpr DWORD kPostHeaderLength = 47;
constexpr WCHAR kVersion[] = TEXT("HTTP/1.1");
constexpr DWORD kReadBlock = 102400;
// Capacities are multiples of the read block. The first piece takes the first read whole
// (two blocks), or the announced length and the zero byte; later pieces double up to 128
// blocks.
constexpr DWORD kFirstPiece = 2 * kReadBlock;
constexpr DWORD kLargestPiece = 128 * kReadBlock;
// An announced length is trusted for the first piece up to this size only: a server that
// announces 4 GiB must not make the first allocation fail a body of a few kilobytes.
constexpr DWORD kLargestHint = 10240 * kReadBlock;
// Enough pieces for a body of 4 GiB, the most a DWORD length can count, so the piece table
// is a fixed array and a longer body ends as out of memory, not as an overrun: the pieces
// reach their largest size by the seventh.
constexpr int kMaxPieces = 400;
static_assert((kMaxPieces - 7) * std::uint64_t{kLargestPiece} > UINT32_MAX);

static_assert(sizeof(kAgent) / sizeof(WCHAR) - 1 == 80);
static_assert(sizeof(kPostHeader) / sizeof(WCHAR) - 1 == kPostHeaderLength);

class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  ~InternetHandle() { reset(nullptr); }
  HINTERNET get() const { return handle_; }
  void reset(HINTERNET handle) {
    if (handle_ != nullptr) InternetCloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HINTERNET handle_;
};

// The body is gathered in pieces whose sizes grow geometrically and joined once at the end,
// so reading takes linear time and joining holds at most one piece beyond the body: a
// single growing block would hold the old and the new block at once.
class BodyPieces {
 public:
  // `expected`: the length the server announced, if any, so that a body of that length is
  // read into a single piece and needs no joining.
  explicit BodyPieces(DWORD expected) {
    if (expected < kLargestHint) {
      first_ = std::max(kFirstPiece, (expected + 1 + kReadBlock - 1) / kReadBlock * kReadBlock);
    }
  }

  // Room for the next read, allocating a new piece when the current one is full.
  // Null when a piece cannot be allocated.
  LPSTR Room(DWORD* room) {
    if (count_ == 0 || used_[count_ - 1] == capacity_[count_ - 1]) {
      DWORD capacity =
          count_ == 0 ? first_ : std::min<DWORD>(capacity_[count_ - 1] * 2, kLargestPiece);
      pieces_[count_] = platform::LocalAllocArray<char>(capacity);
      if (!pieces_[count_]) return nullptr;
      capacity_[count_] = capacity;
      used_[count_] = 0;
      ++count_;
    }
    int last = count_ - 1;
    *room = std::min(capacity_[last] - used_[last], kReadBlock);
    return pieces_[last].get() + used_[last];
  }

  // False when the body would no longer fit a DWORD length.
  bool Add(DWORD count) {
    if (total_ + count >= UINT32_MAX) return false;
    used_[count_ - 1] += count;
    total_ += count;
    return true;
  }

  // The body as one zero-terminated block, or null when it cannot be allocated. A single
  // piece has room for the zero byte: a full one got a successor before the last read.
  LPSTR Join(DWORD* length) {
    *length = static_cast<DWORD>(total_);
    if (count_ == 1) {
      pieces_[0][used_[0]] = 0;
      return pieces_[0].release();
    }
    std::uint64_t capacity = (total_ + 1 + kReadBlock - 1) / kReadBlock * kReadBlock;
    platform::LocalPtr<char[]> block = platform::LocalAllocArray<char>(capacity);
    if (!block) return nullptr;
    std::uint64_t at = 0;
    for (int i = 0; i < count_; ++i) {
      std::memcpy(block.get() + at, pieces_[i].get(), used_[i]);
      at += used_[i];
      pieces_[i].reset();
    }
    block[at] = 0;
    return block.release();
  }

 private:
  platform::LocalPtr<char[]> pieces_[kMaxPieces];
  DWORD capacity_[kMaxPieces] = {};
  DWORD used_[kMaxPieces] = {};
  int count_ = 0;
  std::uint64_t total_ = 0;
  DWORD first_ = kFirstPiece;
};

// Traces why a step of the exchange failed, with the layer's error code, and returns
// `result`.
int Failed(int result) {
  Outcome.requestResult = result;
  Outcome.lastError = GetLastError();
  TraceLine(TEXT("SendReqData:rc=%d,error=%u"), result, static_cast<unsigned>(Outcome.lastError));
  return result;
}

int NoMemory() {
  Outcome.requestResult = kRequestNoMemory;
  TraceLine(TEXT("SendReqData:rc=%d"), kRequestNoMemory);
  return kRequestNoMemory;
}

// The three handles of one exchange, closed in reverse order of opening on every way out,
// and what the response announced.
class Exchange {
 public:
  // Sends the request; kRequestOk only when a response came whose status is no error.
  int Send(LPCWSTR sv, LPCWSTR mtd, LPCWSTR pg, int port, LPCWSTR user, LPCWSTR password,
           LPCSTR pst, BOOL secure);
  HINTERNET request() const { return request_.get(); }
  // The Content-Length of the response, 0 when it announced none.
  DWORD announced() const { return announced_ ? announcedLength_ : 0; }
  // The body ended after `received` bytes: kRequestOk when that is the whole of it, else
  // kRequestBodyBroken, traced. `readFailed`: the last read returned FALSE.
  int EndOfBody(std::uint64_t received, bool readFailed) const {
    if (readFailed || (announced_ && received < announcedLength_)) {
      return BodyBroken(received, readFailed);
    }
    return kRequestOk;
  }

 private:
  int CheckResponse();
  int BodyBroken(std::uint64_t received, bool readFailed) const;

  InternetHandle root_{nullptr};
  InternetHandle connection_{nullptr};
  InternetHandle request_{nullptr};
  bool announced_ = false;
  DWORD announcedLength_ = 0;
};

int Exchange::Send(LPCWSTR sv, LPCWSTR mtd, LPCWSTR pg, int port, LPCWSTR user, LPCWSTR password,
                   LPCSTR pst, BOOL secure) {
  TraceLine(TEXT("SendReqData:sv=[%s],mtd=[%s],pg=[%s],pst=%x"), sv, mtd, pg,
            static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(pst)));
  Outcome.stage = kStageRequest;
  Outcome.requestResult = kRequestOk;
  Outcome.httpStatus = 0;
  Outcome.received = 0;
  Outcome.announcedKnown = false;
  Outcome.announced = 0;
  Outcome.lastError = 0;

  root_.reset(InternetOpenW(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (root_.get() == nullptr) return Failed(kRequestNoInternet);

  const auto serverPort = static_cast<INTERNET_PORT>(port & 0xFFFF);
  connection_.reset(
      InternetConnectW(root_.get(), sv, serverPort, user, password, INTERNET_SERVICE_HTTP, 0, 0));
  if (connection_.get() == nullptr) return Failed(kRequestNoConnection);

  DWORD flags = INTERNET_FLAG_RELOAD | (secure ? INTERNET_FLAG_SECURE : 0);
  request_.reset(
      HttpOpenRequestW(connection_.get(), mtd, pg, kVersion, nullptr, nullptr, flags, 0));
  if (request_.get() == nullptr) return Failed(kRequestNoRequest);

  if (mtd != nullptr && wcscmp(mtd, TEXT("POST")) == 0) {
    DWORD postLength = pst == nullptr ? 0 : static_cast<DWORD>(std::strlen(pst));
    if (HttpSendRequestW(request_.get(), kPostHeader, kPostHeaderLength, const_cast<LPSTR>(pst),
                         postLength) != TRUE) {
      return Failed(kRequestPostFailed);
    }
  } else if (HttpSendRequestW(request_.get(), nullptr, 0, nullptr, 0) != TRUE) {
    return Failed(kRequestGetFailed);
  }
  return CheckResponse();
}

int Exchange::CheckResponse() {
  DWORD value = 0;
  DWORD size = sizeof(value);
  const bool hasStatus = HttpQueryInfoW(request_.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                                        &value, &size, nullptr) != FALSE;
  if (hasStatus) Outcome.httpStatus = value;
  if (hasStatus && value >= 400 && value <= 599) {
    Outcome.requestResult = kRequestHttpError;
    TraceLine(TEXT("SendReqData:rc=%d,status=%u"), kRequestHttpError, value);
    return kRequestHttpError;
  }
  size = sizeof(value);
  if (HttpQueryInfoW(request_.get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &value,
                     &size, nullptr)) {
    announced_ = true;
    announcedLength_ = value;
  }
  return kRequestOk;
}

int Exchange::BodyBroken(std::uint64_t received, bool readFailed) const {
  const DWORD error = readFailed ? GetLastError() : 0;
  const auto count = static_cast<unsigned>(received);
  Outcome.requestResult = kRequestBodyBroken;
  Outcome.received = received;
  Outcome.announcedKnown = announced_;
  Outcome.announced = announcedLength_;
  Outcome.lastError = error;
  if (announced_ && readFailed) {
    TraceLine(TEXT("SendReqData:rc=%d,read=%u/%u,error=%u"), kRequestBodyBroken, count,
              static_cast<unsigned>(announcedLength_), static_cast<unsigned>(error));
  } else if (announced_) {
    TraceLine(TEXT("SendReqData:rc=%d,read=%u/%u"), kRequestBodyBroken, count,
              static_cast<unsigned>(announcedLength_));
  } else {
    TraceLine(TEXT("SendReqData:rc=%d,read=%u,error=%u"), kRequestBodyBroken, count,
              static_cast<unsigned>(error));
  }
  return kRequestBodyBroken;
}

}  // namespace

int SendReqData(LPCWSTR sv, LPCWSTR mtd, LPCWSTR pg, int port, LPCWSTR user, LPCWSTR password,
                LPCSTR pst, LPSTR* body, DWORD* bodyLength, BOOL secure) {
  *body = nullptr;
  Exchange exchange;
  int result = exchange.Send(sv, mtd, pg, port, user, password, pst, secure);
  if (result != kRequestOk) return result;

  // The announced length sizes the first piece, and the body must reach it.
  BodyPieces pieces(exchange.announced());
  std::uint64_t received = 0;
  bool readFailed;  // set by each read, the last one before the loop ends
  for (;;) {
    DWORD room = 0;
    LPSTR into = pieces.Room(&room);
    if (into == nullptr) return NoMemory();
    DWORD got = 0;
    // A read that fails delivers nothing: its count stays 0 and ends the body as its end would.
    readFailed = !InternetReadFile(exchange.request(), into, room, &got);
    if (got == 0) break;
    if (!pieces.Add(got)) return NoMemory();
    received += got;
  }
  result = exchange.EndOfBody(received, readFailed);
  if (result != kRequestOk) return result;
  DWORD length = 0;
  LPSTR joined = pieces.Join(&length);
  if (joined == nullptr) return NoMemory();
  *body = joined;
  *bodyLength = length;
  return kRequestOk;
}

int SendReqDataToFile(LPCWSTR sv, LPCWSTR mtd, LPCWSTR pg, int port, LPCWSTR user, LPCWSTR password,
                      LPCSTR pst, HANDLE file, BOOL secure) {
  platform::LocalPtr<char[]> block = platform::LocalAllocArray<char>(kReadBlock);
  if (!block) return NoMemory();
  Exchange exchange;
  int result = exchange.Send(sv, mtd, pg, port, user, password, pst, secure);
  if (result != kRequestOk) return result;
  std::uint64_t received = 0;
  bool readFailed;  // set by each read, the last one before the loop ends
  for (;;) {
    DWORD got = 0;
    readFailed = !InternetReadFile(exchange.request(), block.get(), kReadBlock, &got);
    if (got == 0) break;
    DWORD written = 0;
    if (!WriteFile(file, block.get(), got, &written, nullptr) || written != got) {
      return kRequestWriteFailed;
    }
    received += got;
  }
  return exchange.EndOfBody(received, readFailed);
}
