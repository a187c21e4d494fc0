// line_set_bench: LineSet against a plain ordered tree of strings on the
// standard corpus (2,000,000 lines from 500,000 candidates, see corpus.h):
// insert every non-blank line, then walk the distinct lines in order. Besides
// the time, each reports the heap it held at its peak, counted by the
// replacement operator new below, and what that costs per distinct line on
// top of the line bytes themselves.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cstdlib>
#include <memory>
#include <new>
#include <set>
#include <span>
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

// The argument is how many lines reach the set at once: 1 is `insert` line
// by line, more is `insert_all` in batches of that size, as the run does.
void BM_LineSet(benchmark::State& state) {
  const Corpus& corpus = standard_corpus();
  const std::size_t batch = static_cast<std::size_t>(state.range(0));
  const std::unique_ptr<bool[]> was_new(new bool[batch]);
  std::size_t peak = 0, walked = 0;
  for (auto _ : state) {
    const std::size_t baseline = restart_peak();
    auto set = std::make_unique<LineSet>();
    if (batch == 1) {
      for (const std::string_view line : corpus.lines) set->insert(line);
    } else {
      const std::span<const std::string_view> all(corpus.lines);
      for (std::size_t at = 0; at < all.size(); at += batch) {
        set->insert_all(all.subspan(at, std::min(batch, all.size() - at)),
                        was_new.get());
      }
    }
    const std::vector<LineSet::SortedLine> in_order = set->sorted();
    std::size_t bytes = 0;
    for (const LineSet::SortedLine& entry : in_order) bytes += entry.line.size();
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

// The final sort of the distinct lines, in first-seen order as the set
// stores them: std::sort on the views, against a sort that first compares a
// cached 8-byte big-endian prefix and touches the bytes only on a tie. The
// prefix costs 8 more bytes per distinct line while sorting.
std::vector<std::string_view> distinct_in_first_seen_order() {
  const Corpus& corpus = standard_corpus();
  std::set<std::string_view> seen;
  std::vector<std::string_view> order;
  for (const std::string_view line : corpus.lines) {
    if (seen.insert(line).second) order.push_back(line);
  }
  return order;
}

void BM_SortViews(benchmark::State& state) {
  const std::vector<std::string_view> lines = distinct_in_first_seen_order();
  for (auto _ : state) {
    std::vector<std::string_view> copy = lines;
    std::sort(copy.begin(), copy.end());
    benchmark::DoNotOptimize(copy.data());
  }
}

void BM_SortCachedPrefix(benchmark::State& state) {
  const std::vector<std::string_view> lines = distinct_in_first_seen_order();
  struct Entry {
    std::uint64_t prefix;
    std::string_view line;
  };
  for (auto _ : state) {
    std::vector<Entry> entries;
    entries.reserve(lines.size());
    for (const std::string_view line : lines) {
      unsigned char head[8] = {};
      std::memcpy(head, line.data(), std::min<std::size_t>(8, line.size()));
      std::uint64_t prefix = 0;
      for (const unsigned char b : head) prefix = prefix << 8 | b;
      entries.push_back({prefix, line});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
      return a.prefix != b.prefix ? a.prefix < b.prefix : a.line < b.line;
    });
    benchmark::DoNotOptimize(entries.data());
  }
}

BENCHMARK(BM_SortViews)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_SortCachedPrefix)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_LineSet)->Arg(1)->Arg(64)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_OrderedTree)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
