// The four canonical charset names. A charset travels as one of these pointers
// and is compared exactly with wcscmp.
#pragma once

#include "platform/win32.h"

inline constexpr WCHAR kCharsetSjis[] = TEXT("SJIS");
inline constexpr WCHAR kCharsetUtf8[] = TEXT("UTF8");
inline constexpr WCHAR kCharsetUnicode[] = TEXT("UNICODE");
inline constexpr WCHAR kCharsetBin[] = TEXT("BIN");
