// The trace sink: generic POSIX code only.
#include "platform/trace.h"

#include <cstdio>
#include <string>

#include "platform/posix/utf.h"

void OutputDebugStringW(LPCWSTR text) {
  if (!platform::TraceMirrored()) return;
  std::string line = platform::MaskPasswords(std::string_view(platform::Utf16ToUtf8(text)));
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}
