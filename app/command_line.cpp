#include "app/command_line.h"

#include "http/charset.h"
#include "http/trace_buffer.h"
#include "platform/memory.h"
#include "platform/scoped.h"
#include "platform/text.h"

namespace {

// ParseState values: one per place in the grammar, negative once failed.
constexpr int kBetweenOptions = 100;
constexpr int kKindValue = 200;
constexpr int kDateValue = 300;
constexpr int kYearDigits = 310;
constexpr int kAfterYear = 320;
constexpr int kMonthDigits = 330;
constexpr int kUrlValue = 400;
constexpr int kCharsetValue = 500;
constexpr int kPathStart = 900;
constexpr int kQuotedPath = 910;
constexpr int kUnquotedPath = 950;
constexpr int kRejected = -101;
constexpr int kUrlCopyFailed = -400;

constexpr int kRejectedResult = -101;

// Keywords in the order they are tested; each is a prefix test.
struct KindKeyword {
  LPCWSTR keyword;
  int kind;
};
constexpr KindKeyword kKindKeywords[] = {
    {TEXT("comic-ta"), kListComicTa}, {TEXT("bunko-ta"), kListBunkoTa},
    {TEXT("comic-wf"), kListComicWf}, {TEXT("url"), kListUrl},
    {TEXT("nowtime"), kListNowTime},
};

struct CharsetKeyword {
  LPCWSTR keyword;
  const WCHAR* charset;
};
constexpr CharsetKeyword kCharsetKeywords[] = {
    {TEXT("sjis"), kCharsetSjis},
    {TEXT("utf8"), kCharsetUtf8},
    {TEXT("unicode"), kCharsetUnicode},
    {TEXT("bin"), kCharsetBin},
};

// The one literal test: does the text at `pos` begin with `literal`? Exact and
// case-sensitive; never looks past `length`, so a shorter remainder never matches.
bool BeginsWith(LPCWSTR text, SIZE_T length, SIZE_T pos, LPCWSTR literal) {
  const SIZE_T count = wcslen(literal);
  return count <= length - pos && wcsncmp(text + pos, literal, count) == 0;
}

bool IsDigit(WCHAR c) { return c >= TEXT('0') && c <= TEXT('9'); }

// A terminated LocalAlloc'd copy of text[start, end); null when memory is short.
WCHAR* CopyValue(LPCWSTR text, SIZE_T start, SIZE_T end) {
  const SIZE_T count = end - start;
  platform::LocalPtr<WCHAR[]> copy = platform::LocalAllocArray<WCHAR>(count + 1);
  if (!copy) return nullptr;
  for (SIZE_T i = 0; i < count; ++i) copy[i] = text[start + i];
  copy[count] = 0;
  return copy.release();
}

// The decimal value of the digits text[start, end), read through a temporary
// copy. False when the copy cannot be allocated.
bool ConvertNumber(LPCWSTR text, SIZE_T start, SIZE_T end, int* value) {
  platform::LocalPtr<WCHAR[]> digits(CopyValue(text, start, end));
  if (!digits) return false;
  *value = _wtoi(digits.get());
  return true;
}

int StoreYear(LPCWSTR text, SIZE_T start, SIZE_T end, CommandOptions* options) {
  int year = 0;
  if (!ConvertNumber(text, start, end, &year)) return kRejected;
  if (year < 100) year += 2000;
  options->targetDate.wYear = static_cast<WORD>(year);
  return kAfterYear;
}

int StoreMonth(LPCWSTR text, SIZE_T start, SIZE_T end, CommandOptions* options) {
  int month = 0;
  if (!ConvertNumber(text, start, end, &month)) return kRejected;
  options->targetDate.wMonth = static_cast<WORD>(month);
  return kBetweenOptions;
}

int StoreUrl(LPCWSTR text, SIZE_T start, SIZE_T end, CommandOptions* options) {
  if (options->url != nullptr) return kRejected;
  options->url = CopyValue(text, start, end);
  return options->url != nullptr ? kBetweenOptions : kUrlCopyFailed;
}

// Cut to 259 characters so the terminator always fits.
int StorePath(LPCWSTR text, SIZE_T start, SIZE_T end, CommandOptions* options) {
  SIZE_T count = end - start;
  if (count > kOutputPathLength - 1) count = kOutputPathLength - 1;
  for (SIZE_T i = 0; i < count; ++i) options->outputPath[i] = text[start + i];
  options->outputPath[count] = 0;
  return kBetweenOptions;
}

}  // namespace

int ParseCommandLine(LPCWSTR text, CommandOptions* options) {
  const SIZE_T length = wcslen(text);
  if (length == 0) return 0;

  int state = kBetweenOptions;
  SIZE_T pos = 0;
  SIZE_T valueStart = 0;
  // Where and in which state the pass stopped, for the trace line of a rejection.
  int stoppedIn = kBetweenOptions;
  SIZE_T stoppedAt = 0;
  auto at = [&](LPCWSTR literal) { return BeginsWith(text, length, pos, literal); };
  // Consumes an option prefix and moves to the state that reads its value.
  auto enter = [&](int next) {
    pos += 3;
    valueStart = pos;
    state = next;
  };
  // Consumes a keyword value ("now" included) and returns to between options.
  auto consumeKeyword = [&](LPCWSTR literal) {
    pos += wcslen(literal);
    state = kBetweenOptions;
  };

  while (pos < length && state >= 0) {
    stoppedIn = state;
    stoppedAt = pos;
    switch (state) {
      case kBetweenOptions:
        if (at(TEXT(" "))) {
          ++pos;
        } else if (at(TEXT("/k:"))) {
          enter(kKindValue);
        } else if (at(TEXT("/d:"))) {
          enter(kDateValue);
        } else if (at(TEXT("/u:"))) {
          enter(kUrlValue);
        } else if (at(TEXT("/c:"))) {
          enter(kCharsetValue);
        } else if (at(TEXT("/o:"))) {
          enter(kPathStart);
        } else {
          state = kRejected;
        }
        break;

      case kKindValue:
        state = kRejected;
        for (const KindKeyword& k : kKindKeywords) {
          if (at(k.keyword)) {
            options->kind = k.kind;
            consumeKeyword(k.keyword);
            break;
          }
        }
        break;

      case kDateValue:
        if (at(TEXT("now"))) {
          consumeKeyword(TEXT("now"));
        } else if (IsDigit(text[pos])) {
          valueStart = pos++;
          state = kYearDigits;
        } else {
          state = kRejected;
        }
        break;

      case kYearDigits:
        if (IsDigit(text[pos])) {
          ++pos;
        } else if (at(TEXT("/")) || at(TEXT(".")) || at(TEXT("-"))) {
          state = StoreYear(text, valueStart, pos, options);
          ++pos;
        } else {
          state = kRejected;
        }
        break;

      case kAfterYear:
        if (IsDigit(text[pos])) {
          valueStart = pos++;
          state = kMonthDigits;
        } else {
          state = kRejected;
        }
        break;

      case kMonthDigits:
        if (IsDigit(text[pos])) {
          ++pos;
        } else if (at(TEXT(" "))) {
          state = StoreMonth(text, valueStart, pos, options);
          ++pos;
        } else {
          state = kRejected;
        }
        break;

      case kUrlValue:
        // A second URL is refused where its option begins.
        if (at(TEXT(" "))) state = StoreUrl(text, valueStart, pos, options);
        if (state < 0) stoppedAt = valueStart - 3;
        ++pos;
        break;

      case kCharsetValue:
        state = kRejected;
        for (const CharsetKeyword& c : kCharsetKeywords) {
          if (at(c.keyword)) {
            options->charset = c.charset;
            consumeKeyword(c.keyword);
            break;
          }
        }
        break;

      case kPathStart:
        if (at(TEXT("\""))) {
          valueStart = pos + 1;
          state = kQuotedPath;
        } else {
          valueStart = pos;
          state = kUnquotedPath;
        }
        ++pos;
        break;

      case kQuotedPath:
        if (at(TEXT("\""))) state = StorePath(text, valueStart, pos, options);
        ++pos;
        break;

      case kUnquotedPath:
        if (at(TEXT(" "))) state = StorePath(text, valueStart, pos, options);
        ++pos;
        break;

      default:
        state = kRejected;
        break;
    }
  }

  // End of text: a URL, an unquoted path or a month runs to the end and is
  // completed as at a blank; any other unfinished value is dropped.
  if (state >= 0) stoppedIn = state;
  switch (state) {
    case kUrlValue:
      state = StoreUrl(text, valueStart, length, options);
      stoppedAt = valueStart - 3;
      break;
    case kUnquotedPath:
      state = StorePath(text, valueStart, length, options);
      break;
    case kMonthDigits:
      state = StoreMonth(text, valueStart, length, options);
      break;
    default:
      break;
  }
  if (state >= 0) return 0;
  TraceLine(TEXT("pcl:stop=%d,st=%d"), static_cast<int>(stoppedAt), stoppedIn);
  return kRejectedResult;
}
