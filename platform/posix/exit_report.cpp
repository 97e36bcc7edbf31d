// The host's line on standard error for exit codes 2 and 3: generic POSIX code only.
#include "platform/posix/exit_report.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "platform/connmgr.h"
#include "platform/inet.h"
#include "platform/posix/files_internal.h"
#include "platform/posix/utf.h"

namespace platform {
namespace {

constexpr std::size_t kKeptTraceLines = 32;
constexpr std::size_t kQuotedLength = 60;

struct Notes {
  std::mutex mutex;
  std::vector<std::string> traceLines;  // the latest, oldest first
  bool allocationFailed = false;
  std::string fileAction;
  std::string filePath;
  int fileError = 0;
  std::string requestUrl;
  std::string requestFailure;
  bool badUrl = false;
  std::string badUrlText;
};

Notes& TheNotes() {
  static Notes* notes = new Notes;  // never destroyed: worker threads may still allocate
  return *notes;
}

// The value of `key` ("rc=") in `line`: decimal, or hexadecimal after "0x". Absent: false.
bool Number(const std::string& line, const char* key, long long* value) {
  const std::size_t at = line.find(key);
  if (at == std::string::npos) return false;
  const char* text = line.c_str() + at + std::strlen(key);
  char* end = nullptr;
  errno = 0;
  *value = std::strtoll(text, &end, 0);
  return end != text && errno == 0;
}

// The latest trace line that begins with `prefix`, or empty.
std::string Latest(const std::vector<std::string>& lines, const char* prefix) {
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    if (it->rfind(prefix, 0) == 0) return *it;
  }
  return std::string();
}

std::string JobName(long long kind) {
  static const char* const kNames[] = {"comic-ta", "bunko-ta", "comic-wf", "url", "nowtime"};
  return kind >= 1 && kind <= 5 ? kNames[kind - 1] : "the job";
}

std::string Hex(long long value) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%llx", value);
  return text;
}

// A URL as the layer sent it, without the port its scheme implies.
std::string Readable(std::string url) {
  static const char* const kImplied[][2] = {{"http://", ":80"}, {"https://", ":443"}};
  for (const auto& implied : kImplied) {
    if (url.rfind(implied[0], 0) != 0) continue;
    const std::size_t hostEnd = url.find('/', std::strlen(implied[0]));
    const std::size_t length = std::strlen(implied[1]);
    if (hostEnd != std::string::npos && hostEnd >= length &&
        url.compare(hostEnd - length, length, implied[1]) == 0) {
      url.erase(hostEnd - length, length);
    }
  }
  return url;
}

// WinINet's error codes in words.
std::string InternetError(long long error) {
  switch (error) {
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
      return "the host or proxy name cannot be resolved";
    case ERROR_INTERNET_CANNOT_CONNECT:
      return "the host or proxy cannot be reached";
    case ERROR_INTERNET_TIMEOUT:
      return "nothing arrived within the time limit";
    case ERROR_INTERNET_CONNECTION_ABORTED:
      return "the connection broke";
    case ERROR_INTERNET_INVALID_CA:
      return "the server's certificate is not trusted";
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
      return "the secure connection failed";
    case ERROR_HTTP_REDIRECT_FAILED:
      return "too many redirects";
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
      return "the server's answer cannot be read";
    default:
      return "error " + std::to_string(error);
  }
}

// The connection's last status in words, for a job that got no connection.
std::string Connection(const std::string& jobLine) {
  long long last = 0;
  if (!Number(jobLine, "last=", &last)) return "no data connection";
  if (last == 0) return "no data connection (the connection manager refused or reported nothing)";
  if (last == CONNMGR_STATUS_DISCONNECTED) return "no data connection (it was disconnected)";
  if ((last & CONNMGR_STATUS_DISCONNECTED) != 0) {
    return "no data connection (it failed with status " + Hex(last) + ")";
  }
  return "no data connection within 20 s (the last status was " + Hex(last) + ")";
}

// What a request's trace line says went wrong, with the notes of the layer.
std::string Request(const std::string& cause, const Notes& notes) {
  const std::string url = notes.requestUrl.empty() ? "the server" : Readable(notes.requestUrl);
  long long status = 0;
  long long error = 0;
  const bool hasError = Number(cause, "error=", &error) && error != 0;
  if (Number(cause, "status=", &status)) {
    return "the server answered " + std::to_string(status) + " for " + url;
  }
  const std::size_t read = cause.find("read=");
  if (read != std::string::npos) {
    std::string counts = cause.substr(read + 5, cause.find(',', read) - (read + 5));
    const std::size_t slash = counts.find('/');
    if (slash != std::string::npos) counts.replace(slash, 1, " of ");
    return std::string("the body ") + (hasError ? "broke off" : "ended") + " after " + counts +
           " bytes from " + url + (hasError ? " (" + InternetError(error) + ")" : "");
  }
  std::string words = "cannot fetch " + url;
  if (hasError) words += ": " + InternetError(error);
  if (!notes.requestFailure.empty()) words += " (" + notes.requestFailure + ")";
  return words;
}

std::string Quoted(std::u16string_view text) {
  const bool cut = text.size() > kQuotedLength;
  if (cut) text = text.substr(0, kQuotedLength - 3);
  return "\"" + Utf16ToUtf8(text.data(), text.size()) + (cut ? "...\"" : "\"");
}

std::string Rejected(const Notes& notes, std::u16string_view argumentText) {
  const std::string stop = Latest(notes.traceLines, "pcl:stop=");
  long long at = 0;
  long long state = 0;
  if (notes.allocationFailed || !Number(stop, "stop=", &at) || !Number(stop, "st=", &state) ||
      at < 0 || static_cast<std::size_t>(at) > argumentText.size()) {
    return notes.allocationFailed ? "command line rejected: out of memory while reading it"
                                  : "command line rejected";
  }
  std::string why;
  if (state == 200) {
    why = "no such job (the jobs are comic-ta, bunko-ta, comic-wf, url and nowtime)";
  } else if (state >= 300 && state < 400) {
    why = "not a month (give now, or a year and month such as 2008/12)";
  } else if (state == 400) {
    why = "a second /u: (only one URL may be given)";
  } else if (state == 500) {
    why = "no such charset (the charsets are sjis, utf8, unicode and bin)";
  } else {
    why = "not one of the options /k: /d: /u: /c: /o:";
  }
  return "command line rejected at " + Quoted(argumentText.substr(static_cast<std::size_t>(at))) +
         ": " + why;
}

std::string Failed(const Notes& notes) {
  const std::string parsed = Latest(notes.traceLines, "pcl:rc=");
  long long kind = 0;
  Number(parsed, " k=", &kind);
  const std::string job = Latest(notes.traceLines, "RunListJob:rc=");
  long long result = 0;
  Number(job, "rc=", &result);
  const std::string cause = Latest(notes.traceLines, "SendReqData:rc=");

  std::string what;
  if (notes.allocationFailed) {
    what = "out of memory";
  } else if (result == -101 || result == -102) {
    what = result == -101 ? "the connection could not be requested" : Connection(job);
  } else if (!cause.empty()) {
    what = Request(cause, notes);
  } else if (!notes.fileAction.empty()) {
    what = "cannot " + notes.fileAction + " " + notes.filePath + ": " +
           std::strerror(notes.fileError);
  } else if (notes.badUrl) {
    what = "cannot read the URL \"" + notes.badUrlText + "\"";
  } else if (kind == 4 && notes.requestUrl.empty()) {
    what = "no URL given (/u:)";
  } else if (result == -110) {
    long long month = 0;
    const std::size_t date = parsed.find(" dt=");
    if (date != std::string::npos) Number(parsed.substr(parsed.find('/', date)), "/", &month);
    what = "there is no booklist for month " + std::to_string(month);
  } else if (result != 0) {
    what = "result " + std::to_string(result);
  } else {
    what = "the output file was not written";
  }

  // A failed job never replaces its output file: whatever is there is the old one.
  std::string kept = "; no output file was written";
  const std::size_t open = parsed.find(" fn=[");
  if (open != std::string::npos && parsed.size() > open + 6) {
    const std::u16string path = Utf8ToUtf16(parsed.substr(open + 5, parsed.size() - open - 6));
    std::string host;
    struct stat info;
    if (ResolveWithoutCreating(path.c_str(), &host) && stat(host.c_str(), &info) == 0) {
      kept = "; the existing output file " + Utf16ToUtf8(path.c_str()) + " was kept";
    }
  }
  return JobName(kind) + " failed: " + what + kept;
}

}  // namespace

void NoteTraceLine(LPCWSTR line) {
  Notes& notes = TheNotes();
  std::lock_guard<std::mutex> lock(notes.mutex);
  if (notes.traceLines.size() == kKeptTraceLines) notes.traceLines.erase(notes.traceLines.begin());
  notes.traceLines.push_back(Utf16ToUtf8(line));
}

void NoteFileFailure(const char* action, const std::string& path, int error) {
  Notes& notes = TheNotes();
  std::lock_guard<std::mutex> lock(notes.mutex);
  notes.fileAction = action;
  notes.filePath = path;
  notes.fileError = error;
}

void NoteAllocationFailure() {
  Notes& notes = TheNotes();
  std::lock_guard<std::mutex> lock(notes.mutex);
  notes.allocationFailed = true;
}

void NoteRequest(const std::string& url) {
  Notes& notes = TheNotes();
  std::lock_guard<std::mutex> lock(notes.mutex);
  notes.requestUrl = url;
  notes.requestFailure.clear();
}

void NoteRequestFailure(const std::string& detail) {
  Notes& notes = TheNotes();
  std::lock_guard<std::mutex> lock(notes.mutex);
  notes.requestFailure = detail;
}

void NoteBadUrl(const std::string& url) {
  Notes& notes = TheNotes();
  std::lock_guard<std::mutex> lock(notes.mutex);
  notes.badUrl = true;
  notes.badUrlText = url;
}

std::string ExitReport(int exitCode, std::u16string_view argumentText) {
  if (exitCode != 2 && exitCode != 3) return std::string();
  Notes& notes = TheNotes();
  std::lock_guard<std::mutex> lock(notes.mutex);
  std::string line = "zemlik: ";
  if (exitCode == 2) {
    line += Rejected(notes, argumentText) + "; run zemlik without arguments to see the usage";
  } else {
    line += Failed(notes);
  }
  return line + "\n";
}

}  // namespace platform
