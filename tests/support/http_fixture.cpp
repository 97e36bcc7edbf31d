// Starts and stops tests/support/http_fixture.py; talks to it through files in a private
// temporary folder (routes.json in, requests/NNNNNN.bin out). The POSIX side: the
// platform-neutral part is tests/support/common/http_fixture_common.cpp.
#include "tests/support/http_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "tests/support/common/server_host.h"

HttpFixture::HttpFixture(Options options) : options_(options) {
  std::string base = std::filesystem::temp_directory_path().string() + "/zemlik-http-XXXXXX";
  if (mkdtemp(base.data()) == nullptr) return;
  dir_ = base;
  WriteRoutes();

  std::vector<std::string> args = {dir_};
  if (options_.tls) args.push_back("--tls");
  server_ = std::make_unique<zemlik::testing::ScriptServer>("tests/support/http_fixture.py", args);
  port_ = server_->port();
}

HttpFixture::~HttpFixture() {
  if (server_) server_->Stop();
  if (!dir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
}

const char* HttpFixture::CaTrustUnavailable() { return nullptr; }

int HttpFixture::UnusedPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = -1;
  // Bound but never listening: connections to it are refused while it is held, and after
  // close the kernel hands ephemeral ports out in sequence, not straight back.
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

namespace zemlik::testing {

void RenameOver(const std::string& from, const std::string& to) {
  std::rename(from.c_str(), to.c_str());
}

}  // namespace zemlik::testing

ScopedEnvVar::ScopedEnvVar(const char* name, const char* value) : name_(name) {
  if (const char* old = std::getenv(name)) old_ = old;
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

ScopedEnvVar::~ScopedEnvVar() {
  if (old_) {
    setenv(name_.c_str(), old_->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}
