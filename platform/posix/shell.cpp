// The message box and the shell's execute call: generic POSIX code only.
#include "platform/shell.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "platform/posix/utf.h"

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  std::string shown = platform::Utf16ToUtf8(caption);
  shown.push_back('\n');
  shown += platform::Utf16ToUtf8(text);
  shown.push_back('\n');
  std::fwrite(shown.data(), 1, shown.size(), stdout);
  std::fflush(stdout);
  return IDOK;
}

// The record's size is not checked: the program fills in the device's 60 bytes,
// which is not this host's size of the record.
BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info) {
  static constexpr char16_t kConnectionErrorDisplay[] = u":MSREMNET";
  if (info == nullptr || info->lpFile == nullptr) return FALSE;
  if (std::u16string_view(info->lpFile) != kConnectionErrorDisplay) return FALSE;
  std::string line = platform::Utf16ToUtf8(kConnectionErrorDisplay);
  if (info->lpParameters != nullptr) {
    line.push_back(' ');
    line += platform::Utf16ToUtf8(info->lpParameters);
  }
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  return TRUE;
}
