// Arbitrary bytes as a downloaded page, through what the jobs do with one: decoded as
// code page 932 (AnsiToWide) and as UTF-8 (Utf8ToWide), each text handed to both release-
// list parsers and stored as one text line (WriteLine), all into a temporary file.
//
// Checks: decoding succeeds with at most one unit per byte up to the first zero byte;
// each parser ends with 0 or -101 and leaves its header, then lines of at most 999
// characters, each ended by CR LF; the stored line is one CR LF-ended line without a zero
// byte.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "http/conversions.h"
#include "lists/output_file.h"
#include "lists/release_list.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/scoped.h"
#include "platform/text.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

// One file per process in a fresh folder, written over by each run, removed at exit; in
// memory where the host has a tmpfs at /dev/shm, as every run writes the file five times.
std::string g_folder;

const std::string& OutputFile() {
  static const std::string path = [] {
    std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    pattern += "/zemlik-page-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) Fail("mkdtemp");
    g_folder = pattern;
    std::atexit([] {
      unlink((g_folder + "/page.csv").c_str());
      rmdir(g_folder.c_str());
    });
    return g_folder + "/page.csv";
  }();
  return path;
}

const std::u16string& OutputPath() {
  static const std::u16string path(OutputFile().begin(), OutputFile().end());
  return path;
}

std::string ReadOutput() {
  std::string bytes;
  if (FILE* f = std::fopen(OutputFile().c_str(), "rb")) {
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    std::fclose(f);
  }
  return bytes;
}

// Characters of a code page 932 line: a lead byte and its trail count as one.
size_t Cp932Length(const std::string& line, size_t begin, size_t end) {
  size_t count = 0;
  for (size_t i = begin; i < end; ++count) {
    const auto b = static_cast<unsigned char>(line[i]);
    i += (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC) ? 2 : 1;
  }
  return count;
}

void CheckList(int (*parser)(LPCWSTR, LPCWSTR, WORD), const char* header, LPCWSTR text) {
  const int result = parser(text, OutputPath().c_str(), 2008);
  if (result != 0 && result != -101) Fail("parser result neither 0 nor -101");
  const std::string file = ReadOutput();
  const std::string first = std::string(header) + "\r\n";
  if (file.compare(0, first.size(), first) != 0) Fail("file does not begin with the header");
  for (size_t start = 0; start < file.size();) {
    const size_t end = file.find("\r\n", start);
    if (end == std::string::npos) Fail("last line not ended by CR LF");
    if (Cp932Length(file, start, end) > 999) Fail("line over 999 characters");
    start = end + 2;
  }
}

void CheckStoredLine(LPCWSTR text) {
  {
    platform::ScopedHandle file(CreateOutputFile(OutputPath().c_str()));
    if (!file.valid()) Fail("output file not created");
    if (WriteLine(file.get(), text) != 0) Fail("WriteLine failed");
  }
  const std::string stored = ReadOutput();
  if (stored.size() < 2 || stored.compare(stored.size() - 2, 2, "\r\n") != 0) {
    Fail("stored line not ended by CR LF");
  }
  if (stored.find('\0') != std::string::npos) Fail("zero byte in a stored line");
  if (stored.size() - 2 > 2 * wcslen(text)) Fail("stored line beyond two bytes a character");
}

void Pipeline(int (*decode)(LPCSTR, LPWSTR*), const std::string& body) {
  LPWSTR text = nullptr;
  if (decode(body.c_str(), &text) != 0) Fail("decoding failed");
  platform::LocalPtr<WCHAR> owned(text);
  if (wcslen(text) > std::strlen(body.c_str())) Fail("more units than bytes");
  CheckList(ParseComicList, "date,company,title,author,price,memo", text);
  CheckList(ParseBunkoList, "date,company,category,title,author,price", text);
  CheckStoredLine(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // As SendReqData hands a body over: its bytes, then one zero byte.
  const std::string body(reinterpret_cast<const char*>(data), size);
  Pipeline(AnsiToWide, body);
  Pipeline(Utf8ToWide, body);
  return 0;
}
