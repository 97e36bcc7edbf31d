// Standard output and error: Win32 code only.
#include "platform/win32/console.h"

#include <string>

namespace platform {
namespace {

void WriteWide(HANDLE handle, const std::wstring& text) {
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    DWORD written = 0;
    WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  if (text.empty()) return;
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  if (size <= 0) return;
  std::string bytes(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
  DWORD done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    if (!WriteFile(handle, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written,
                   nullptr) ||
        written == 0) {
      return;
    }
    done += written;
  }
}

}  // namespace

void WriteStandard(DWORD stream, LPCWSTR text, LPCWSTR suffix) {
  HANDLE handle = GetStdHandle(stream);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  std::wstring whole = text != nullptr ? text : L"";
  if (suffix != nullptr) whole += suffix;
  WriteWide(handle, whole);
}

}  // namespace platform
