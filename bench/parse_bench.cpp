// Parse throughput of ParseComicList on a synthetic 8 MiB page (MB/s of UTF-16
// text), next to a plain search of the same text for "<li>".
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

#include "bench/synthetic_page.h"
#include "lists/release_list.h"

namespace {

constexpr std::size_t kPageBytes = 8 << 20;

const std::u16string& Page() {
  static const std::u16string page = bench::SyntheticComicPage(kPageBytes / sizeof(char16_t));
  return page;
}

void Parse(benchmark::State& state, const char16_t* outputPath) {
  const std::u16string& page = Page();
  for (auto _ : state) {
    benchmark::DoNotOptimize(ParseComicList(page.c_str(), outputPath));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPageBytes);
}

void BM_ParseComicListToDevNull(benchmark::State& state) { Parse(state, u"/dev/null"); }
void BM_ParseComicListToTmpFile(benchmark::State& state) {
  Parse(state, u"/tmp/zemlik-parse-bench.csv");
}

void BM_FindEntryTags(benchmark::State& state) {
  const std::u16string_view text = Page();
  for (auto _ : state) {
    std::size_t entries = 0;
    for (auto at = text.find(u"<li>"); at != text.npos; at = text.find(u"<li>", at + 4)) {
      ++entries;
    }
    benchmark::DoNotOptimize(entries);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPageBytes);
}

BENCHMARK(BM_FindEntryTags)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseComicListToDevNull)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseComicListToTmpFile)->Unit(benchmark::kMillisecond);

}  // namespace
