// Files. A path that begins with a backslash is a device path: its backslashes
// become slashes and it is resolved under the device root ($ZEMLIK_ROOT, else
// $HOME). "\My Documents" is created under the root on demand; no other missing
// folder ever is. Any other path is a host path, used as it is.
#pragma once

#include "platform/win32.h"

#if defined(_WIN32)

// The system's calls, given the host path of each program path. On Windows the
// device root defaults to the user's profile folder (%USERPROFILE%), a device path
// keeps its backslashes, and a path that begins with two backslashes (UNC, \\?\)
// is a host path. GetTempFileNameW writes the program path of the file it made, and
// makes it only where that path fits the caller's MAX_PATH buffer. ReplaceFileW is a move
// over the replaced file that keeps its attributes (read-only, hidden, system, archive).
namespace platform {
HANDLE DeviceCreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                         SECURITY_ATTRIBUTES* securityAttributes, DWORD creationDisposition,
                         DWORD flagsAndAttributes, HANDLE templateFile);
UINT DeviceGetTempFileNameW(LPCWSTR pathName, LPCWSTR prefixString, UINT unique,
                            LPWSTR tempFileName);
BOOL DeviceDeleteFileW(LPCWSTR fileName);
BOOL DeviceMoveFileExW(LPCWSTR existingFileName, LPCWSTR newFileName, DWORD flags);
BOOL DeviceReplaceFileW(LPCWSTR replacedFileName, LPCWSTR replacementFileName,
                        LPCWSTR backupFileName, DWORD replaceFlags, LPVOID exclude,
                        LPVOID reserved);
// Creates no "\My Documents": asking must not change what is there. A path the system
// names a device (\\.\NUL, as GetFullPathNameW makes of NUL and CON) is
// FILE_ATTRIBUTE_DEVICE, which the system does not say of it.
DWORD DeviceGetFileAttributesW(LPCWSTR fileName);
}  // namespace platform

#else  // POSIX

constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD FILE_SHARE_READ = 0x00000001;
constexpr DWORD FILE_SHARE_WRITE = 0x00000002;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_DEVICE = 0x40;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

// Three forms: GENERIC_WRITE with CREATE_ALWAYS (an existing file is emptied; a new one
// gets mode 0666 less the umask), GENERIC_WRITE with OPEN_EXISTING (nothing is created or
// emptied: a device, a named pipe, whose open waits for a reader; with
// FILE_FLAG_OVERLAPPED the open does not wait and fails when no reader is there) and
// GENERIC_READ with OPEN_EXISTING. INVALID_HANDLE_VALUE on failure.
// Paths are UTF-16, handed to the host in UTF-8.
HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   SECURITY_ATTRIBUTES* securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);

// TRUE only when every byte was written; *written gets the count that was.
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD written, void* overlapped);
// TRUE when the read worked: *read is then 0 only at the end of the file.
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD read, void* overlapped);

// The host's folder for temporary files, $TMPDIR or else /tmp, with a trailing '/'. Returns
// its length; when `bufferLength` is too small, the length it needs with the terminator.
DWORD GetTempPathW(DWORD bufferLength, LPWSTR buffer);

// Creates an empty, uniquely named file "<prefix up to 3 chars><hex>.TMP" in the
// folder `pathName` (a program path, device or host) and writes its program path
// into tempFileName (MAX_PATH characters). The name joins the folder with '\'
// for a device path and '/' for a host path; hex is upper case without leading
// zeros. The file is created exclusively, moving on to the next number when the
// name is taken. Returns the unique number, 0 on failure. A nonzero `unique`
// only forms the name from its low 16 bits, creates nothing and is returned.
// A file it made is removed should SIGINT, SIGTERM, SIGHUP or SIGXFSZ end the
// process before DeleteFileW, MoveFileExW or ReplaceFileW has taken it away.
UINT GetTempFileNameW(LPCWSTR pathName, LPCWSTR prefixString, UINT unique, LPWSTR tempFileName);

// What is at `fileName`, a symbolic link followed: FILE_ATTRIBUTE_DIRECTORY for a folder,
// FILE_ATTRIBUTE_NORMAL for a regular file, FILE_ATTRIBUTE_DEVICE for a device, a named
// pipe or a socket; INVALID_FILE_ATTRIBUTES when nothing is there or it cannot be reached.
// Creates no "\My Documents": asking must not change what is there.
DWORD GetFileAttributesW(LPCWSTR fileName);

BOOL DeleteFileW(LPCWSTR fileName);
// flags 0 (anything at the target, a symbolic link included, makes it fail) or
// MOVEFILE_REPLACE_EXISTING (an atomic replace, within one file system).
BOOL MoveFileExW(LPCWSTR existingFileName, LPCWSTR newFileName, DWORD flags);

// Only a null backup name, flags 0 and null exclude/reserved. Puts the replacement
// file in the place of the replaced one, which must exist (else FALSE with
// ERROR_FILE_NOT_FOUND). As on Windows, the replaced file's permission bits go to
// the new file, and its owner and group where the process may set them; a
// symbolic link is followed, so its final target is replaced and the link stays.
// Atomic; both files must be on one file system (else FALSE, as on Windows).
BOOL ReplaceFileW(LPCWSTR replacedFileName, LPCWSTR replacementFileName, LPCWSTR backupFileName,
                  DWORD replaceFlags, LPVOID exclude, LPVOID reserved);

#endif  // _WIN32

namespace platform {

// The file that a new output for the program path `path` goes to, as a program path the
// other calls take: links are the host's to see, not the program's. On POSIX, the name a
// chain of symbolic links at `path` ends in (a host path; the file there may be missing), or
// `path` itself where no link is to be followed (none, or one the kernel resolves to a
// device or pipe). On Windows, the full path: an existing file's final path (links followed),
// else GetFullPathNameW's, under the device root for a device path ("\My Documents" made as
// the other calls make it). Returns its length; when `capacity` is too small, the length it
// needs with the terminator; 0 on failure (a loop, a link that cannot be read or, on
// Windows, that leads nowhere).
DWORD OutputTargetW(LPCWSTR path, LPWSTR target, DWORD capacity);

}  // namespace platform
