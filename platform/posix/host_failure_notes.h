// Where the layer's calls note what went wrong, for LastHostFailure (platform/host_failure.h).
// Internal to platform/posix.
#pragma once

#include <string>

#include "platform/host_failure.h"

namespace platform {

// A file call failed: `action` ("create", "write", ...), the host path, errno.
void NoteFileFailure(const char* action, const std::string& path, int error);
// A device path's root is missing: the folder ZEMLIK_ROOT (else HOME) names, or "" when
// neither is set.
void NoteMissingRoot(const std::string& root);
// Argument `number` (1 = the first) is not valid UTF-8.
void NoteUnreadableArgument(int number);
// ZEMLIK_CLOCK holds `value`, which is no time: the run does not start.
void NoteUnreadableClock(const std::string& value);
// An allocation failed.
void NoteAllocationFailure();
// A request for `url` (its host with the port, as sent) is under way.
void NoteRequest(const std::string& url);
// Why the last request failed, in libcurl's words, and the status with which a proxy
// refused its https tunnel (0: none did).
void NoteRequestFailure(const std::string& detail, int tunnelRefusal);
// A URL that InternetCrackUrlW refused (empty for a null one).
void NoteBadUrl(const std::string& url);

}  // namespace platform
