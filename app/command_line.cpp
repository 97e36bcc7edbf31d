// The command-line parser: a state machine over the argument text, one state group per step.
#include "app/command_line.h"

#include "http/outcome.h"
#include "lists/literal.h"
#include "platform/memory.h"
#include "platform/scoped.h"
#include "platform/text.h"

namespace {

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
  return options->url != nullptr ? kBetweenOptions : kRejected;
}

// A path the field cannot hold whole is refused: cut, it would name another file.
int StorePath(LPCWSTR text, SIZE_T start, SIZE_T end, CommandOptions* options) {
  const SIZE_T count = end - start;
  if (count > kOutputPathLength - 1) {
    Outcome.pathLength = count;
    return kRejected;
  }
  for (SIZE_T i = 0; i < count; ++i) options->outputPath[i] = text[start + i];
  options->outputPath[count] = 0;
  return kBetweenOptions;
}

// One pass over the text, one character at a time. Each group of states has its step;
// the value being read runs from valueStart_ to the current position.
class CommandLinePass {
 public:
  CommandLinePass(LPCWSTR text, SIZE_T length, CommandOptions* options)
      : text_(text), length_(length), options_(options) {}

  // Returns 0 when the text was accepted; a rejection notes where it stopped.
  int Run() {
    while (pos_ < length_ && state_ >= 0) {
      stoppedIn_ = state_;
      stoppedAt_ = pos_;
      switch (state_) {
        case kBetweenOptions:
          StepBetweenOptions();
          break;
        case kKindValue:
          StepKind();
          break;
        case kCharsetValue:
          StepCharset();
          break;
        case kDateValue:
        case kYearDigits:
        case kAfterYear:
        case kMonthDigits:
          StepDate();
          break;
        case kUrlValue:
        case kPathStart:
        case kQuotedPath:
        case kUnquotedPath:
          StepTextValue();
          break;
        default:
          state_ = kRejected;
          break;
      }
    }
    FinishAtEnd();
    if (state_ >= 0) return kParseAccepted;
    Outcome.parseStop = stoppedAt_;
    Outcome.parseState = stoppedIn_;
    return kParseRejected;
  }

 private:
  bool At(LPCWSTR literal) const { return LiteralAt(text_, pos_, literal); }

  // Consumes an option prefix and moves to the state that reads its value.
  void Enter(int next) {
    pos_ += 3;
    valueStart_ = pos_;
    state_ = next;
  }

  // Consumes a keyword value ("now" included) and returns to between options.
  void ConsumeKeyword(LPCWSTR literal) {
    pos_ += wcslen(literal);
    state_ = kBetweenOptions;
  }

  void StepBetweenOptions() {
    if (At(TEXT(" "))) {
      ++pos_;
    } else if (At(TEXT("/k:"))) {
      Enter(kKindValue);
    } else if (At(TEXT("/d:"))) {
      Enter(kDateValue);
    } else if (At(TEXT("/u:"))) {
      Enter(kUrlValue);
    } else if (At(TEXT("/c:"))) {
      Enter(kCharsetValue);
    } else if (At(TEXT("/o:"))) {
      Enter(kPathStart);
    } else {
      state_ = kRejected;
    }
  }

  void StepKind() {
    state_ = kRejected;
    for (const KindKeyword& k : kKindKeywords) {
      if (At(k.keyword)) {
        options_->kind = k.kind;
        ConsumeKeyword(k.keyword);
        return;
      }
    }
  }

  void StepCharset() {
    state_ = kRejected;
    for (const CharsetKeyword& c : kCharsetKeywords) {
      if (At(c.keyword)) {
        options_->charset = c.charset;
        ConsumeKeyword(c.keyword);
        return;
      }
    }
  }

  void StepDate() {
    switch (state_) {
      case kDateValue:
        if (At(TEXT("now"))) {
          ConsumeKeyword(TEXT("now"));
        } else if (IsDigit(text_[pos_])) {
          valueStart_ = pos_++;
          state_ = kYearDigits;
        } else {
          state_ = kRejected;
        }
        break;
      case kYearDigits:
        if (IsDigit(text_[pos_])) {
          ++pos_;
        } else if (At(TEXT("/")) || At(TEXT(".")) || At(TEXT("-"))) {
          state_ = StoreYear(text_, valueStart_, pos_, options_);
          ++pos_;
        } else {
          state_ = kRejected;
        }
        break;
      case kAfterYear:
        if (IsDigit(text_[pos_])) {
          valueStart_ = pos_++;
          state_ = kMonthDigits;
        } else {
          state_ = kRejected;
        }
        break;
      default:  // kMonthDigits
        if (IsDigit(text_[pos_])) {
          ++pos_;
        } else if (At(TEXT(" "))) {
          state_ = StoreMonth(text_, valueStart_, pos_, options_);
          ++pos_;
        } else {
          state_ = kRejected;
        }
        break;
    }
  }

  // The URL and the path: any characters up to a blank, or up to the closing quote of a
  // path that opens with one.
  void StepTextValue() {
    switch (state_) {
      case kUrlValue:
        // A second URL is refused where its option begins.
        if (At(TEXT(" "))) state_ = StoreUrl(text_, valueStart_, pos_, options_);
        if (state_ < 0) stoppedAt_ = valueStart_ - 3;
        break;
      case kPathStart: {
        const bool quoted = At(TEXT("\""));
        valueStart_ = quoted ? pos_ + 1 : pos_;
        state_ = quoted ? kQuotedPath : kUnquotedPath;
        break;
      }
      case kQuotedPath:
        if (At(TEXT("\""))) state_ = StorePath(text_, valueStart_, pos_, options_);
        if (state_ < 0) stoppedAt_ = valueStart_;  // a path too long, where it begins
        break;
      default:  // kUnquotedPath
        if (At(TEXT(" "))) state_ = StorePath(text_, valueStart_, pos_, options_);
        if (state_ < 0) stoppedAt_ = valueStart_;
        break;
    }
    ++pos_;
  }

  // End of text: a URL, an unquoted path or a month runs to the end and is
  // completed as at a blank; any other unfinished value is dropped.
  void FinishAtEnd() {
    if (state_ >= 0) stoppedIn_ = state_;
    switch (state_) {
      case kUrlValue:
        state_ = StoreUrl(text_, valueStart_, length_, options_);
        stoppedAt_ = valueStart_ - 3;
        break;
      case kUnquotedPath:
        state_ = StorePath(text_, valueStart_, length_, options_);
        stoppedAt_ = valueStart_;
        break;
      case kMonthDigits:
        state_ = StoreMonth(text_, valueStart_, length_, options_);
        break;
      default:
        break;
    }
  }

  LPCWSTR text_;
  SIZE_T length_;
  CommandOptions* options_;
  int state_ = kBetweenOptions;
  SIZE_T pos_ = 0;
  SIZE_T valueStart_ = 0;
  // Where and in which state the pass stopped, for the outcome of a rejection.
  int stoppedIn_ = kBetweenOptions;
  SIZE_T stoppedAt_ = 0;
};

}  // namespace

int ParseCommandLine(LPCWSTR text, CommandOptions* options) {
  const SIZE_T length = wcslen(text);
  if (length == 0) return 0;
  return CommandLinePass(text, length, options).Run();
}
