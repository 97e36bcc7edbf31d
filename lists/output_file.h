// The output-file rule that every job follows, and the one way a line of text
// reaches the file: code page 932 bytes followed by CR LF.
#pragma once

#include "platform/win32.h"

// Creates (or empties) the file at `path` for writing, readable by others while
// it is written. The caller closes the handle. INVALID_HANDLE_VALUE on failure.
HANDLE CreateOutputFile(LPCWSTR path);

// Whether something is at `path` (by the rule above), without creating anything.
bool OutputFileExists(LPCWSTR path);

// Results of WriteLine.
constexpr int kLineWritten = 0;
constexpr int kLineNotWritten = -1;

// Writes `text` in the ANSI code page, then CR LF. Characters the code page lacks
// become its default character. kLineNotWritten when the text or the CR LF was not
// written in full; the CR LF is not written when the text was not.
int WriteLine(HANDLE file, LPCWSTR text);

// A job's new output file. It is written under a temporary name in the output
// file's folder (made by CreateOutputFile's rule) and takes the output file's
// place only when Commit is called, once it is complete: until then an existing
// output file stays as it was, and a file that is never committed is removed.
// The new file keeps what the user set on the one it replaces (permissions, a
// symbolic link leading to it), as ReplaceFileW does.
class PendingOutputFile {
 public:
  explicit PendingOutputFile(LPCWSTR outputPath);
  ~PendingOutputFile();
  PendingOutputFile(const PendingOutputFile&) = delete;
  PendingOutputFile& operator=(const PendingOutputFile&) = delete;

  // False when the temporary file could not be made: nothing exists then.
  bool valid() const { return file_ != INVALID_HANDLE_VALUE; }
  HANDLE handle() const { return file_; }

  // Closes the file and puts it in place of the output file. False when either
  // fails: the temporary file is removed and the old output file stays.
  bool Commit();

 private:
  LPCWSTR outputPath_;
  WCHAR temporaryName_[MAX_PATH] = {};
  HANDLE file_ = INVALID_HANDLE_VALUE;
};
