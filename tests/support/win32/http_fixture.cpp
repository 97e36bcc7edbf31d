// The HTTP fixture in a Windows test under wine: tests/support/http_fixture.py runs as
// a Unix process (ScriptServer, win32 side), and the two sides talk through files in
// the fixture's folder, which both reach: routes.json in, requests/NNNNNN.bin out.
// The platform-neutral part is tests/support/common/http_fixture_common.cpp.
#include "tests/support/http_fixture.h"

#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/common/server_host.h"
#include "tests/support/script_server.h"
#include "tests/support/win32/host.h"

using zemlik::testing::Narrow;
using zemlik::testing::UnixPath;
using zemlik::testing::Wide;

HttpFixture::HttpFixture(Options options) : options_(options) {
  const std::wstring folder = zemlik::testing::NewTempFolder(L"zemlik-http-");
  if (folder.empty()) return;
  dir_ = Narrow(folder);
  WriteRoutes();
  // The server is a Unix process: it is given the folder's Unix form.
  std::vector<std::string> args = {UnixPath(folder)};
  if (options_.tls) args.push_back("--tls");
  server_ = std::make_unique<zemlik::testing::ScriptServer>("tests/support/http_fixture.py", args);
  port_ = server_->port();
}

HttpFixture::~HttpFixture() {
  if (server_) server_->Stop();
  if (!dir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(Wide(dir_)), ignored);
  }
}

const char* HttpFixture::CaTrustUnavailable() {
  return "the system's certificate store decides which CA is trusted; CURL_CA_BUNDLE names "
         "the fixture's CA to the POSIX layer only";
}

int HttpFixture::UnusedPort() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) return -1;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  int port = -1;
  // Bound but never listening: connections to it are refused while it is held, and after
  // close the kernel hands ephemeral ports out in sequence, not straight back.
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  closesocket(s);
  return port;
}

namespace zemlik::testing {

void RenameOver(const std::string& from, const std::string& to) {
  MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING);
}

}  // namespace zemlik::testing

ScopedEnvVar::ScopedEnvVar(const char* name, const char* value) : name_(name) {
  if (const char* old = std::getenv(name)) old_ = old;
  // Windows keeps no empty variables: an empty value removes the variable.
  _putenv_s(name, value != nullptr ? value : "");
}

ScopedEnvVar::~ScopedEnvVar() { _putenv_s(name_.c_str(), old_ ? old_->c_str() : ""); }
