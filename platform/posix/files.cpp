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
#include "platform/posix/temporary_files.h"
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
// lies there (and `create`). False when the path is empty, or is a device path and its
// root is missing, which is noted: the root itself is never made.
bool Resolve(LPCWSTR path, std::string* out, bool create = true) {
  platform::ResolvedPath<char> host =
      platform::ResolveDevicePath(platform::Utf16ToUtf8(path).c_str(), std::getenv("ZEMLIK_ROOT"),
                                  std::getenv("HOME"), platform::kPosixPaths);
  struct stat info;
  if (host.kind == host.kNoRoot) platform::NoteMissingRoot("");
  if (host.kind == host.kDevice && stat(host.root.c_str(), &info) != 0) {
    platform::NoteMissingRoot(host.root);
    return false;
  }
  if (!host.ok()) return false;
  // An existing folder (EEXIST) is the usual case; any other failure shows when the
  // file itself is opened.
  if (create && !host.folder.empty()) mkdir(host.folder.c_str(), 0777);
  *out = std::move(host.path);
  return true;
}

// Copies `text` and its terminator into `buffer` when `capacity` holds both, and returns its
// length; otherwise the room it needs, terminator included.
DWORD CopyOut(const std::u16string& text, LPWSTR buffer, DWORD capacity) {
  if (buffer == nullptr || text.size() >= capacity) return static_cast<DWORD>(text.size() + 1);
  std::copy(text.begin(), text.end(), buffer);
  buffer[text.size()] = 0;
  return static_cast<DWORD>(text.size());
}

}  // namespace

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   SECURITY_ATTRIBUTES* securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile) {
  int flags;
  if (desiredAccess == GENERIC_WRITE && creationDisposition == CREATE_ALWAYS) {
    flags = O_WRONLY | O_CREAT | O_TRUNC;
  } else if (desiredAccess == GENERIC_WRITE && creationDisposition == OPEN_EXISTING) {
    flags = O_WRONLY | ((flagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0 ? O_NONBLOCK : 0);
  } else if (desiredAccess == GENERIC_READ && creationDisposition == OPEN_EXISTING) {
    flags = O_RDONLY;
  } else {
    return INVALID_HANDLE_VALUE;
  }
  std::string path;
  if (!Resolve(fileName, &path)) return INVALID_HANDLE_VALUE;
  int fd;
  do {
    fd = open(path.c_str(), flags | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  // An open that must not wait only asks whether a reader is there: no answer is a failure.
  if (fd < 0 && (flags & O_NONBLOCK) == 0) {
    platform::NoteFileFailure((flags & O_CREAT) != 0 ? "create" : "open", path, errno);
  }
  if (fd < 0) return INVALID_HANDLE_VALUE;
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

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD read, void* overlapped) {
  if (read != nullptr) *read = 0;
  auto source = platform::FindHandleAs<File>(file);
  if (source == nullptr || (buffer == nullptr && bytesToRead > 0)) return FALSE;
  ssize_t n;
  do {
    n = ::read(source->fd(), buffer, bytesToRead);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    platform::NoteFileFailure("read", source->path(), errno);
    return FALSE;
  }
  if (read != nullptr) *read = static_cast<DWORD>(n);
  return TRUE;
}

DWORD GetTempPathW(DWORD bufferLength, LPWSTR buffer) {
  const char* folder = std::getenv("TMPDIR");
  std::u16string path =
      platform::Utf8ToUtf16(folder != nullptr && folder[0] != 0 ? folder : "/tmp");
  if (path.back() != u'/') path.push_back(u'/');
  return CopyOut(path, buffer, bufferLength);
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
      platform::RegisterTemporaryFile(path);
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
  const bool removed = unlink(path.c_str()) == 0;
  platform::UnregisterTemporaryFile(path);
  return removed ? TRUE : FALSE;
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
    if (lstat(to.c_str(), &info) == 0) {
      platform::NoteFileFailure("rename", to, EEXIST);
      return FALSE;
    }
  }
  if (rename(from.c_str(), to.c_str()) != 0) {
    platform::NoteFileFailure("rename", to, errno);
    return FALSE;
  }
  platform::UnregisterTemporaryFile(from);
  return TRUE;
}

namespace {

// Sets the last error of a failed replace from errno, and notes it.
BOOL ReplaceFailed(const std::string& path) {
  SetLastError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_GEN_FAILURE);
  platform::NoteFileFailure("replace", path, errno);
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
    // Not st_size: the kernel's own links (/proc) report 0.
    char link[4096];
    const ssize_t length = readlink(path.c_str(), link, sizeof link);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof link) {
      if (length >= 0) errno = ENAMETOOLONG;
      return false;
    }
    if (link[0] == '/') {
      path.assign(link, static_cast<std::size_t>(length));
    } else {
      const std::size_t slash = path.rfind('/');
      path = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) +
             std::string(link, static_cast<std::size_t>(length));
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
  struct stat old;
  if (!FinalTarget(replaced, &target) || stat(target.c_str(), &old) != 0) {
    return ReplaceFailed(target.empty() ? replaced : target);
  }
  if (!S_ISREG(old.st_mode)) {
    errno = S_ISDIR(old.st_mode) ? EISDIR : EINVAL;
    return ReplaceFailed(target);
  }
  const int fd = open(replacement.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return ReplaceFailed(target);
  const bool taken = TakeOver(fd, old);
  close(fd);
  if (!taken || rename(replacement.c_str(), target.c_str()) != 0) return ReplaceFailed(target);
  platform::UnregisterTemporaryFile(replacement);
  return TRUE;
}

DWORD platform::OutputTargetW(LPCWSTR path, LPWSTR target, DWORD capacity) {
  std::string host;
  if (!Resolve(path, &host, false)) return 0;
  std::u16string name = path;
  struct stat link;
  struct stat info;
  // A link that the kernel resolves to a device or a pipe is opened through: /dev/stdout's
  // chain may end in a pipe, which has no name to follow.
  if (lstat(host.c_str(), &link) == 0 && S_ISLNK(link.st_mode) &&
      (stat(host.c_str(), &info) != 0 || S_ISREG(info.st_mode) || S_ISDIR(info.st_mode))) {
    std::string final;
    if (!FinalTarget(host, &final)) {
      platform::NoteFileFailure("follow the link", host, errno);
      return 0;
    }
    name = platform::Utf8ToUtf16(final);
    // A name that is not UTF-8 would be written to another name.
    if (platform::Utf16ToUtf8(name.c_str(), name.size()) != final) {
      platform::NoteFileFailure("follow the link", host, EILSEQ);
      return 0;
    }
    if (name[0] == u'\\') name.insert(0, u"./");  // a host path, not a device path
  }
  return CopyOut(name, target, capacity);
}
