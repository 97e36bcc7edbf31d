// Parse throughput of ParseComicList on a synthetic 8 MiB page (MB/s of UTF-16
// text), next to a plain search of the same text for "<li>". The dense page is
// entries only (about 80000 records); the sparse one has a month's worth (about
// 2000) with markup between them.
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

#include "bench/synthetic_page.h"
#include "lists/release_list.h"

namespace {

constexpr std::size_t kPageBytes = 8 << 20;

const std::u16string& DensePage() {
  static const std::u16string page = bench::SyntheticComicPage(kPageBytes / sizeof(char16_t));
  return page;
}

const std::u16string& SparsePage() {
  static const std::u16string page = bench::SyntheticComicPage(kPageBytes / sizeof(char16_t), 2000);
  return page;
}

void Parse(benchmark::State& state, const std::u16string& page, const char16_t* outputPath) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(ParseComicList(page.c_str(), outputPath, 2008));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPageBytes);
}

// The parser writes a temporary file beside the output and puts it in place at the end, so
// the output is a real file: in memory (/dev/shm, a tmpfs) or on disk (/tmp).
void BM_ParseDenseToMemoryFile(benchmark::State& state) {
  Parse(state, DensePage(), u"/dev/shm/zemlik-parse-bench.csv");
}
void BM_ParseDenseToTmpFile(benchmark::State& state) {
  Parse(state, DensePage(), u"/tmp/zemlik-parse-bench.csv");
}
void BM_ParseSparseToMemoryFile(benchmark::State& state) {
  Parse(state, SparsePage(), u"/dev/shm/zemlik-parse-bench.csv");
}

void FindEntryTags(benchmark::State& state, const std::u16string_view text) {
  for (auto _ : state) {
    std::size_t entries = 0;
    for (auto at = text.find(u"<li>"); at != text.npos; at = text.find(u"<li>", at + 4)) {
      ++entries;
    }
    benchmark::DoNotOptimize(entries);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPageBytes);
}

void BM_FindDense(benchmark::State& state) { FindEntryTags(state, DensePage()); }
void BM_FindSparse(benchmark::State& state) { FindEntryTags(state, SparsePage()); }

BENCHMARK(BM_FindDense)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseDenseToMemoryFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseDenseToTmpFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindSparse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseSparseToMemoryFile)->Unit(benchmark::kMillisecond);

}  // namespace
