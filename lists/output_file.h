// The output-file rule that every job follows, and the one way a line of text
// reaches the file: code page 932 bytes followed by CR LF.
#pragma once

#include "platform/files.h"
#include "platform/win32.h"

// Creates (or empties) the file at `path` for writing, readable by others while
// it is written. The caller closes the handle. INVALID_HANDLE_VALUE on failure.
HANDLE CreateOutputFile(LPCWSTR path);

// For a job that failed, at its end: a reader waiting at a device or named pipe at `path`
// is let go (it reads the end of the file; nothing is written there). True when a file is at
// `path`, which the job left as it was. Creates nothing.
bool EndFailedOutput(LPCWSTR path);

// Why PendingOutputFile refused an output path by its own rule (Outcome.outputRefusal).
enum OutputRefusal : int {
  kOutputAccepted = 0,
  kOutputIsFolder,     // a folder, or a path that ends in a separator
  kOutputPathTooLong,  // no room for the target's name or a temporary name beside it
};

// The longest folder a temporary name fits beside, in a MAX_PATH buffer: the folder, a
// separator and "<hex>.TMP" (up to 8 characters).
constexpr SIZE_T kLongestOutputFolder = MAX_PATH - 10;

// Results of WriteLine.
constexpr int kLineWritten = 0;
constexpr int kLineNotWritten = -1;

// Writes `text` in the ANSI code page, then CR LF. Characters the code page lacks
// become its default character. kLineNotWritten when the text or the CR LF was not
// written in full; the CR LF is not written when the text was not.
int WriteLine(HANDLE file, LPCWSTR text);

// A job's new output file. It is written under a temporary name and reaches the output
// path only when Commit is called, once it is complete: until then nothing there changes,
// and a file that is never committed is removed. The output path is the file the layer
// says a new output goes to (platform::OutputTargetW: where a symbolic link leads), and
// what is there decides:
//   - nothing: the file is written in that folder and moved there, never over anything
//     that appeared meanwhile; a missing folder fails at the start;
//   - a file: written in its folder and put in its place by ReplaceFileW, keeping what the
//     user set on it (permissions, the link that leads to it);
//   - a device or named pipe: written in the system's folder for temporary files and
//     copied into it whole, in one pass;
//   - a folder, or a path that ends in a separator: refused before anything is made, as is
//     a path with no room for a temporary name (Outcome.outputRefusal says which).
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
  bool IntoDevice() const;

  WCHAR target_[MAX_PATH] = {};
  DWORD found_ = INVALID_FILE_ATTRIBUTES;  // what GetFileAttributesW found at target_
  WCHAR temporaryName_[MAX_PATH] = {};
  HANDLE file_ = INVALID_HANDLE_VALUE;
};
