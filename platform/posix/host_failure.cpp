// What the layer saw go wrong, kept for the host's failure line: generic POSIX code only.
#include "platform/host_failure.h"

#include <mutex>

#include "platform/posix/host_failure_notes.h"

namespace platform {
namespace {

struct Notes {
  std::mutex mutex;
  HostFailure seen;
};

Notes& TheNotes() {
  static Notes* notes = new Notes;  // never destroyed: worker threads may still allocate
  return *notes;
}

// Changes what was seen under the lock: the notes come from any thread.
template <class Change>
void Note(Change change) {
  Notes& notes = TheNotes();
  std::lock_guard<std::mutex> lock(notes.mutex);
  change(notes.seen);
}

}  // namespace

void NoteFileFailure(const char* action, const std::string& path, int error) {
  Note([&](HostFailure& seen) {
    seen.fileAction = action;
    seen.filePath = path;
    seen.fileError = error;
  });
}

void NoteMissingRoot(const std::string& root) {
  Note([&](HostFailure& seen) {
    seen.rootMissing = true;
    seen.rootPath = root;
  });
}

void NoteUnreadableArgument(int number) {
  Note([&](HostFailure& seen) { seen.unreadableArgument = number; });
}

void NoteUnreadableClock(const std::string& value) {
  Note([&](HostFailure& seen) {
    seen.unreadableClock = true;
    seen.clockValue = value;
  });
}

void NoteAllocationFailure() {
  Note([](HostFailure& seen) { seen.outOfMemory = true; });
}

void NoteRequest(const std::string& url) {
  Note([&](HostFailure& seen) {
    seen.requestUrl = url;
    seen.transferError.clear();
    seen.tunnelRefusal = 0;
  });
}

void NoteRequestFailure(const std::string& detail, int tunnelRefusal) {
  Note([&](HostFailure& seen) {
    seen.transferError = detail;
    seen.tunnelRefusal = tunnelRefusal;
  });
}

void NoteBadUrl(const std::string& url) {
  Note([&](HostFailure& seen) {
    seen.urlRefused = true;
    seen.refusedUrl = url;
  });
}

HostFailure LastHostFailure() {
  Notes& notes = TheNotes();
  std::lock_guard<std::mutex> lock(notes.mutex);
  return notes.seen;
}

}  // namespace platform
