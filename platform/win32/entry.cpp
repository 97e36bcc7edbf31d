// The process entry: Win32 code only.
#include "platform/entry.h"

#include <shellapi.h>

#include <cstdio>

#include "platform/common/clock_seam.h"

namespace platform {

int RunWinMain(int argc, char** argv, const Program& program) {
  int count = 0;
  LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
  std::wstring text = words != nullptr ? BuildArgumentText(count, words) : std::wstring();
  if (words != nullptr) LocalFree(words);
  const std::wstring argumentText = text;
  const int result = UnreadableFixedClock() != nullptr
                         ? program.failedExitCode
                         : program.winMain(nullptr, nullptr, text.data(), SW_SHOWNORMAL);
  std::fflush(stdout);
  program.report(result, argumentText.c_str());
  std::fflush(stderr);
  return result;
}

}  // namespace platform
