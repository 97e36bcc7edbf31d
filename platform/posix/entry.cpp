// The process entry: generic POSIX code only.
#include "platform/entry.h"

#include <cstdio>
#include <vector>

#include "platform/posix/utf.h"
#include "platform/shell.h"

namespace platform {

std::u16string BuildArgumentText(int argc, const char* const* argv) {
  // Index 0, the program's name, is never read.
  std::vector<std::u16string> words(argc > 0 ? argc : 0);
  std::vector<const char16_t*> wide;
  for (int i = 0; i < argc; ++i) {
    if (i > 0) words[i] = Utf8ToUtf16(argv[i] != nullptr ? argv[i] : "");
    wide.push_back(words[i].c_str());
  }
  return BuildArgumentText(argc, wide.data());
}

int RunWinMain(int argc, char** argv, int (*winMain)(HINSTANCE, HINSTANCE, LPWSTR, int),
               void (*report)(int exitCode, LPCWSTR argumentText)) {
  std::u16string text = BuildArgumentText(argc, argv);
  const std::u16string argumentText = text;
  int result = winMain(nullptr, nullptr, text.data(), SW_SHOWNORMAL);
  std::fflush(stdout);
  report(result, argumentText.c_str());
  std::fflush(stderr);
  return result;
}

}  // namespace platform
