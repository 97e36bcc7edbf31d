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

}  // namespace

void NoteFileFailure(const char* action, const std::string& path, int error) {
  Notes& notes = TheNotes();
  std::lock_guard<std::mutex> lock(notes.mutex);
  notes.seen.fileAction = action;
  notes.seen.filePath = path;
  notes.seen.fileError = error;
}

void NoteMissingRoot(const char* variable, const std::string& root) {
  Notes& notes = TheNotes();
  std::lock_guard<std::mutex> lock(notes.mutex);
  notes.seen.rootMissing = true;
  notes.seen.rootVariable = variable;
  notes.seen.rootPath = root;
}

void NoteUnreadableArgument(int number) {
  Notes& notes = TheNotes();
  std::lock_guard<std::mutex> lock(notes.mutex);
  notes.seen.unreadableArgument = number;
}

void NoteUnreadableClock(const std::string& value) {
  Notes& notes = TheNotes();
  std::lock_guard<std::mutex> lock(notes.mutex);
  notes.seen.unreadableClock = true;
  notes.seen.clockValue = value;
}

void NoteAllocationFailure() {
  Notes& notes = TheNotes();
  std::lock_guard<std::mutex> lock(notes.mutex);
  notes.seen.outOfMemory = true;
}

void NoteRequest(const std::string& url) {
  Notes& notes = TheNotes();
  std::lock_guard<std::mutex> lock(notes.mutex);
  notes.seen.requestUrl = url;
  notes.seen.transferError.clear();
  notes.seen.tunnelRefusal = 0;
}

void NoteRequestFailure(const std::string& detail, int tunnelRefusal) {
  Notes& notes = TheNotes();
  std::lock_guard<std::mutex> lock(notes.mutex);
  notes.seen.transferError = detail;
  notes.seen.tunnelRefusal = tunnelRefusal;
}

void NoteBadUrl(const std::string& url) {
  Notes& notes = TheNotes();
  std::lock_guard<std::mutex> lock(notes.mutex);
  notes.seen.urlRefused = true;
  notes.seen.refusedUrl = url;
}

HostFailure LastHostFailure() {
  Notes& notes = TheNotes();
  std::lock_guard<std::mutex> lock(notes.mutex);
  return notes.seen;
}

}  // namespace platform
