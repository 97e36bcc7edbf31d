// Shared body of the release-list fuzz targets. Input: one byte choosing which
// allocation of the call fails (0 to 15, 0 for none), then the page text as
// UTF-16LE units. The parser must not crash, must end with 0, -101 or 102, and
// the file must begin with the header and hold no line over 999 characters.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "lists/release_list.h"
#include "platform/memory.h"

namespace fuzz {

// One output file per process in a fresh folder, written over by each run and
// removed with its folder at exit.
inline char g_folder[] = "/tmp/zemlik-fuzz-XXXXXX";

inline const std::u16string& OutputPath() {
  static const std::u16string path = [] {
    if (mkdtemp(g_folder) == nullptr) abort();
    std::atexit([] {
      unlink((std::string(g_folder) + "/list.csv").c_str());
      rmdir(g_folder);
    });
    const std::string file = std::string(g_folder) + "/list.csv";
    return std::u16string(file.begin(), file.end());
  }();
  return path;
}

inline std::string ReadOutput() {
  const std::u16string& wide = OutputPath();
  const std::string path(wide.begin(), wide.end());
  std::string bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    std::fclose(f);
  }
  return bytes;
}

// Characters of a code page 932 line: a lead byte and its trail count as one.
inline std::size_t Cp932Length(const std::string& line) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < line.size(); ++count) {
    const auto b = static_cast<unsigned char>(line[i]);
    const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    i += lead ? 2 : 1;
  }
  return count;
}

inline int RunReleaseList(int (*parser)(LPCWSTR, LPCWSTR, WORD), const char* header,
                          const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const unsigned long failAt = data[0] % 16;
  // The top bit asks for the largest year: a five-digit prefix leaves the date less room.
  const WORD year = (data[0] & 0x80) != 0 ? 65535 : 2008;
  std::u16string text;
  for (size_t i = 1; i + 1 < size; i += 2) {
    text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }

  platform::ResetAllocationCountForTesting();
  platform::SetAllocationFailureForTesting(failAt);
  const int result = parser(text.c_str(), OutputPath().c_str(), year);
  platform::SetAllocationFailureForTesting(0);
  // Only a failed allocation in WriteLine can make a write to /tmp fail.
  if ((result != 0 && result != -101 && result != 102) || (failAt == 0 && result == 102)) {
    std::fprintf(stderr, "unexpected result %d\n", result);
    abort();
  }

  const std::string file = ReadOutput();
  const std::string first = std::string(header) + "\r\n";
  // A failed allocation may have cost the header its line (102 or -101).
  if (result == 0 && file.compare(0, first.size(), first) != 0) {
    std::fprintf(stderr, "file does not begin with the header\n");
    abort();
  }
  for (std::size_t start = 0; start < file.size();) {
    std::size_t end = file.find("\r\n", start);
    if (end == std::string::npos) {
      std::fprintf(stderr, "last line not ended by CR LF\n");
      abort();
    }
    const std::size_t length = Cp932Length(file.substr(start, end - start));
    if (length > 999) {
      std::fprintf(stderr, "line of %zu characters\n", length);
      abort();
    }
    start = end + 2;
  }
  return 0;
}

}  // namespace fuzz
