// Files, behind the device-path rule (common/device_path.cpp): generic POSIX code only.
#include "platform/files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/common/device_path.h"
#include "platform/posix/host_failure_notes.h"
#include "platform/posix/object.h"
#include "platform/posix/utf.h"
#include "platform/time.h"

namespace {

class File : public platform::Object {
 public:
  File(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~File() override { close(fd_); }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }

 private:
  const int fd_;
  const std::string path_;
};

// The host path of a program path, creating "<root>/My Documents" when the path
// lies there (and `create`). False when there is no root or the path is empty.
bool Resolve(LPCWSTR path, std::string* out, bool create = true) {
  platform::ResolvedPath<char> host =
      platform::ResolveDevicePath(platform::Utf16ToUtf8(path).c_str(), std::getenv("ZEMLIK_ROOT"),
                                  std::getenv("HOME"), platform::kPosixPaths);
  if (!host.ok()) return false;
  // An existing folder (EEXIST) is the usual case; any other failure shows when the
  // file itself is opened.
  if (create && !host.folder.empty()) mkdir(host.folder.c_str(), 0777);
  *out = std::move(host.path);
  return true;
}

}  // namespace

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   SECURITY_ATTRIBUTES* securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile) {
  if (desiredAccess != GENERIC_WRITE || creationDisposition != CREATE_ALWAYS) {
    return INVALID_HANDLE_VALUE;
  }
  std::string path;
  if (!Resolve(fileName, &path)) return INVALID_HANDLE_VALUE;
  int fd;
  do {
    fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    platform::NoteFileFailure("create", path, errno);
    return INVALID_HANDLE_VALUE;
  }
  return platform::NewHandle(std::make_shared<File>(fd, std::move(path)));
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD written, void* overlapped) {
  if (written != nullptr) *written = 0;
  auto target = platform::FindHandleAs<File>(file);
  if (target == nullptr || (buffer == nullptr && bytesToWrite > 0)) return FALSE;
  const char* bytes = static_cast<const char*>(buffer);
  DWORD done = 0;
  while (done < bytesToWrite) {
    ssize_t n = write(target->fd(), bytes + done, bytesToWrite - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      platform::NoteFileFailure("write", target->path(), n < 0 ? errno : ENOSPC);
      break;
    }
    done += static_cast<DWORD>(n);
  }
  if (written != nullptr) *written = done;
  return done == bytesToWrite ? TRUE : FALSE;
}

UINT GetTempFileNameW(LPCWSTR pathName, LPCWSTR prefixString, UINT unique, LPWSTR tempFileName) {
  if (pathName == nullptr || tempFileName == nullptr) return 0;
  std::u16string folder(pathName);
  if (!folder.empty() && folder.back() != u'\\' && folder.back() != u'/') {
    folder.push_back(folder[0] == u'\\' ? u'\\' : u'/');
  }
  std::u16string prefix;
  for (int i = 0; prefixString != nullptr && i < 3 && prefixString[i] != 0; ++i) {
    prefix.push_back(prefixString[i]);
  }
  const bool create = unique == 0;
  UINT number = create ? ((GetTickCount() ^ static_cast<UINT>(getpid())) & 0xFFFF) : unique;
  // Every 16-bit number is tried once before giving up.
  for (UINT attempt = 0; attempt < 0x10000; ++attempt) {
    if (number == 0) number = 1;
    WCHAR hex[12];
    int hexLength = 0;
    UINT value = create ? number : (number & 0xFFFF);
    do {
      unsigned d = value & 0xF;
      hex[hexLength++] = static_cast<WCHAR>(d < 10 ? u'0' + d : u'A' + (d - 10));
      value >>= 4;
    } while (value != 0);
    std::u16string name = folder + prefix;
    while (hexLength > 0) name.push_back(hex[--hexLength]);
    name += u".TMP";
    if (name.size() >= MAX_PATH) return 0;
    if (!create) {
      std::copy(name.begin(), name.end(), tempFileName);
      tempFileName[name.size()] = 0;
      return unique;
    }
    std::string path;
    if (!Resolve(name.c_str(), &path)) return 0;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      close(fd);
      std::copy(name.begin(), name.end(), tempFileName);
      tempFileName[name.size()] = 0;
      return number;
    }
    if (errno != EEXIST && errno != EINTR) {
      const std::size_t slash = path.rfind('/');
      platform::NoteFileFailure(
          "create a file in", slash == std::string::npos ? "." : path.substr(0, slash ? slash : 1),
          errno);
      return 0;
    }
    number = (number + 1) & 0xFFFF;
  }
  return 0;
}

DWORD GetFileAttributesW(LPCWSTR fileName) {
  std::string path;
  struct stat info;
  if (!Resolve(fileName, &path, false) || stat(path.c_str(), &info) != 0) {
    return INVALID_FILE_ATTRIBUTES;
  }
  if (S_ISDIR(info.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  return S_ISREG(info.st_mode) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_DEVICE;
}

BOOL DeleteFileW(LPCWSTR fileName) {
  std::string path;
  if (!Resolve(fileName, &path)) return FALSE;
  return unlink(path.c_str()) == 0 ? TRUE : FALSE;
}

BOOL MoveFileExW(LPCWSTR existingFileName, LPCWSTR newFileName, DWORD flags) {
  if ((flags & ~MOVEFILE_REPLACE_EXISTING) != 0) return FALSE;
  std::string from;
  std::string to;
  if (!Resolve(existingFileName, &from) || !Resolve(newFileName, &to)) return FALSE;
  if ((flags & MOVEFILE_REPLACE_EXISTING) == 0) {
    // Without the flag an existing target is kept. The check and the rename are
    // two steps; the program never races another writer for its output.
    struct stat info;
    if (lstat(to.c_str(), &info) == 0) return FALSE;
  }
  if (rename(from.c_str(), to.c_str()) == 0) return TRUE;
  platform::NoteFileFailure("rename", to, errno);
  return FALSE;
}

namespace {

// Sets the last error of a failed replace from errno; a missing file to replace is the
// caller's to handle, anything else is noted for the exit report.
BOOL ReplaceFailed(const std::string& path) {
  if (errno == ENOENT) {
    SetLastError(ERROR_FILE_NOT_FOUND);
  } else {
    SetLastError(ERROR_GEN_FAILURE);
    platform::NoteFileFailure("replace", path, errno);
  }
  return FALSE;
}

// The name a chain of symbolic links starting at `path` ends in (the file there
// may not exist). False on a loop or a link that cannot be read.
bool FinalTarget(std::string path, std::string* out) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
      *out = std::move(path);
      return true;
    }
    std::string link(static_cast<std::size_t>(info.st_size) + 1, '\0');
    const ssize_t length = readlink(path.c_str(), link.data(), link.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= link.size()) return false;
    link.resize(static_cast<std::size_t>(length));
    if (link[0] == '/') {
      path = std::move(link);
    } else {
      const std::size_t slash = path.rfind('/');
      path = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + link;
    }
  }
  errno = ELOOP;
  return false;
}

// Gives `fd` the permission bits of `old`, and its owner and group where allowed.
// The owner goes first: changing it may clear set-id bits that the mode sets.
bool TakeOver(int fd, const struct stat& old) {
  if (fchown(fd, old.st_uid, old.st_gid) != 0) {
    // Not allowed to give the file away: keep at least the group, where allowed.
    [[maybe_unused]] const int ignored = fchown(fd, static_cast<uid_t>(-1), old.st_gid);
  }
  return fchmod(fd, old.st_mode & 07777) == 0;
}

// A target on another file system: a copy of `from` is made beside `to` and
// renamed over it, then `from` goes.
bool CopyOver(const std::string& from, const std::string& to, const struct stat* old) {
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat own;
  if (in < 0 || fstat(in, &own) != 0) {
    if (in >= 0) close(in);
    return false;
  }
  std::string temporary = to + ".XXXXXX";
  const int out = mkostemp(temporary.data(), O_CLOEXEC);
  if (out < 0) {
    close(in);
    return false;
  }
  // A new file keeps the mode the replacement was made with.
  bool ok = TakeOver(out, old != nullptr ? *old : own);
  char block[65536];
  while (ok) {
    const ssize_t got = read(in, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    for (ssize_t done = 0; ok && done < got;) {
      const ssize_t n = write(out, block + done, static_cast<std::size_t>(got - done));
      if (n < 0 && errno == EINTR) continue;
      ok = n > 0;
      done += n > 0 ? n : 0;
    }
  }
  close(in);
  ok = close(out) == 0 && ok && rename(temporary.c_str(), to.c_str()) == 0;
  if (!ok) {
    const int saved = errno;
    unlink(temporary.c_str());
    errno = saved;
    return false;
  }
  unlink(from.c_str());
  return true;
}

}  // namespace

BOOL ReplaceFileW(LPCWSTR replacedFileName, LPCWSTR replacementFileName, LPCWSTR backupFileName,
                  DWORD replaceFlags, LPVOID exclude, LPVOID reserved) {
  if (backupFileName != nullptr || replaceFlags != 0 || exclude != nullptr || reserved != nullptr) {
    return FALSE;
  }
  std::string replaced;
  std::string replacement;
  std::string target;
  if (!Resolve(replacedFileName, &replaced) || !Resolve(replacementFileName, &replacement)) {
    return FALSE;
  }
  struct stat info;
  if (lstat(replaced.c_str(), &info) != 0 || !FinalTarget(replaced, &target)) {
    return ReplaceFailed(replaced);
  }
  struct stat old;
  const bool exists = stat(target.c_str(), &old) == 0;
  if (exists) {
    if (!S_ISREG(old.st_mode)) {
      errno = S_ISDIR(old.st_mode) ? EISDIR : EINVAL;
      return ReplaceFailed(target);
    }
    const int fd = open(replacement.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return ReplaceFailed(target);
    const bool taken = TakeOver(fd, old);
    close(fd);
    if (!taken) return ReplaceFailed(target);
  }
  if (rename(replacement.c_str(), target.c_str()) == 0) return TRUE;
  if (errno != EXDEV) return ReplaceFailed(target);
  return CopyOver(replacement, target, exists ? &old : nullptr) ? TRUE : ReplaceFailed(target);
}
