// Files: the device-path rule in front of the system's file calls. Win32 code only.
#include "platform/files.h"

#include <cstdio>
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

// A name the system keeps for a device, as GetFullPathNameW gives NUL and CON.
bool IsDevice(const std::wstring& path) { return path.rfind(L"\\\\.\\", 0) == 0; }

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

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

// The name is made here as the system makes it ("<prefix><hex>.tmp"), not by the system's
// call: that one needs the folder to be at most MAX_PATH - 14 long and, under wine, writes
// past the caller's buffer beyond that. Here the name is made only when it fits the buffer.
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
  std::wstring programFolder = pathName;
  for (std::wstring* path : {&folder, &programFolder}) {
    if (!path->empty() && path->back() != L'\\' && path->back() != L'/') path->push_back(L'\\');
  }
  UINT number = unique != 0 ? unique : (GetTickCount() ^ GetCurrentProcessId());
  // Every 16-bit number is tried once before giving up.
  for (UINT attempt = 0; attempt < 0x10000; ++attempt, ++number) {
    if ((number & 0xFFFF) == 0) ++number;
    wchar_t name[16];
    std::swprintf(name, 16, L"%.3ls%X.tmp", prefixString != nullptr ? prefixString : L"",
                  number & 0xFFFF);
    const std::wstring programPath = programFolder + name;
    if (programPath.size() >= MAX_PATH) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return 0;
    }
    if (unique == 0) {
      HANDLE made = ::CreateFileW((folder + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
      if (made == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) continue;
      if (made == INVALID_HANDLE_VALUE) return 0;
      ::CloseHandle(made);
    }
    std::wmemcpy(tempFileName, programPath.c_str(), programPath.size() + 1);
    return unique != 0 ? unique : number & 0xFFFF;
  }
  return 0;
}

DWORD DeviceGetFileAttributesW(LPCWSTR fileName) {
  std::wstring path;
  if (!Resolve(fileName, &path, false)) return INVALID_FILE_ATTRIBUTES;
  if (IsDevice(path)) return FILE_ATTRIBUTE_DEVICE;
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

// A move over the replaced file, whose attributes are then set on the new one. The system's
// ReplaceFileW, under wine, drops them (a hidden file shows again) and leaves an empty
// rfXXXX.tmp beside the file each time it fails.
BOOL DeviceReplaceFileW(LPCWSTR replacedFileName, LPCWSTR replacementFileName,
                        LPCWSTR backupFileName, DWORD replaceFlags, LPVOID exclude,
                        LPVOID reserved) {
  std::wstring replaced;
  std::wstring replacement;
  if (!Resolve(replacedFileName, &replaced) || !Resolve(replacementFileName, &replacement)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (backupFileName != nullptr || replaceFlags != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const DWORD attributes = ::GetFileAttributesW(replaced.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FALSE;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (!::MoveFileExW(replacement.c_str(), replaced.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return FALSE;
  }
  ::SetFileAttributesW(replaced.c_str(), attributes);
  return TRUE;
}

DWORD OutputTargetW(LPCWSTR path, LPWSTR target, DWORD capacity) {
  std::wstring full;
  if (!Resolve(path, &full)) return 0;
  DWORD length = ::GetFullPathNameW(full.c_str(), 0, nullptr, nullptr);
  std::wstring named(length, L'\0');
  length = length == 0 ? 0 : ::GetFullPathNameW(full.c_str(), length, named.data(), nullptr);
  if (length == 0 || length >= named.size()) return 0;
  named.resize(length);
  // What is there already is named by where its links lead (wine follows the host's).
  HANDLE file = IsDevice(named) ? INVALID_HANDLE_VALUE
                                : ::CreateFileW(named.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    std::wstring resolved(::GetFinalPathNameByHandleW(file, nullptr, 0, FILE_NAME_NORMALIZED),
                          L'\0');
    length = resolved.empty() ? 0
                              : ::GetFinalPathNameByHandleW(file, resolved.data(), resolved.size(),
                                                            FILE_NAME_NORMALIZED);
    ::CloseHandle(file);
    if (length == 0 || length >= resolved.size()) return 0;
    resolved.resize(length);
    // "\\?\C:\..." as "C:\...", the form the rest of the program's paths have.
    if (resolved.rfind(L"\\\\?\\", 0) == 0 && resolved.size() > 6 && resolved[5] == L':') {
      resolved.erase(0, 4);
    }
    named = std::move(resolved);
  } else if (const DWORD found = ::GetFileAttributesW(named.c_str());
             found != INVALID_FILE_ATTRIBUTES && (found & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    // A link that leads nowhere: it cannot be followed, and must not be moved over.
    SetLastError(ERROR_PATH_NOT_FOUND);
    return 0;
  }
  if (named.size() >= capacity) return static_cast<DWORD>(named.size() + 1);
  std::wmemcpy(target, named.c_str(), named.size() + 1);
  return static_cast<DWORD>(named.size());
}

}  // namespace platform
