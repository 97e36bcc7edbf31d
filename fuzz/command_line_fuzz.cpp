// The entry's command-line handling on arbitrary arguments: the host's words rebuilt into
// the device's argument text (BuildArgumentText), the entry's two trace lines, and
// ParseCommandLine over the entry's defaults.
//
// Input: the first byte chooses the allocation that fails (low three bits, 0 for none) and
// how the rest is read: bit 7 clear, as shell words separated by zero bytes (UTF-8, invalid
// bytes allowed); bit 7 set, as the argument text itself in UTF-16LE units.
// Checks: the result is accepted or rejected; a failed copy always rejects; the record stays well
// formed (a known kind and charset, a terminated path, nothing but year and month in the
// date, a URL only where the text has "/u:"); the URL copy is freed.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "http/charset.h"
#include "http/trace_buffer.h"
#include "platform/entry.h"
#include "platform/memory.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

constexpr WCHAR kDefaultPath[] = TEXT("\\My Documents\\monthlist.csv");

// The entry's defaults, with a fixed year and month.
void SetDefaults(CommandOptions* options) {
  *options = CommandOptions{};
  options->kind = kListComicTa;
  options->targetDate.wYear = 2008;
  options->targetDate.wMonth = 12;
  options->url = nullptr;
  options->charset = kCharsetSjis;
  wcscpy(options->outputPath, kDefaultPath);
}

std::u16string ArgumentText(const uint8_t* data, size_t size, bool raw) {
  if (raw) {
    std::u16string text;
    for (size_t i = 0; i + 1 < size; i += 2) {
      const char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
      if (unit == 0) break;
      text.push_back(unit);
    }
    return text;
  }
  std::vector<std::string> words = {"zemlik"};
  std::string word;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      words.push_back(word);
      word.clear();
    } else {
      word.push_back(static_cast<char>(data[i]));
    }
  }
  words.push_back(word);
  std::vector<const char*> argv;
  for (const std::string& w : words) argv.push_back(w.c_str());
  return platform::BuildArgumentText(static_cast<int>(argv.size()), argv.data());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const unsigned long failAt = data[0] & 7;
  const bool raw = (data[0] & 0x80) != 0;
  std::u16string text = ArgumentText(data + 1, size - 1, raw);

  CommandOptions options;
  SetDefaults(&options);
  TraceLine(TEXT("cs=%d cl=[%s]"), 1, text.c_str());
  bool traceTerminated = false;
  for (WCHAR c : TraceBuffer) traceTerminated = traceTerminated || c == 0;
  if (!traceTerminated) Fail("trace line not terminated in its buffer");

  platform::ResetAllocationCountForTesting();
  platform::SetAllocationFailureForTesting(failAt);
  const int result = ParseCommandLine(text.data(), &options);
  platform::SetAllocationFailureForTesting(0);
  const unsigned long made = platform::AllocationCountForTesting();

  TraceLine(TEXT("pcl:rc=%d k=%d dt=%d/%d fn=[%s]"), result, options.kind,
            static_cast<int>(options.targetDate.wYear), static_cast<int>(options.targetDate.wMonth),
            static_cast<LPCWSTR>(options.outputPath));

  if (result != kParseAccepted && result != kParseRejected)
    Fail("result neither accepted nor rejected");
  if (failAt != 0 && made >= failAt && result == kParseAccepted) Fail("a failed copy was accepted");
  if (options.kind < kListComicTa || options.kind > kListNowTime) Fail("kind out of range");
  if (options.charset != kCharsetSjis && options.charset != kCharsetUtf8 &&
      options.charset != kCharsetUnicode && options.charset != kCharsetBin) {
    Fail("charset outside the table");
  }
  bool terminated = false;
  for (WCHAR c : options.outputPath) terminated = terminated || c == 0;
  if (!terminated) Fail("output path not terminated");
  const SYSTEMTIME& d = options.targetDate;
  if (d.wDayOfWeek != 0 || d.wDay != 0 || d.wHour != 0 || d.wMinute != 0 || d.wSecond != 0 ||
      d.wMilliseconds != 0) {
    Fail("date fields besides year and month were set");
  }
  if (options.url != nullptr) {
    if (text.find(u"/u:") == std::u16string::npos) Fail("a URL without /u:");
    if (wcslen(options.url) > text.size()) Fail("URL longer than the text");
    LocalFree(options.url);
  }
  return 0;
}
