// The Win32 / Windows CE base types and constants the program uses, under their
// Win32 names. Every other platform header includes this one.
//
// On Windows they are the system's own: this header includes <windows.h> (wide API,
// UNICODE) and declares nothing itself; WCHAR is wchar_t there and char16_t on POSIX,
// and TEXT() makes the literal of either. The other platform headers follow suit:
// what Windows has is used as it is; the calls that carry a test seam or the
// device-path rule are declared by the layer and routed for the program in routes.h.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)

#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef STRSAFE_NO_DEPRECATE
#define STRSAFE_NO_DEPRECATE
#endif
#include <windows.h>
// After <windows.h>: StringCchPrintfW and the STRSAFE_E_ results.
#include <strsafe.h>

#else  // POSIX

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using INT = int;
using LONG = std::int32_t;
using BOOL = int;
using HRESULT = std::int32_t;
using SIZE_T = std::size_t;
using INTERNET_PORT = WORD;

// One 16-bit UTF-16 code unit. Wide literals go through TEXT().
using WCHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPSTR = char*;
using LPCSTR = const char*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPDWORD = DWORD*;
using LPBOOL = BOOL*;

// In two steps, as the system's own, so that a macro argument is expanded first.
#define TEXT(s) PLATFORM_TEXT_(s)
#define PLATFORM_TEXT_(s) u##s

using HANDLE = void*;
using HINSTANCE = HANDLE;
using HWND = HANDLE;
using HLOCAL = void*;

struct SECURITY_ATTRIBUTES;

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

constexpr HRESULT S_OK = 0;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT STRSAFE_E_INSUFFICIENT_BUFFER = static_cast<HRESULT>(0x8007007Au);
constexpr HRESULT STRSAFE_E_INVALID_PARAMETER = static_cast<HRESULT>(0x80070057u);

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

constexpr DWORD MAX_PATH = 260;

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};
using LPSYSTEMTIME = SYSTEMTIME*;

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
static_assert(sizeof(GUID) == 16);

// The calling thread's last error code: set by the layer's calls that say so
// (with the system's numbers, such as WinINet's ERROR_INTERNET_*), else left alone.
DWORD GetLastError();
void SetLastError(DWORD error);
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_GEN_FAILURE = 31;

// Closes any handle the layer hands out: files, events, threads (the connection
// manager's and WinINet's own are closed by their own calls). FALSE for a
// handle that is not open: null, INVALID_HANDLE_VALUE, closed or foreign.
BOOL CloseHandle(HANDLE handle);

#endif  // _WIN32
