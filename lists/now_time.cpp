#include "lists/now_time.h"

#include "lists/output_file.h"
#include "platform/scoped.h"
#include "platform/text.h"
#include "platform/time.h"

namespace {
constexpr SIZE_T kLineLength = 1000;
constexpr int kFileNotCreated = 101;
constexpr int kLineNotWritten = 102;
}  // namespace

int WriteNowTime(const CommandOptions* options) {
  platform::ScopedHandle file(CreateOutputFile(options->outputPath));
  if (!file.valid()) return kFileNotCreated;

  WCHAR line[kLineLength];
  StringCchPrintfW(line, kLineLength, TEXT("date,time"));
  const int headerResult = WriteLine(file.get(), line);

  SYSTEMTIME now;
  GetLocalTime(&now);
  StringCchPrintfW(line, kLineLength, TEXT("%04d/%02d/%02d,%02d:%02d:%02d "), now.wYear, now.wMonth,
                   now.wDay, now.wHour, now.wMinute, now.wSecond);
  const int timeResult = WriteLine(file.get(), line);

  return headerResult == 0 && timeResult == 0 ? 0 : kLineNotWritten;
}
