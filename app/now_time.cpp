// The nowtime job: the local clock as a two-line CSV file.
#include "app/now_time.h"

#include "lists/output_file.h"
#include "platform/routes.h"
#include "platform/text.h"
#include "platform/time.h"

namespace {
constexpr SIZE_T kLineLength = 1000;
}  // namespace

int WriteNowTime(const CommandOptions* options) {
  PendingOutputFile file(options->outputPath);
  if (!file.valid()) return kNowTimeFileNotCreated;

  WCHAR line[kLineLength];
  StringCchPrintfW(line, kLineLength, TEXT("date,time"));
  const int headerResult = WriteLine(file.handle(), line);

  SYSTEMTIME now;
  GetLocalTime(&now);
  StringCchPrintfW(line, kLineLength, TEXT("%04d/%02d/%02d,%02d:%02d:%02d "), now.wYear, now.wMonth,
                   now.wDay, now.wHour, now.wMinute, now.wSecond);
  const int timeResult = WriteLine(file.handle(), line);

  if (headerResult != kLineWritten || timeResult != kLineWritten) return kNowTimeLineNotWritten;
  return file.Commit() ? kNowTimeWritten : kNowTimeFileNotCreated;
}
