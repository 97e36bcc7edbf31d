// The Win32 calls the program reaches through the layer on Windows, routed in this one
// place: those with a test seam (allocation, clock, trace, WinINet's time limits) or the
// device-path rule (files, the connection-error display). Only the program's own code
// includes it (directly or through platform/scoped.h); the layer's files call the system's
// functions by their names.
//
// Each call is routed by a macro of its own name, as the system headers route their A/W
// names. The platform headers above include every system header that declares one of
// them (<windows.h>, <wininet.h>, <shellapi.h>) before the macros, so a later
// #include <windows.h> (or <wininet.h>, <shellapi.h>) changes nothing, whatever the order.
// On POSIX the layer defines these calls under their own names and nothing is routed.
#pragma once

#include "platform/files.h"
#include "platform/inet.h"
#include "platform/memory.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "platform/time.h"
#include "platform/trace.h"
#include "platform/win32.h"

#if defined(_WIN32)

#define CreateFileW platform::DeviceCreateFileW
#define GetTempFileNameW platform::DeviceGetTempFileNameW
#define DeleteFileW platform::DeviceDeleteFileW
#define MoveFileExW platform::DeviceMoveFileExW
#define ReplaceFileW platform::DeviceReplaceFileW
#define GetFileAttributesW platform::DeviceGetFileAttributesW
#define LocalAlloc platform::CountedLocalAlloc
#define GetLocalTime platform::SeamedLocalTime
#define MultiByteToWideChar platform::MultiByteToWideChar932
#define WideCharToMultiByte platform::WideCharToMultiByte932
#define ShellExecuteExW platform::DeviceShellExecuteExW
#define OutputDebugStringW platform::TraceOutputDebugStringW
#define InternetOpenW platform::TimedInternetOpenW
#define InternetConnectW platform::TimedInternetConnectW
// The program's entry keeps the device's name and wide command line; the system
// declares a WinMain of its own (ANSI command line, C linkage).
#define WinMain ZemlikWinMain

#endif  // _WIN32
