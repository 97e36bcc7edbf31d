// Events, threads and waits.
#pragma once

#include "platform/win32.h"

// On Windows all of these are the system's own.
#if !defined(_WIN32)

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0x00000000;
constexpr DWORD WAIT_TIMEOUT = 0x00000102;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

// Only unnamed events without security attributes. An auto-reset event releases
// one wait and resets itself; a manual-reset one stays signalled until reset.
HANDLE CreateEventW(SECURITY_ATTRIBUTES* attributes, BOOL manualReset, BOOL initialState,
                    LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

// Waits on events, threads (signalled once ended) and the connection manager's
// handles. WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED (a handle that is not
// open or cannot be waited on, such as a file). Time-outs run on a monotonic
// clock.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
// waitAll must be FALSE; 1 to 64 handles. Returns WAIT_OBJECT_0 + i for the
// lowest signalled i (the first handle wins a tie, and only it is consumed),
// WAIT_TIMEOUT or WAIT_FAILED.
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds);

using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID parameter);
// Starts at once (creationFlags 0; attributes and stack size are ignored). The
// handle is signalled when the thread ends; the routine's result is not kept.
// Closing the handle of a running thread is safe: the thread runs on, and one
// still running when the process exits is not waited for.
HANDLE CreateThread(SECURITY_ATTRIBUTES* attributes, SIZE_T stackSize,
                    LPTHREAD_START_ROUTINE startAddress, LPVOID parameter, DWORD creationFlags,
                    LPDWORD threadId);
void Sleep(DWORD milliseconds);

#endif  // !_WIN32
