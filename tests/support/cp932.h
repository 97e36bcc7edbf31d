// Expected bytes in the device's ANSI code page, made by the host's own converter
// (glibc's iconv on POSIX, the system's code page 932 on Windows), not by the layer
// under test.
#pragma once

#include <string>

namespace zemlik::testing {

// UTF-8 text as code page 932 bytes. A character the page lacks fails the calling test.
std::string Cp932(const std::string& utf8);

}  // namespace zemlik::testing
