// Files: the device-path rule in front of the system's file calls. Win32 code only.
#include "platform/files.h"

#include <cwchar>
#include <string>

#include "platform/common/device_path.h"

namespace {

std::wstring Environment(LPCWSTR name) {
  DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return std::wstring();
  std::wstring value(size, L'\0');
  size = GetEnvironmentVariableW(name, value.data(), size);
  value.resize(size);
  return value;
}

// The host path of a program path, creating "<root>\My Documents" when the path
// lies there (and `create`). False when there is no root or the path is empty.
bool Resolve(LPCWSTR path, std::wstring* out, bool create = true) {
  platform::ResolvedPath<WCHAR> host =
      platform::ResolveDevicePath(path, Environment(L"ZEMLIK_ROOT").c_str(),
                                  Environment(L"USERPROFILE").c_str(), platform::kWin32Paths);
  if (!host.ok()) return false;
  // An existing folder is the usual case; any other failure shows when the
  // file itself is opened.
  if (create && !host.folder.empty()) CreateDirectoryW(host.folder.c_str(), nullptr);
  *out = std::move(host.path);
  return true;
}

}  // namespace

namespace platform {

HANDLE DeviceCreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                         SECURITY_ATTRIBUTES* securityAttributes, DWORD creationDisposition,
                         DWORD flagsAndAttributes, HANDLE templateFile) {
  std::wstring path;
  if (!Resolve(fileName, &path)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return ::CreateFileW(path.c_str(), desiredAccess, shareMode, securityAttributes,
                       creationDisposition, flagsAndAttributes, templateFile);
}

UINT DeviceGetTempFileNameW(LPCWSTR pathName, LPCWSTR prefixString, UINT unique,
                            LPWSTR tempFileName) {
  if (pathName == nullptr || tempFileName == nullptr) return 0;
  // An empty folder is the current one; the system would take the drive's root.
  std::wstring folder;
  if (pathName[0] == 0) {
    folder = L".";
  } else if (!Resolve(pathName, &folder)) {
    return 0;
  }
  wchar_t made[MAX_PATH];
  const UINT number = ::GetTempFileNameW(folder.c_str(), prefixString, unique, made);
  if (number == 0) return 0;
  // The program path: the folder as the program gave it, then the name made.
  const wchar_t* name = made;
  for (const wchar_t* p = made; *p != 0; ++p) {
    if (*p == L'\\' || *p == L'/') name = p + 1;
  }
  std::wstring programPath = pathName;
  if (!programPath.empty() && programPath.back() != L'\\' && programPath.back() != L'/') {
    programPath.push_back(L'\\');
  }
  programPath += name;
  if (programPath.size() >= MAX_PATH) {
    if (unique == 0) ::DeleteFileW(made);
    return 0;
  }
  std::wmemcpy(tempFileName, programPath.c_str(), programPath.size() + 1);
  return number;
}

DWORD DeviceGetFileAttributesW(LPCWSTR fileName) {
  std::wstring path;
  if (!Resolve(fileName, &path, false)) return INVALID_FILE_ATTRIBUTES;
  return ::GetFileAttributesW(path.c_str());
}

BOOL DeviceDeleteFileW(LPCWSTR fileName) {
  std::wstring path;
  if (!Resolve(fileName, &path)) return FALSE;
  return ::DeleteFileW(path.c_str());
}

BOOL DeviceMoveFileExW(LPCWSTR existingFileName, LPCWSTR newFileName, DWORD flags) {
  std::wstring from;
  std::wstring to;
  if (!Resolve(existingFileName, &from) || !Resolve(newFileName, &to)) return FALSE;
  return ::MoveFileExW(from.c_str(), to.c_str(), flags);
}

BOOL DeviceReplaceFileW(LPCWSTR replacedFileName, LPCWSTR replacementFileName,
                        LPCWSTR backupFileName, DWORD replaceFlags, LPVOID exclude,
                        LPVOID reserved) {
  std::wstring replaced;
  std::wstring replacement;
  if (!Resolve(replacedFileName, &replaced) || !Resolve(replacementFileName, &replacement)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  std::wstring backup;
  if (backupFileName != nullptr && !Resolve(backupFileName, &backup)) return FALSE;
  return ::ReplaceFileW(replaced.c_str(), replacement.c_str(),
                        backupFileName != nullptr ? backup.c_str() : nullptr, replaceFlags, exclude,
                        reserved);
}

}  // namespace platform
