// Paths and words between the tests, Windows and (under wine) the Unix host.
#include "tests/support/win32/host.h"

#include <windows.h>

#include <atomic>
#include <cwchar>

namespace zemlik::testing {
namespace {

// Exported by wine's kernel32 only; both return a block of the process heap.
using ToDos = wchar_t*(__cdecl*)(const char*);
using ToUnix = char*(__cdecl*)(const wchar_t*);

template <class Function>
Function WineExport(const char* name) {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  FARPROC found = kernel != nullptr ? GetProcAddress(kernel, name) : nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(found));
}

}  // namespace

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

std::wstring WindowsPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return Wide(path);
  auto toDos = WineExport<ToDos>("wine_get_dos_file_name");
  if (toDos == nullptr) return Wide(path);
  wchar_t* dos = toDos(path.c_str());
  if (dos == nullptr) return Wide(path);
  std::wstring out = dos;
  HeapFree(GetProcessHeap(), 0, dos);
  return out;
}

std::string UnixPath(const std::wstring& path) {
  auto toUnix = WineExport<ToUnix>("wine_get_unix_file_name");
  if (toUnix == nullptr) return std::string();
  char* unixName = toUnix(path.c_str());
  if (unixName == nullptr) return std::string();
  std::string out = unixName;
  HeapFree(GetProcessHeap(), 0, unixName);
  return out;
}

std::wstring NewTempFolder(const wchar_t* prefix) {
  wchar_t base[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, base);
  if (length == 0 || length > MAX_PATH) return std::wstring();
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 1000; ++attempt) {
    wchar_t name[64];
    swprintf(name, 64, L"%ls%08lx%04x", prefix, GetCurrentProcessId() ^ GetTickCount(),
             ++counter & 0xFFFF);
    const std::wstring folder = std::wstring(base) + name;
    if (CreateDirectoryW(folder.c_str(), nullptr)) return folder;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  return std::wstring();
}

std::wstring QuoteWord(const std::wstring& word) {
  if (!word.empty() && word.find_first_of(L" \t\n\v\"") == std::wstring::npos) return word;
  std::wstring out = L"\"";
  for (size_t i = 0;; ++i) {
    size_t backslashes = 0;
    while (i < word.size() && word[i] == L'\\') {
      ++backslashes;
      ++i;
    }
    if (i == word.size()) {
      out.append(backslashes * 2, L'\\');
      break;
    }
    if (word[i] == L'"') {
      out.append(backslashes * 2 + 1, L'\\');
    } else {
      out.append(backslashes, L'\\');
    }
    out.push_back(word[i]);
  }
  out.push_back(L'"');
  return out;
}

}  // namespace zemlik::testing
