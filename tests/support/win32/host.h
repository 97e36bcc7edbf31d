// Windows test helpers' view of the host: the tests run under wine on a Linux host,
// where Windows programs see the Unix file system through drive Z:. Internal to
// tests/support/win32.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace zemlik::testing {

std::wstring Wide(const std::string& utf8);
std::string Narrow(const std::wstring& wide);

// A path as Windows programs name it: under wine a Unix path ("/work/x") becomes
// its DOS form ("Z:\work\x"); anything else is returned as it is.
std::wstring WindowsPath(const std::string& path);
// A Windows path as Unix programs started from wine need it; empty when this is
// not wine or the path has no Unix form.
std::string UnixPath(const std::wstring& path);

// A new, empty folder "<prefix><unique>" in the user's temporary folder; its
// Windows path, or empty on failure.
std::wstring NewTempFolder(const wchar_t* prefix);

// RunProcess, with the child ended after `milliseconds` (INFINITE: never) with the
// exit code `killedExitCode`.
ProcessResult RunProcessWithin(DWORD milliseconds, int killedExitCode, const std::string& program,
                               const std::vector<std::string>& args,
                               const std::map<std::string, std::string>& env);

// CommandLineToArgvW's inverse for one word: quoted and escaped so that the
// word comes back exactly.
std::wstring QuoteWord(const std::wstring& word);

}  // namespace zemlik::testing
