// What the WinINet files share: the exchange the handles drive, and the one comparer of
// header names and schemes. Internal to platform/posix/inet*.cpp; it names no libcurl type,
// so that libcurl stays inside inet_transfer.cpp.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/inet.h"

namespace platform::inet {

// Whether `text` starts with `prefix`, ASCII letters of `text` taken in lower case;
// `prefix` is written in lower case. `text` is a string or string view of any character type.
template <class Text>
bool StartsWithNoCase(const Text& text, std::string_view prefix) {
  using Char = typename Text::value_type;
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    Char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<Char>(c - 'A' + 'a');
    if (c != static_cast<Char>(prefix[i])) return false;
  }
  return true;
}

// Everything an exchange sends, in the form that goes on the wire (UTF-8, URL encoded).
struct RequestPlan {
  std::string url;
  std::string agent;
  std::string user;
  std::string password;
  bool hasUser = false;
  bool post = false;
  bool http10 = false;
  std::string postData;
  std::vector<std::string> headers;  // the caller's lines, without CR LF, none empty
};

// One HTTP exchange, its body pulled at the reader's pace. Not thread-safe: one caller at a
// time.
class Transfer {
 public:
  virtual ~Transfer() = default;

  // Drives the exchange until the final response's headers (or its first body byte) have
  // arrived. False when the exchange ended without a response.
  virtual bool WaitForResponse() = 0;
  // Blocks until `want` bytes are copied to `out` or the body ends. False only when nothing
  // is left to deliver and the exchange did not end cleanly.
  virtual bool Read(char* out, std::size_t want, std::size_t* got) = 0;
  // The final response's Content-Length, or -1 when it has none; asked once it has arrived.
  virtual long long ContentLength() = 0;
  // The final response's status code, or 0 before it has arrived.
  virtual int Status() const = 0;
  // Why the exchange failed: a WinINet error code, 0 while it has not; and libcurl's words
  // for it.
  virtual DWORD error() const = 0;
  virtual std::string detail() const = 0;
  // The status with which a proxy refused to open an https tunnel, 0 when none did.
  virtual int TunnelRefusal() const = 0;
};

// Sets libcurl up for the process; every call after the first does nothing.
void InitTransfers();

// Starts sending `plan`; null when the exchange cannot be set up.
std::unique_ptr<Transfer> StartTransfer(const RequestPlan& plan);

}  // namespace platform::inet
