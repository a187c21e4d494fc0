// line_set_bench: LineSet against a plain ordered tree of strings on the
// standard corpus (2,000,000 lines from 500,000 candidates, see corpus.h):
// insert every non-blank line, then walk the distinct lines in order. Besides
// the time, each reports the heap it held at its peak, counted by the
// replacement operator new below, and what that costs per distinct line on
// top of the line bytes themselves.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "corpus.h"
#include "line_set.h"

// ---- Heap accounting: every operator new and delete of this program. ----

namespace {

std::size_t heap_now = 0;
std::size_t heap_peak = 0;

void* counted_alloc(std::size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  // The usable size, not the request: that is what the heap really holds.
  heap_now += malloc_usable_size(p);
  if (heap_now > heap_peak) heap_peak = heap_now;
  return p;
}

void counted_free(void* p) {
  if (p == nullptr) return;
  heap_now -= malloc_usable_size(p);
  std::free(p);
}

// Starts a new peak from what is held now; returns that baseline.
std::size_t restart_peak() {
  heap_peak = heap_now;
  return heap_now;
}

}  // namespace

void* operator new(std::size_t size) { return counted_alloc(size); }
void* operator new[](std::size_t size) { return counted_alloc(size); }
void operator delete(void* p) noexcept { counted_free(p); }
void operator delete[](void* p) noexcept { counted_free(p); }
void operator delete(void* p, std::size_t) noexcept { counted_free(p); }
void operator delete[](void* p, std::size_t) noexcept { counted_free(p); }

// ---- The corpus, made once. ----

namespace {

struct Corpus {
  std::string bytes;                    // the non-blank lines, back to back
  std::vector<std::string_view> lines;  // views into `bytes`
  std::size_t distinct = 0;
  std::size_t distinct_bytes = 0;
};

const Corpus& standard_corpus() {
  static const Corpus corpus = [] {
    Corpus c;
    std::vector<std::size_t> ends;
    corpus::generate(2'000'000, 500'000, 1, [&](std::string_view line,
                                                bool blank) {
      if (blank) return;
      c.bytes += line;
      ends.push_back(c.bytes.size());
    });
    std::size_t start = 0;
    for (const std::size_t end : ends) {
      c.lines.emplace_back(c.bytes.data() + start, end - start);
      start = end;
    }
    std::set<std::string_view> distinct(c.lines.begin(), c.lines.end());
    c.distinct = distinct.size();
    for (const std::string_view line : distinct) {
      c.distinct_bytes += line.size();
    }
    return c;
  }();
  return corpus;
}

void report(benchmark::State& state, const Corpus& corpus,
            std::size_t peak_bytes, std::size_t walked) {
  if (walked != corpus.distinct) {
    state.SkipWithError("walked a different number of lines than distinct");
    return;
  }
  const double mib = 1024.0 * 1024.0;
  state.counters["peak_MiB"] = peak_bytes / mib;
  state.counters["line_MiB"] = corpus.distinct_bytes / mib;
  state.counters["overhead_B_per_line"] =
      (static_cast<double>(peak_bytes) - corpus.distinct_bytes) /
      corpus.distinct;
  state.counters["distinct"] = corpus.distinct;
  // CPU time per input line, shown with a unit prefix: "250n" is 250 ns.
  state.counters["time_per_line"] = benchmark::Counter(
      static_cast<double>(corpus.lines.size()),
      benchmark::Counter::kIsIterationInvariantRate |
          benchmark::Counter::kInvert);
}

void BM_LineSet(benchmark::State& state) {
  const Corpus& corpus = standard_corpus();
  std::size_t peak = 0, walked = 0;
  for (auto _ : state) {
    const std::size_t baseline = restart_peak();
    auto set = std::make_unique<LineSet>();
    for (const std::string_view line : corpus.lines) set->insert(line);
    const std::vector<std::string_view> in_order = set->sorted();
    std::size_t bytes = 0;
    for (const std::string_view line : in_order) bytes += line.size();
    benchmark::DoNotOptimize(bytes);
    walked = in_order.size();
    peak = heap_peak - baseline;
    state.PauseTiming();  // freeing is not part of the work compared
    set.reset();
    state.ResumeTiming();
  }
  report(state, corpus, peak, walked);
}

void BM_OrderedTree(benchmark::State& state) {
  const Corpus& corpus = standard_corpus();
  std::size_t peak = 0, walked = 0;
  for (auto _ : state) {
    const std::size_t baseline = restart_peak();
    auto set = std::make_unique<std::set<std::string>>();
    for (const std::string_view line : corpus.lines) {
      set->insert(std::string(line));
    }
    std::size_t bytes = 0;
    for (const std::string& line : *set) bytes += line.size();
    benchmark::DoNotOptimize(bytes);
    walked = set->size();
    peak = heap_peak - baseline;
    state.PauseTiming();
    set.reset();
    state.ResumeTiming();
  }
  report(state, corpus, peak, walked);
}

BENCHMARK(BM_LineSet)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_OrderedTree)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
