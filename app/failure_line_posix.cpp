// The host's one line on standard error for a run that ends with exit code 2 or 3.
#include "app/failure_line.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>

#include "app/command_line.h"
#include "app/entry.h"
#include "app/list_job.h"
#include "app/now_time.h"
#include "app/options.h"
#include "http/outcome.h"
#include "http/request.h"
#include "lists/output_file.h"
#include "platform/connmgr.h"
#include "platform/host_failure.h"
#include "platform/inet.h"
#include "platform/routes.h"
#include "platform/text.h"
#include "platform/trace.h"

namespace {

// A value shown in the line (an argument, a URL) is cut to this many characters, its end
// shown as "...".
constexpr SIZE_T kShownLength = 80;

// No text converts to nothing: the first call fails and the second, asked for no room, writes
// nothing.
std::string Utf8(LPCWSTR text, SIZE_T length) {
  const int units = static_cast<int>(length);
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, units, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<SIZE_T>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, units, bytes.data(), size, nullptr, nullptr);
  return bytes;
}

std::string Utf8(LPCWSTR text) { return Utf8(text, wcslen(text)); }

// A value shown in the line: its passwords masked, cut to a readable length.
std::string Shown(std::string_view utf8) {
  const std::string shown = platform::MaskPasswords(utf8);
  SIZE_T characters = 0;
  SIZE_T cut = 0;
  for (SIZE_T i = 0; i < shown.size(); ++i) {
    if ((shown[i] & 0xC0) == 0x80) continue;  // inside a character
    if (characters == kShownLength - 3) cut = i;
    ++characters;
  }
  return characters <= kShownLength ? shown : shown.substr(0, cut) + "...";
}

std::string Quoted(LPCWSTR text) { return "\"" + Shown(Utf8(text)) + "\""; }

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
  return text;
}

// "a, b and c".
template <class Table, class Name>
std::string Listed(const Table& table, Name name) {
  std::string words;
  const SIZE_T count = std::size(table);
  for (SIZE_T i = 0; i < count; ++i) {
    if (i > 0) words += i + 1 < count ? ", " : " and ";
    words += Utf8(name(table[i]));
  }
  return words;
}

std::string JobName(int kind) {
  for (const KindKeyword& k : kKindKeywords) {
    if (k.kind == kind) return Utf8(k.keyword);
  }
  return "the job";
}

// Why the parser stopped, by the ParseState it stopped in.
std::string Why(int state) {
  if (state == kKindValue) {
    return "no such job (the jobs are " +
           Listed(kKindKeywords, [](const KindKeyword& k) { return k.keyword; }) + ")";
  }
  if (state >= kDateValue && state <= kMonthDigits) {
    return "not a month (give now, or a year and month such as 2008/12)";
  }
  if (state == kUrlValue) return "a second /u: (only one URL may be given)";
  if (state == kCharsetValue) {
    return "no such charset (the charsets are " +
           Listed(kCharsetKeywords, [](const CharsetKeyword& c) { return c.keyword; }) + ")";
  }
  if (state == kQuotedPath || state == kUnquotedPath) {
    return "the output path is too long (" + std::to_string(Outcome.pathLength) +
           " characters; at most " + std::to_string(kOutputPathLength - 1) + ")";
  }
  return "not one of the options /k: /d: /u: /c: /o:";
}

std::string Rejected(const platform::HostFailure& host, LPCWSTR argumentText) {
  if (host.unreadableArgument != 0) {
    return "command line rejected: argument " + std::to_string(host.unreadableArgument) +
           " is not valid UTF-8";
  }
  if (host.outOfMemory) return "command line rejected: out of memory while reading it";
  if (Outcome.parseStop > wcslen(argumentText)) return "command line rejected";
  return "command line rejected at " + Quoted(argumentText + Outcome.parseStop) + ": " +
         Why(Outcome.parseState);
}

// The connection's last status in words, for a job that got no connection.
std::string Connection() {
  const DWORD last = Outcome.connectionStatus;
  if (last == 0) return "no data connection (the connection manager refused or reported nothing)";
  if (last == CONNMGR_STATUS_DISCONNECTED) return "no data connection (it was disconnected)";
  if ((last & CONNMGR_STATUS_DISCONNECTED) != 0) {
    return "no data connection (it failed with status " + Hex(last) + ")";
  }
  return "no data connection within " + std::to_string(kConnectWaitMs / 1000) +
         " s (the last status was " + Hex(last) + ")";
}

// WinINet's error codes in words.
constexpr struct {
  DWORD error;
  const char* words;
} kInternetErrors[] = {
    {ERROR_INTERNET_NAME_NOT_RESOLVED, "the host or proxy name cannot be resolved"},
    {ERROR_INTERNET_INVALID_PROXY_REQUEST, "the proxy setting cannot be used"},
    {ERROR_INTERNET_CANNOT_CONNECT, "the host or proxy cannot be reached"},
    {ERROR_INTERNET_TIMEOUT, "nothing arrived within the time limit"},
    {ERROR_INTERNET_CONNECTION_ABORTED, "the connection broke"},
    {ERROR_INTERNET_INVALID_CA, "the server's certificate is not trusted"},
    {ERROR_INTERNET_SECURITY_CHANNEL_ERROR, "the secure connection failed"},
    {ERROR_HTTP_REDIRECT_FAILED, "too many redirects"},
    {ERROR_HTTP_INVALID_SERVER_RESPONSE, "the server's answer cannot be read"},
};

std::string InternetError(DWORD error) {
  for (const auto& known : kInternetErrors) {
    if (known.error == error) return known.words;
  }
  return "error " + std::to_string(error);
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

// What the last request came to.
std::string Request(const platform::HostFailure& host) {
  const std::string url =
      host.requestUrl.empty() ? "the server" : Shown(Readable(host.requestUrl));
  const bool hasError = Outcome.lastError != 0;
  if (Outcome.requestResult == kRequestHttpError && Outcome.httpStatus == 401) {
    return "the server answered 401 for " + url +
           ": it asks for a login, and a user name and password in the URL are not used";
  }
  if (Outcome.requestResult == kRequestHttpError) {
    return "the server answered " + std::to_string(Outcome.httpStatus) + " for " + url;
  }
  if (host.tunnelRefusal != 0) {
    return "the proxy refused to connect to " + url + " (it answered " +
           std::to_string(host.tunnelRefusal) + ")";
  }
  if (Outcome.requestResult == kRequestBodyBroken) {
    std::string counts = std::to_string(Outcome.received);
    if (Outcome.announcedKnown) counts += " of " + std::to_string(Outcome.announced);
    return std::string("the body ") + (hasError ? "broke off" : "ended") + " after " + counts +
           " bytes from " + url + (hasError ? " (" + InternetError(Outcome.lastError) + ")" : "");
  }
  std::string words = "cannot fetch " + url;
  if (hasError) words += ": " + InternetError(Outcome.lastError);
  if (!host.transferError.empty()) words += " (" + host.transferError + ")";
  return words;
}

std::string Failed(const platform::HostFailure& host) {
  std::string what;
  if (host.outOfMemory) {
    what = "out of memory";
  } else if (Outcome.result == kJobAgentNotStarted) {
    what = "the connection could not be requested";
  } else if (Outcome.result == kJobNotConnected) {
    what = Connection();
  } else if (Outcome.stage == kStageRequest && Outcome.requestResult != kRequestOk) {
    what = Request(host);
  } else if (host.rootMissing) {
    what = host.rootPath.empty()
               ? std::string("no device root (neither ZEMLIK_ROOT nor HOME is set)")
               : "the device root " + host.rootPath +
                     " does not exist (it is ZEMLIK_ROOT, or HOME when that is unset)";
  } else if (Outcome.outputRefusal == kOutputIsFolder) {
    what = "the output path " + Utf8(Options.outputPath) + " is a folder";
  } else if (Outcome.outputRefusal == kOutputPathTooLong) {
    what = "the output path is too long (a folder of at most " +
           std::to_string(kLongestOutputFolder) + " characters, a file of at most " +
           std::to_string(MAX_PATH - 1) + ")";
  } else if (!host.fileAction.empty()) {
    what = "cannot " + host.fileAction + " " + host.filePath + ": " +
           std::strerror(host.fileError);
  } else if (host.urlRefused) {
    what = "cannot read the URL \"" + Shown(host.refusedUrl) + "\"";
  } else if (Outcome.job == kListUrl && Outcome.stage == kStageFetch) {
    what = "no URL given (/u:)";
  } else if (Outcome.result == kJobBooklistBadMonth) {
    what = "there is no booklist for month " + std::to_string(Options.targetDate.wMonth);
  } else {
    what = "the output file was not written";
  }
  const std::string kept =
      Outcome.outputKept
          ? "; the existing output file " + Utf8(Options.outputPath) + " was kept"
          : "; no output file was written";
  return JobName(Outcome.job) + " failed: " + what + kept;
}

}  // namespace

void ReportFailure(int exitCode, LPCWSTR argumentText) {
  if (exitCode != kExitRejected && exitCode != kExitJobFailed) return;
  const platform::HostFailure host = platform::LastHostFailure();
  std::string line = "zemlik: ";
  if (host.unreadableClock) {
    line += "nothing was run: ZEMLIK_CLOCK is \"" + Shown(host.clockValue) +
            "\", which is no time (give YYYY-MM-DD hh:mm:ss)";
  } else if (exitCode == kExitRejected) {
    line += Rejected(host, argumentText) + "; run zemlik without arguments to see the usage";
  } else {
    line += Failed(host);
  }
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stderr);
}
