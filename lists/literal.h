// The literal test of the scanners that read a text one position at a time.
#pragma once

#include "platform/win32.h"

// Does the text at `pos` begin with `literal`? Exact and case-sensitive. The text is
// terminated at or behind `pos`, and its terminator differs from every character of a
// literal, so a literal running past the end does not match and nothing behind the
// terminator is read.
inline bool LiteralAt(LPCWSTR text, SIZE_T pos, LPCWSTR literal) {
  for (SIZE_T i = 0; literal[i] != 0; ++i) {
    if (text[pos + i] != literal[i]) return false;
  }
  return true;
}
