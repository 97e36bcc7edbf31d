// The test helpers' Windows side, as the unit suites run it: under wine, where Windows
// programs see the Unix file system as drive Z: and can start Unix programs by path.
#include <windows.h>

#include "tests/support/testing.h"

namespace zemlik::test {
namespace {

std::wstring Wide(const std::string& text) {
  const WString wide = Utf16(text);
  return std::wstring(wide.begin(), wide.end());
}

// A Unix path in its DOS form, by wine's own export; anything else as it is.
std::wstring DosPath(const std::string& path) {
  auto toDos = reinterpret_cast<wchar_t*(__cdecl*)(const char*)>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
  wchar_t* dos = path.rfind('/', 0) == 0 && toDos != nullptr ? toDos(path.c_str()) : nullptr;
  const std::wstring out = dos != nullptr ? dos : Wide(path);
  HeapFree(GetProcessHeap(), 0, dos);
  return out;
}

// One word of a command line, as CommandLineToArgvW splits it back.
std::wstring Quote(const std::wstring& word) {
  if (!word.empty() && word.find_first_of(L" \t\"") == std::wstring::npos) return word;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : word) {
    backslashes = c == L'\\' ? backslashes + 1 : 0;
    if (c == L'"') out.append(backslashes + 1, L'\\');
    out.push_back(c);
  }
  return out.append(backslashes, L'\\') + L"\"";
}

}  // namespace

void Spawn(const std::vector<std::string>& words) {
  std::wstring line = Quote(DosPath(words[0]));  // the program; the rest as they are
  for (size_t i = 1; i < words.size(); ++i) line += L" " + Quote(Wide(words[i]));
  STARTUPINFOW startup{sizeof startup};
  PROCESS_INFORMATION process{};
  if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                     &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
}

std::string HostPath(const std::string& path) {
  auto toUnix = reinterpret_cast<char*(__cdecl*)(const wchar_t*)>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* unixName = toUnix != nullptr ? toUnix(Wide(path).c_str()) : nullptr;
  const std::string out = unixName != nullptr ? unixName : path;
  HeapFree(GetProcessHeap(), 0, unixName);
  return out;
}

std::string ProxyGet(const std::string& host, const std::string& target) {
  static const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version");
  return "GET http://" + host + (wine ? ":80" : "") + target + " HTTP/1.1";
}

}  // namespace zemlik::test
