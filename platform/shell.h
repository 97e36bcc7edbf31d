// The message box and the shell's execute call.
#pragma once

#include "platform/win32.h"

#if defined(_WIN32)

#include <shellapi.h>

// MessageBoxW is the system's: a real modal box that waits for OK.
namespace platform {
// The target ":MSREMNET" (the device's connection-error display, which Windows
// lacks) writes its line to standard error as described below; any other target
// goes to the system's ShellExecuteExW.
BOOL DeviceShellExecuteExW(SHELLEXECUTEINFOW* info);
}  // namespace platform

#else  // POSIX

constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_ICONINFORMATION = 0x00000040;
constexpr int IDOK = 1;
constexpr int SW_SHOWNORMAL = 1;

// Writes the caption, a line feed, the text and a line feed to standard output
// in UTF-8 and returns at once as if OK had been pressed.
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

struct SHELLEXECUTEINFOW {
  DWORD cbSize;
  DWORD fMask;
  HWND hwnd;
  LPCWSTR lpVerb;
  LPCWSTR lpFile;
  LPCWSTR lpParameters;
  LPCWSTR lpDirectory;
  int nShow;
  HINSTANCE hInstApp;
  void* lpIDList;
  LPCWSTR lpClass;
  void* hkeyClass;
  DWORD dwHotKey;
  HANDLE hIcon;
  HANDLE hProcess;
};

// Only the target ":MSREMNET" (the connection-error display) is known: it writes
// ":MSREMNET <parameters>" (UTF-8; just ":MSREMNET" when lpParameters is null)
// and a line feed to standard error and returns TRUE. Any other target fails.
// cbSize is not checked: the program sets the device's 60.
BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info);

#endif  // _WIN32
