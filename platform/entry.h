// The host's process entry. The device starts the program with one argument
// text (without the program's name); a shell hands it words. RunWinMain turns
// the words back into that text and calls the program's entry with it.
#pragma once

#include <string>

#include "platform/win32.h"

namespace platform {

// argv[1..] joined with single blanks; a null word counts as empty. A word that
// begins with "/o:" and contains a blank but no double quote gets its value quoted
// (/o:"\My Documents\a b.csv"), as a device user would type it; every other word
// is joined as it is. No words, or one empty word, give the empty text. On Windows
// the words are already wide, as CommandLineToArgvW splits the command line.
std::basic_string<WCHAR> BuildArgumentText(int argc, const WCHAR* const* argv);

#if !defined(_WIN32)
// The same over a shell's words, each decoded from UTF-8 (each invalid byte
// becomes U+FFFD).
std::u16string BuildArgumentText(int argc, const char* const* argv);
#endif

// The program as the host starts it.
struct Program {
  int (*winMain)(HINSTANCE, HINSTANCE, LPWSTR, int);
  // The program's account of a run that ended with `exitCode`; `argumentText` as built.
  void (*report)(int exitCode, LPCWSTR argumentText);
  // The exit code of a command line that the host cannot turn into the argument text: the
  // program's own for a rejected one.
  int rejectedExitCode;
  // The exit code of a run that the host cannot start (an unreadable ZEMLIK_CLOCK): the
  // program's own for a failed job.
  int failedExitCode;
};

// Calls program.winMain(nullptr, nullptr, text, SW_SHOWNORMAL) with the rebuilt text in
// a writable zero-terminated buffer, flushes standard output, hands the result and the
// text as it was built to program.report, flushes standard error, and returns winMain's
// result as the exit code. An unreadable ZEMLIK_CLOCK ends the run before winMain with
// program.failedExitCode; on POSIX so does an argument that is not valid UTF-8, with
// program.rejectedExitCode, as no text can be made of it (LastHostFailure names either). On Windows
// argc and argv are not used: the words come from GetCommandLineW, so they are not limited to the
// ANSI code page.
int RunWinMain(int argc, char** argv, const Program& program);

}  // namespace platform
