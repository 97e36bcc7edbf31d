// The trace buffer: one line of diagnostics at a time, handed to the platform's
// trace sink. Each line replaces the previous one; nothing else reads it.
#pragma once

#include "platform/routes.h"
#include "platform/text.h"
#include "platform/trace.h"
#include "platform/win32.h"

constexpr SIZE_T kTraceBufferLength = 1000;

extern WCHAR TraceBuffer[kTraceBufferLength];

// Formats one line into TraceBuffer (a line that does not fit is cut to 999
// characters and the terminator) and hands it to OutputDebugStringW.
// Arguments follow StringCchPrintfW: LPCWSTR for %s, int for %d, unsigned for %x.
template <class... Args>
void TraceLine(LPCWSTR format, Args... args) {
  StringCchPrintfW(TraceBuffer, kTraceBufferLength, format, args...);
  OutputDebugStringW(TraceBuffer);
}
