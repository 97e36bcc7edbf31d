// The system's code page conversions with CP_ACP pinned to 932: Win32 code only.
#include "platform/text.h"

namespace {

constexpr UINT kDeviceAnsiCodePage = 932;

UINT DeviceCodePage(UINT codePage) { return codePage == CP_ACP ? kDeviceAnsiCodePage : codePage; }

}  // namespace

namespace platform {

int MultiByteToWideChar932(UINT codePage, DWORD flags, LPCSTR src, int srcLength, LPWSTR dst,
                           int dstSize) {
  return ::MultiByteToWideChar(DeviceCodePage(codePage), flags, src, srcLength, dst, dstSize);
}

int WideCharToMultiByte932(UINT codePage, DWORD flags, LPCWSTR src, int srcLength, LPSTR dst,
                           int dstSize, LPCSTR defaultChar, LPBOOL usedDefaultChar) {
  // A character the page lacks becomes the default character, as on every host:
  // no best-fit look-alike ("e" for "\u00e9").
  if (codePage == CP_ACP) flags |= WC_NO_BEST_FIT_CHARS;
  return ::WideCharToMultiByte(DeviceCodePage(codePage), flags, src, srcLength, dst, dstSize,
                               defaultChar, usedDefaultChar);
}

}  // namespace platform
