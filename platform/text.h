// Wide strings, bounded wide formatting and the code page conversions.
// WCHAR is a UTF-16 code unit; these overloads take WCHAR strings.
#pragma once

#include "platform/win32.h"

#if defined(_WIN32)

// The C library's wide string routines and strsafe's StringCchPrintfW, as they are.
#include <cstdlib>
#include <cwchar>

namespace platform {
// The system's conversions, with CP_ACP taken as code page 932 whatever the
// system's ANSI code page is, so that files come out the same on every Windows.
int MultiByteToWideChar932(UINT codePage, DWORD flags, LPCSTR src, int srcLength, LPWSTR dst,
                           int dstSize);
int WideCharToMultiByte932(UINT codePage, DWORD flags, LPCWSTR src, int srcLength, LPSTR dst,
                           int dstSize, LPCSTR defaultChar, LPBOOL usedDefaultChar);
}  // namespace platform

#else  // POSIX

SIZE_T wcslen(LPCWSTR s);
LPWSTR wcscpy(LPWSTR dst, LPCWSTR src);
// Copies at most `count` characters; pads with zeros like the C routine and,
// like it, does not terminate when src is `count` characters or longer.
LPWSTR wcsncpy(LPWSTR dst, LPCWSTR src, SIZE_T count);
// Exact, case-sensitive; both stop at a terminator.
int wcscmp(LPCWSTR a, LPCWSTR b);
int wcsncmp(LPCWSTR a, LPCWSTR b, SIZE_T count);
// Decimal text to integer: optional blanks and sign, then digits. Values beyond
// 32 bits wrap modulo 2^32 (no undefined behaviour on long digit strings).
int _wtoi(LPCWSTR s);

// Bounded formatting into dst of cchDest characters (strsafe semantics): never
// writes past dst[cchDest-1], always terminates when cchDest > 0. Returns S_OK,
// or STRSAFE_E_INSUFFICIENT_BUFFER when the text was cut to cchDest-1 characters.
// Conversions: %s (LPCWSTR, null prints "(null)"), %d (int; a negative number
// keeps its sign: %02d of -1 is "-1"), %u (unsigned int), %x (unsigned int, lower
// case; cast a pointer to an integer first), each with an optional '0' flag and width; %%
// for a percent sign. cchDest 0 writes nothing; any other conversion writes an
// empty text; both give STRSAFE_E_INVALID_PARAMETER.
HRESULT StringCchPrintfW(LPWSTR dst, SIZE_T cchDest, LPCWSTR format, ...);

constexpr UINT CP_ACP = 0;  // the ANSI code page: 932 on every host
constexpr UINT CP_UTF8 = 65001;
constexpr DWORD MB_PRECOMPOSED = 0x00000001;
constexpr DWORD WC_COMPOSITECHECK = 0x00000200;

// Code page 932 (the Windows Japanese code page, glibc's CP932) for CP_ACP.
// Decoding: every byte of an invalid sequence becomes U+30FB, then decoding
// resumes at the next byte (a lead byte with a bad trail gives U+30FB and the
// trail byte is read afresh). Encoding: a character the page lacks becomes '?'
// (or defaultChar), one per character, a surrogate pair or an unpaired
// surrogate included, and *usedDefaultChar tells whether any was; with
// WC_COMPOSITECHECK a kana followed by U+3099/U+309A is written as the
// precomposed kana where the page has one, else the two stay apart.
// CP_UTF8 works too: an invalid byte decodes to U+FFFD, an unpaired surrogate
// encodes as U+FFFD; defaultChar and usedDefaultChar must be null with it.
// srcLength -1 means zero-terminated, terminator included in the conversion;
// srcLength 0 fails. dstSize 0 asks for the size needed. Returns the
// units/bytes written (or needed), 0 on failure (buffer too small: what fits
// is written, cut at a character boundary). Safe to call from any thread.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLength, LPWSTR dst,
                        int dstSize);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLength, LPSTR dst,
                        int dstSize, LPCSTR defaultChar, LPBOOL usedDefaultChar);

#endif  // _WIN32
