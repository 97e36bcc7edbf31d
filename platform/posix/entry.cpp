// The process entry: generic POSIX code only.
#include "platform/entry.h"

#include <cstdio>
#include <string_view>

#include "platform/posix/exit_report.h"
#include "platform/posix/utf.h"
#include "platform/shell.h"

namespace platform {

std::u16string BuildArgumentText(int argc, const char* const* argv) {
  std::u16string text;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) text.push_back(u' ');
    std::u16string word = Utf8ToUtf16(argv[i] != nullptr ? argv[i] : "");
    std::u16string_view view(word);
    if (view.starts_with(u"/o:") && view.find(u' ') != view.npos && view.find(u'"') == view.npos) {
      text += u"/o:\"";
      text += view.substr(3);
      text.push_back(u'"');
    } else {
      text += word;
    }
  }
  return text;
}

int RunWinMain(int argc, char** argv, int (*winMain)(HINSTANCE, HINSTANCE, LPWSTR, int)) {
  std::u16string text = BuildArgumentText(argc, argv);
  const std::u16string argumentText = text;
  int result = winMain(nullptr, nullptr, text.data(), SW_SHOWNORMAL);
  std::fflush(stdout);
  const std::string report = ExitReport(result, argumentText);
  std::fwrite(report.data(), 1, report.size(), stderr);
  std::fflush(stderr);
  return result;
}

}  // namespace platform
