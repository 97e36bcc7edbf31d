// Text conversions between the program's wide strings (UTF-16) and the byte
// encodings that travel over HTTP: the ANSI code page through the platform, and
// UTF-8 through the program's own decoder and encoder.
//
// Each routine reads a zero-terminated source and hands back a new zero-terminated
// result, allocated with LocalAlloc and freed by the caller with LocalFree. Returns
// 0, or -103 when the result cannot be allocated (the out-parameter is then left
// as it was). Malformed input is converted as far as the rules allow; it is no error.
#pragma once

#include "platform/win32.h"

// Result codes of the conversions.
constexpr int kConversionOk = 0;
constexpr int kConversionNoMemory = -103;

// ANSI code page bytes to wide text; capacity 2n + 1 wide characters.
int AnsiToWide(LPCSTR source, LPWSTR* result);
// Wide text to ANSI code page bytes (code page 932 on both builds, at most two bytes a
// unit); capacity 2n + 1 bytes.
int WideToAnsi(LPCWSTR source, LPSTR* result);
// UTF-8 bytes to wide text; capacity 2n + 1 wide characters. Bytes outside a
// well-formed sequence are dropped; a byte that breaks an open sequence drops only
// the sequence and is read again, so no well-formed character goes with it. A
// four-byte form outside U+10000..U+10FFFF gives one U+FFFD.
int Utf8ToWide(LPCSTR source, LPWSTR* result);
// Wide text to UTF-8; capacity 3n + 1 bytes. Each 16-bit unit is encoded on its
// own, so a surrogate pair becomes two three-byte forms.
int WideToUtf8(LPCWSTR source, LPSTR* result);
