// The output-file rule (a new file put in place only when whole, wherever the path leads) and the
// line writer.
#include "lists/output_file.h"

#include <climits>

#include "http/outcome.h"
#include "platform/files.h"
#include "platform/routes.h"
#include "platform/scoped.h"
#include "platform/text.h"

HANDLE CreateOutputFile(LPCWSTR path) {
  return CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool EndFailedOutput(LPCWSTR path) {
  const DWORD found = GetFileAttributesW(path);
  if (found == INVALID_FILE_ATTRIBUTES || (found & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
  if ((found & FILE_ATTRIBUTE_DEVICE) == 0) return true;
  // Opened without waiting and closed at once: no reader is waited for.
  platform::ScopedHandle(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
  return false;
}

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

bool IsSeparator(WCHAR c) { return c == TEXT('\\') || c == TEXT('/'); }

// The folder of `path` ("" for a bare file name), as GetTempFileNameW takes it; its length.
SIZE_T FolderOf(const WCHAR (&path)[MAX_PATH], WCHAR (&folder)[MAX_PATH]) {
  SIZE_T cut = wcslen(path);
  while (cut > 0 && !IsSeparator(path[cut - 1])) --cut;
  if (cut > 1) --cut;  // keep a leading separator alone, drop any other
  for (SIZE_T i = 0; i < cut; ++i) folder[i] = path[i];
  folder[cut] = 0;
  return cut;
}

// Copies the whole of `from` into the device or pipe `to`, which is opened only now: the
// open of a pipe waits for its reader.
bool CopyInto(LPCWSTR from, LPCWSTR to) {
  platform::ScopedHandle in(CreateFileW(from, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!in.valid()) return false;
  platform::ScopedHandle out(CreateFileW(to, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out.valid()) return false;
  char block[4096];
  for (DWORD got = 1; got > 0;) {
    DWORD put = 0;
    if (!ReadFile(in.get(), block, sizeof block, &got, nullptr) ||
        !WriteFile(out.get(), block, got, &put, nullptr)) {
      return false;
    }
  }
  return CloseHandle(out.release()) != FALSE;
}

}  // namespace

PendingOutputFile::PendingOutputFile(LPCWSTR outputPath) {
  if (outputPath == nullptr || outputPath[0] == 0) return;
  // A name that ends in a separator can only be a folder's; nothing is asked or made.
  if (IsSeparator(outputPath[wcslen(outputPath) - 1])) {
    Outcome.outputRefusal = kOutputIsFolder;
    return;
  }
  const DWORD length = platform::OutputTargetW(outputPath, target_, MAX_PATH);
  if (length == 0) return;
  found_ = length < MAX_PATH ? GetFileAttributesW(target_) : INVALID_FILE_ATTRIBUTES;
  if (found_ != INVALID_FILE_ATTRIBUTES && (found_ & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    Outcome.outputRefusal = kOutputIsFolder;
    return;
  }
  WCHAR folder[MAX_PATH] = {};
  const SIZE_T folderLength = length >= MAX_PATH ? MAX_PATH
                              : IntoDevice()     ? GetTempPathW(MAX_PATH, folder)
                                                 : FolderOf(target_, folder);
  if (folderLength > kLongestOutputFolder) {
    Outcome.outputRefusal = kOutputPathTooLong;
    return;
  }
  // "<folder>\zem<hex>.TMP", or without the prefix where it leaves no room in the buffer.
  const LPCWSTR prefix = folderLength + 12 < MAX_PATH ? TEXT("zem") : TEXT("");
  if ((IntoDevice() && folderLength == 0) ||
      GetTempFileNameW(folder, prefix, 0, temporaryName_) == 0) {
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

bool PendingOutputFile::IntoDevice() const {
  return found_ != INVALID_FILE_ATTRIBUTES && (found_ & FILE_ATTRIBUTE_DEVICE) != 0;
}

bool PendingOutputFile::Commit() {
  if (file_ == INVALID_HANDLE_VALUE) return false;
  const BOOL closed = CloseHandle(file_);
  file_ = INVALID_HANDLE_VALUE;
  if (!closed) return false;
  // A device or pipe gets a copy; the file itself goes with the destructor.
  if (IntoDevice()) return CopyInto(temporaryName_, target_);
  const BOOL placed = found_ == INVALID_FILE_ATTRIBUTES
                          ? MoveFileExW(temporaryName_, target_, 0)
                          : ReplaceFileW(target_, temporaryName_, nullptr, 0, nullptr, nullptr);
  if (placed) temporaryName_[0] = 0;
  return placed != FALSE;
}
