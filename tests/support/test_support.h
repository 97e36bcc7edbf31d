// Helpers shared by every test executable: temporary folders, whole-file reads,
// and running the real binary as a child process. Tests may use POSIX freely;
// these helpers keep it out of the test bodies.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32.h"

namespace zemlik::testing {

// A fresh, empty folder under $TMPDIR (or /tmp), removed with everything in it
// when the object goes out of scope.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + relative.
  std::string Join(const std::string& relative) const;
  // Names of the entries under the folder, recursively, relative to it and
  // sorted ("My Documents", "My Documents/monthlist.csv"). Empty when none.
  std::vector<std::string> List() const;

 private:
  std::string path_;
};

// The whole content of a file as bytes; nullopt when it cannot be read.
std::optional<std::string> ReadFileBytes(const std::string& path);
// Creates or replaces a file with exactly `bytes`. False on failure.
bool WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

// The program's wide strings: WCHAR is char16_t on POSIX and wchar_t on Windows,
// UTF-16 on both. Literals of it are TEXT("...").
using WString = std::basic_string<WCHAR>;
using WStringView = std::basic_string_view<WCHAR>;

// UTF-16 <-> UTF-8 for building wide test inputs and comparing wide outputs.
WString Utf16(const std::string& utf8);
std::string Utf8(const WString& utf16);

struct ProcessResult {
  int exitCode = -1;  // the exit status, or 128 + signal when killed by a signal
  std::string out;    // everything written to standard output
  std::string err;    // everything written to standard error
};

// Runs `program` with `args` (argv[1..]) and waits for it to end, capturing both
// output streams. Standard input is /dev/null. The child inherits this process's
// environment without any ZEMLIK_* variable, then gets `env` on top, so a test
// states every ZEMLIK_* setting it relies on. On a failure to start, exitCode is
// -1 and err says why.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env = {});

// RunProcess on the built binary (build/zemlik of this build tree). When the environment
// variable ZEMLIK_TEST_WRAPPER is set, its blank-separated words (the first a full path)
// run the binary: ZEMLIK_TEST_WRAPPER="/usr/bin/valgrind --error-exitcode=99 ..." runs
// every end-to-end case under valgrind.
ProcessResult RunZemlik(const std::vector<std::string>& args,
                        const std::map<std::string, std::string>& env = {});

// A run that ends with exit code 2 or 3 says why in one line on standard error on the
// host ("zemlik: " and the reason); the Windows build says nothing. True when `err` is
// exactly what this build adds.
bool IsFailureReport(const std::string& err);

// The path of the built binary and of the source tree (compile definitions).
std::string ZemlikBinary();
std::string SourceDir();

}  // namespace zemlik::testing
