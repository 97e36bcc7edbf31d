// The argument text rebuilt from the process's words: portable code shared by the POSIX and
// Win32 layers.
#include <string_view>

#include "platform/entry.h"

namespace platform {

std::basic_string<WCHAR> BuildArgumentText(int argc, const WCHAR* const* argv) {
  std::basic_string<WCHAR> text;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) text.push_back(TEXT(' '));
    std::basic_string_view<WCHAR> word(argv[i] != nullptr ? argv[i] : TEXT(""));
    if (word.starts_with(TEXT("/o:")) && word.find(TEXT(' ')) != word.npos &&
        word.find(TEXT('"')) == word.npos) {
      text += TEXT("/o:\"");
      text += word.substr(3);
      text.push_back(TEXT('"'));
    } else {
      text += word;
    }
  }
  return text;
}

}  // namespace platform
