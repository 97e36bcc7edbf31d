// The temporary files the process has made and not yet removed or moved, so that a signal that
// ends the run removes them first. Internal to platform/posix.
#pragma once

#include <string>

namespace platform {

// GetTempFileNameW registers each file it made (by host path); DeleteFileW, MoveFileExW and
// ReplaceFileW drop it once it is gone from that name. A file beyond the table's room, or with a
// longer path than it holds, is simply not registered.
void RegisterTemporaryFile(const std::string& path);
void UnregisterTemporaryFile(const std::string& path);

// For the process entry: SIGINT, SIGTERM, SIGHUP and SIGXFSZ (each unless it was ignored when
// the process started, as a shell's nohup asks) remove the registered files, then end the
// process as the signal would have; SIGPIPE is ignored, so a write into a pipe whose reader
// went away fails instead.
void HandleEndingSignals();

}  // namespace platform
