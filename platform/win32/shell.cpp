// The shell's execute call, with the device's connection-error display: Win32 code only.
#include "platform/shell.h"

#include <cwchar>
#include <string>

#include "platform/win32/console.h"

namespace platform {

BOOL DeviceShellExecuteExW(SHELLEXECUTEINFOW* info) {
  static constexpr wchar_t kConnectionErrorDisplay[] = L":MSREMNET";
  if (info == nullptr || info->lpFile == nullptr) return FALSE;
  if (std::wcscmp(info->lpFile, kConnectionErrorDisplay) != 0) return ::ShellExecuteExW(info);
  std::wstring line = kConnectionErrorDisplay;
  if (info->lpParameters != nullptr) {
    line += L' ';
    line += info->lpParameters;
  }
  WriteStandard(STD_ERROR_HANDLE, line.c_str(), L"\n");
  return TRUE;
}

}  // namespace platform
