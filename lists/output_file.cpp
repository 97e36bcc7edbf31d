// The output-file rule (device paths, a new file put in place only when whole) and the line writer.
#include "lists/output_file.h"

#include <climits>

#include "platform/files.h"
#include "platform/routes.h"
#include "platform/scoped.h"
#include "platform/text.h"

HANDLE CreateOutputFile(LPCWSTR path) {
  return CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool OutputFileExists(LPCWSTR path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

int WriteLine(HANDLE file, LPCWSTR text) {
  const SIZE_T length = wcslen(text);
  // At most two bytes per character, plus the terminator: code page 932 never takes more,
  // so the conversion cannot be cut.
  if (length > (INT_MAX - 1) / 2) return kLineNotWritten;
  const int bufferSize = static_cast<int>(2 * length + 1);
  platform::LocalPtr<char[]> buffer = platform::LocalAllocArray<char>(bufferSize);
  // Without the buffer (or the conversion) the line cannot be written: nothing
  // is written, and the caller learns of it.
  if (!buffer) return kLineNotWritten;
  if (WideCharToMultiByte(CP_ACP, WC_COMPOSITECHECK, text, -1, buffer.get(), bufferSize, nullptr,
                          nullptr) == 0) {
    return kLineNotWritten;
  }
  DWORD count = 0;
  while (buffer[count] != 0) ++count;

  static constexpr char kLineEnd[] = {'\r', '\n'};
  DWORD written = 0;
  if (!WriteFile(file, buffer.get(), count, &written, nullptr)) return kLineNotWritten;
  if (!WriteFile(file, kLineEnd, sizeof(kLineEnd), &written, nullptr)) return kLineNotWritten;
  return kLineWritten;
}

namespace {

// The folder of `path` ("" for a bare file name), as GetTempFileNameW takes it.
bool FolderOf(LPCWSTR path, WCHAR (&folder)[MAX_PATH]) {
  SIZE_T length = wcslen(path);
  SIZE_T cut = length;
  while (cut > 0 && path[cut - 1] != u'\\' && path[cut - 1] != u'/') --cut;
  if (cut > 1) --cut;  // keep a leading separator alone, drop any other
  if (cut >= MAX_PATH) return false;
  for (SIZE_T i = 0; i < cut; ++i) folder[i] = path[i];
  folder[cut] = 0;
  return true;
}

// ReplaceFileW keeps the old file's permissions and follows a link to it; it
// needs a file to replace, so a first output is moved into place.
bool PutInPlace(LPCWSTR temporaryName, LPCWSTR outputPath) {
  if (ReplaceFileW(outputPath, temporaryName, nullptr, 0, nullptr, nullptr)) return true;
  if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;
  return MoveFileExW(temporaryName, outputPath, MOVEFILE_REPLACE_EXISTING) != FALSE;
}

}  // namespace

PendingOutputFile::PendingOutputFile(LPCWSTR outputPath) : outputPath_(outputPath) {
  WCHAR folder[MAX_PATH];
  if (outputPath == nullptr || outputPath[0] == 0 || !FolderOf(outputPath, folder) ||
      GetTempFileNameW(folder, TEXT("zem"), 0, temporaryName_) == 0) {
    temporaryName_[0] = 0;
    return;
  }
  file_ = CreateOutputFile(temporaryName_);
  if (file_ == INVALID_HANDLE_VALUE) {
    DeleteFileW(temporaryName_);
    temporaryName_[0] = 0;
  }
}

PendingOutputFile::~PendingOutputFile() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  if (temporaryName_[0] != 0) DeleteFileW(temporaryName_);
}

bool PendingOutputFile::Commit() {
  if (file_ == INVALID_HANDLE_VALUE) return false;
  const BOOL closed = CloseHandle(file_);
  file_ = INVALID_HANDLE_VALUE;
  if (!closed || !PutInPlace(temporaryName_, outputPath_)) return false;
  temporaryName_[0] = 0;
  return true;
}
