#include "lists/output_file.h"

#include <climits>

#include "platform/files.h"
#include "platform/scoped.h"
#include "platform/text.h"

HANDLE CreateOutputFile(LPCWSTR path) {
  return CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

int WriteLine(HANDLE file, LPCWSTR text) {
  const SIZE_T length = wcslen(text);
  // At most two bytes per character, plus the terminator.
  if (length > (INT_MAX - 1) / 2) return -1;
  const int bufferSize = static_cast<int>(2 * length + 1);
  platform::LocalPtr<char[]> buffer = platform::LocalAllocArray<char>(bufferSize);
  // Without the buffer (or the conversion) the line cannot be written: nothing
  // is written, and the caller learns of it.
  if (!buffer) return -1;
  if (WideCharToMultiByte(CP_ACP, WC_COMPOSITECHECK, text, -1, buffer.get(), bufferSize, nullptr,
                          nullptr) == 0) {
    return -1;
  }
  DWORD count = 0;
  while (buffer[count] != 0) ++count;

  static constexpr char kLineEnd[] = {'\r', '\n'};
  DWORD written = 0;
  if (!WriteFile(file, buffer.get(), count, &written, nullptr)) return -1;
  if (!WriteFile(file, kLineEnd, sizeof(kLineEnd), &written, nullptr)) return -1;
  return 0;
}
