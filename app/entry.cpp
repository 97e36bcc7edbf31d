// The program's entry: usage, defaults, the parse, the job, and the exit code.
#include "app/entry.h"

#include "app/command_line.h"
#include "app/list_job.h"
#include "app/now_time.h"
#include "app/options.h"
#include "http/charset.h"
#include "http/outcome.h"
#include "http/trace_buffer.h"
#include "lists/output_file.h"
#include "platform/memory.h"
#include "platform/routes.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "platform/time.h"

CommandOptions Options;

namespace {

constexpr WCHAR kProgramName[] = TEXT("Zemlik");
constexpr WCHAR kProgramVersion[] = TEXT(ZEMLIK_VERSION);  // the project version, from CMake
constexpr WCHAR kNoticeLine1[] = TEXT("月ごとの新刊情報を集めてCSVファイルに保存します");
constexpr WCHAR kNoticeLine2[] = TEXT("本ソフトウェアは無保証です。自己責任でお使いください");
constexpr WCHAR kUsageCaption[] = TEXT("Zemlik について");
// Twelve lines joined by a single line feed: name, version, two notices, options, example.
// clang-format off
constexpr WCHAR kUsageFormat[] =
    TEXT("%s\n")
    TEXT("Ver.%s\n")
    TEXT("%s\n")
    TEXT("%s\n")
    TEXT("引数:\n")
    TEXT("  /k: 種別(comic-ta,bunko-ta,comic-wf,url)\n")
    TEXT("  /d: 対象年月(yyyy/mm)\n")
    TEXT("  /u: URL\n")
    TEXT("  /c: 文字コード(sjis,utf8,bin)\n")
    TEXT("  /o: 出力ファイル\n")
    TEXT("例:\n")
    TEXT("  Zemlik /k:comic-ta /d:now /o:\"\\My Documents\\monthlist.csv\"");
// clang-format on
constexpr SIZE_T kUsageLength = 2000;
constexpr WCHAR kDefaultOutputPath[] = TEXT("\\My Documents\\monthlist.csv");

void ShowUsage() {
  WCHAR usage[kUsageLength];
  StringCchPrintfW(usage, kUsageLength, kUsageFormat, kProgramName, kProgramVersion, kNoticeLine1,
                   kNoticeLine2);
  MessageBoxW(nullptr, usage, kUsageCaption, MB_OK | MB_ICONINFORMATION);
}

// comic-ta for this year and month into the default path, charset SJIS, no URL.
void SetDefaults(CommandOptions* options) {
  options->kind = kListComicTa;
  options->targetDate = SYSTEMTIME{};
  SYSTEMTIME now;
  GetLocalTime(&now);
  options->targetDate.wYear = now.wYear;
  options->targetDate.wMonth = now.wMonth;
  options->url = nullptr;
  options->charset = kCharsetSjis;
  for (WCHAR& c : options->outputPath) c = 0;
  wcscpy(options->outputPath, kDefaultOutputPath);
}

}  // namespace

int WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPWSTR commandLine, int showCommand) {
  TraceLine(TEXT("cs=%d cl=[%s]"), showCommand, commandLine);
  if (wcslen(commandLine) == 0) {
    ShowUsage();
    return kExitUsageShown;
  }

  SetDefaults(&Options);
  const int parsed = ParseCommandLine(commandLine, &Options);
  TraceLine(TEXT("pcl:rc=%d k=%d dt=%d/%d fn=[%s]"), parsed, Options.kind,
            static_cast<int>(Options.targetDate.wYear), static_cast<int>(Options.targetDate.wMonth),
            static_cast<LPCWSTR>(Options.outputPath));
  // The URL copy is left to process exit on this path; nothing else ran.
  if (parsed != kParseAccepted) return kExitRejected;
  Outcome.stage = kStageJob;
  Outcome.job = Options.kind;

  const int result = Options.kind == kListNowTime ? WriteNowTime(&Options) : RunListJob(&Options);
  LocalFree(Options.url);
  Options.url = nullptr;
  Outcome.result = result;
  if (result == 0) return kExitJobDone;
  // A job that fails never replaces its output file: one that is there is the old one.
  Outcome.outputKept = EndFailedOutput(Options.outputPath);
  return kExitJobFailed;
}
