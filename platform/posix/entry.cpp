// The process entry: generic POSIX code only.
#include "platform/entry.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/common/clock_seam.h"
#include "platform/posix/host_failure_notes.h"
#include "platform/posix/temporary_files.h"
#include "platform/posix/utf.h"
#include "platform/shell.h"

namespace platform {

std::u16string BuildArgumentText(int argc, const char* const* argv) {
  // Index 0, the program's name, is never read.
  std::vector<std::u16string> words(argc > 0 ? argc : 0);
  std::vector<const char16_t*> wide;
  for (int i = 0; i < argc; ++i) {
    if (i > 0) words[i] = Utf8ToUtf16(argv[i] != nullptr ? argv[i] : "");
    wide.push_back(words[i].c_str());
  }
  return BuildArgumentText(argc, wide.data());
}

namespace {

// The number of the first word (1 = the first after the program's name) that is not
// valid UTF-8, or 0.
int UnreadableWord(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const auto* word = reinterpret_cast<const unsigned char*>(argv[i] != nullptr ? argv[i] : "");
    for (std::size_t left = std::strlen(argv[i] != nullptr ? argv[i] : ""); left > 0;) {
      char32_t c;
      const std::size_t length = DecodeUtf8(word, left, &c);
      if (length == 0) return i;
      word += length;
      left -= length;
    }
  }
  return 0;
}

}  // namespace

int RunWinMain(int argc, char** argv, const Program& program) {
  HandleEndingSignals();
  std::u16string text = BuildArgumentText(argc, argv);
  const std::u16string argumentText = text;
  int result = program.rejectedExitCode;
  if (const int word = UnreadableWord(argc, argv); word != 0) {
    NoteUnreadableArgument(word);
  } else if (const char* clock = UnreadableFixedClock(); clock != nullptr) {
    NoteUnreadableClock(clock);
    result = program.failedExitCode;
  } else {
    result = program.winMain(nullptr, nullptr, text.data(), SW_SHOWNORMAL);
  }
  std::fflush(stdout);
  program.report(result, argumentText.c_str());
  std::fflush(stderr);
  return result;
}

}  // namespace platform
