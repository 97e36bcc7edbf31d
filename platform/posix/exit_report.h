// The host's one line on standard error when the program ends with exit code 2
// or 3, as commands on this system do: "zemlik: " and, in plain words, what was
// rejected or what failed, and whether an existing output file was kept.
// Internal to platform/posix. The program itself says nothing: the line is made
// from its trace lines (what it did and why it stopped) and from what the layer
// saw go wrong (files, memory, the HTTP transfer).
#pragma once

#include <string>
#include <string_view>

#include "platform/win32.h"

namespace platform {

// Every trace line the program writes (OutputDebugStringW).
void NoteTraceLine(LPCWSTR line);
// A file call failed: `action` ("create", "write", ...), the host path, errno.
void NoteFileFailure(const char* action, const std::string& path, int error);
// An allocation failed.
void NoteAllocationFailure();
// A request for `url` (its host with the port, as sent) is under way.
void NoteRequest(const std::string& url);
// Why the last request failed, in libcurl's words.
void NoteRequestFailure(const std::string& detail);
// A URL that InternetCrackUrlW refused (empty for a null one).
void NoteBadUrl(const std::string& url);

// The line for `exitCode` 2 or 3 (with its line feed), empty for any other;
// `argumentText` is the program's argument text.
std::string ExitReport(int exitCode, std::u16string_view argumentText);

}  // namespace platform
