// The process entry: Win32 code only.
#include "platform/entry.h"

#include <shellapi.h>

#include <cstdio>
#include <string_view>

namespace platform {

std::wstring BuildArgumentText(int argc, const wchar_t* const* argv) {
  std::wstring text;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) text.push_back(L' ');
    std::wstring_view word(argv[i] != nullptr ? argv[i] : L"");
    if (word.starts_with(L"/o:") && word.find(L' ') != word.npos && word.find(L'"') == word.npos) {
      text += L"/o:\"";
      text += word.substr(3);
      text.push_back(L'"');
    } else {
      text += word;
    }
  }
  return text;
}

int RunWinMain(int argc, char** argv, int (*winMain)(HINSTANCE, HINSTANCE, LPWSTR, int)) {
  int count = 0;
  LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
  std::wstring text = words != nullptr ? BuildArgumentText(count, words) : std::wstring();
  if (words != nullptr) LocalFree(words);
  int result = winMain(nullptr, nullptr, text.data(), SW_SHOWNORMAL);
  std::fflush(stdout);
  std::fflush(stderr);
  return result;
}

}  // namespace platform
