// Decoding throughput of Utf8ToWide and AnsiToWide (MB/s of source bytes), next
// to glibc iconv converting the same bytes into a buffer of the same size,
// allocated per run as the routines do.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "bench/synthetic_page.h"
#include "http/conversions.h"
#include "platform/memory.h"

namespace {

// Converts with iconv into a fresh buffer of 2n + 1 UTF-16 units; returns the
// number of bytes written, or throws on a conversion error.
std::size_t IconvToUtf16(iconv_t cd, const std::string& source) {
  const std::size_t capacity = (2 * source.size() + 1) * sizeof(char16_t);
  char* buffer = static_cast<char*>(std::malloc(capacity));
  char* in = const_cast<char*>(source.data());
  std::size_t inLeft = source.size();
  char* out = buffer;
  std::size_t outLeft = capacity;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1)) {
    std::free(buffer);
    throw std::runtime_error("iconv failed");
  }
  const std::size_t written = capacity - outLeft;
  std::free(buffer);
  return written;
}

std::string Encode(const char* charset, const std::u16string& text) {
  iconv_t cd = iconv_open(charset, "UTF-16LE");
  std::string out(text.size() * 4, '\0');
  char* in = reinterpret_cast<char*>(const_cast<char16_t*>(text.data()));
  std::size_t inLeft = text.size() * sizeof(char16_t);
  char* dst = out.data();
  std::size_t outLeft = out.size();
  if (iconv(cd, &in, &inLeft, &dst, &outLeft) == static_cast<std::size_t>(-1)) {
    throw std::runtime_error("cannot encode the page");
  }
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

constexpr std::size_t kPageUnits = 4 << 20;

const std::string& Utf8Page() {
  static const std::string page = Encode("UTF-8", bench::SyntheticComicPage(kPageUnits));
  return page;
}

const std::string& Cp932Page() {
  static const std::string page = Encode("CP932", bench::SyntheticComicPage(kPageUnits));
  return page;
}

template <class Fn>
void Decode(benchmark::State& state, const std::string& source, Fn decode) {
  for (auto _ : state) {
    LPWSTR wide = nullptr;
    benchmark::DoNotOptimize(decode(source.c_str(), &wide));
    LocalFree(wide);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * source.size());
}

void Iconv(benchmark::State& state, const std::string& source, const char* from) {
  iconv_t cd = iconv_open("UTF-16LE", from);
  for (auto _ : state) benchmark::DoNotOptimize(IconvToUtf16(cd, source));
  iconv_close(cd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * source.size());
}

void BM_Utf8ToWide(benchmark::State& state) { Decode(state, Utf8Page(), Utf8ToWide); }
void BM_IconvUtf8(benchmark::State& state) { Iconv(state, Utf8Page(), "UTF-8"); }
void BM_AnsiToWide(benchmark::State& state) { Decode(state, Cp932Page(), AnsiToWide); }
void BM_IconvCp932(benchmark::State& state) { Iconv(state, Cp932Page(), "CP932"); }

BENCHMARK(BM_Utf8ToWide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IconvUtf8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnsiToWide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IconvCp932)->Unit(benchmark::kMillisecond);

}  // namespace
