// The output-file rule that every job follows, and the one way a line of text
// reaches the file: code page 932 bytes followed by CR LF.
#pragma once

#include "platform/win32.h"

// Creates (or empties) the file at `path` for writing, readable by others while
// it is written. The caller closes the handle. INVALID_HANDLE_VALUE on failure.
HANDLE CreateOutputFile(LPCWSTR path);

// Writes `text` in the ANSI code page, then CR LF. Characters the code page lacks
// become its default character. Returns 0 when the text and the CR LF were
// written, -1 otherwise; the CR LF is not written when the text was not.
int WriteLine(HANDLE file, LPCWSTR text);
