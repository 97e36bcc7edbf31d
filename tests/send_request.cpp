// Sends one request through SendReqData, as the program's fetches do, and writes the result
// code and the body to standard output. The Windows parity test runs it in both builds to
// compare what each puts on the wire for requests no job sends, such as form POSTs.
// Usage: send_request SERVER METHOD PATH PORT POST-DATA|- [USER PASSWORD]
#include <cstdio>
#include <cstdlib>
#include <string_view>
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "http/request.h"
#include "platform/memory.h"
#include "tests/support/test_support.h"

int main(int argc, char** argv) {
  using zemlik::testing::Utf16;
  using zemlik::testing::WString;
  if (argc != 6 && argc != 8) {
    std::fprintf(stderr,
                 "usage: send_request SERVER METHOD PATH PORT POST-DATA|- [USER PASSWORD]\n");
    return 2;
  }
  const WString server = Utf16(argv[1]);
  const WString method = Utf16(argv[2]);
  const WString path = Utf16(argv[3]);
  const int port = std::atoi(argv[4]);
  const char* post = std::string_view(argv[5]) == "-" ? nullptr : argv[5];
  const WString user = argc == 8 ? Utf16(argv[6]) : WString();
  const WString password = argc == 8 ? Utf16(argv[7]) : WString();

#if defined(_WIN32)
  _setmode(_fileno(stdout), _O_BINARY);  // the body's bytes as they came
#endif
  LPSTR body = nullptr;
  DWORD length = 0;
  const int result = SendReqData(server.c_str(), method.c_str(), path.c_str(), port,
                                 argc == 8 ? user.c_str() : nullptr,
                                 argc == 8 ? password.c_str() : nullptr, post, &body, &length);
  std::printf("%d\n", result);
  if (body != nullptr) {
    std::fwrite(body, 1, length, stdout);
    LocalFree(body);
  }
  return result == 0 ? 0 : 1;
}
