// The benchmark corpus, made the same way by make_corpus (as a file) and by
// line_set_bench (in memory), so both measure the same lines.
//
// A run of `lines` lines: about 1 in 100 is blank (empty, or spaces, tabs and
// the full-width space 0x81 0x40), every other one is drawn from a pool of
// `pool` candidate lines with Zipf-like weights (rank k weighs 1 / k^0.795), so
// that a few lines repeat very often and most repeat rarely or never. With
// 2,000,000 lines from 500,000 candidates about 394,000 distinct lines come
// out. A candidate is 1 to 9 words, each either ASCII letters or double-byte
// characters, joined by spaces. No line holds NUL, CR, LF or 0x1A, and none is
// longer than about 100 bytes. The same arguments always give the same bytes.
#ifndef DEDUPE_BENCH_CORPUS_H_
#define DEDUPE_BENCH_CORPUS_H_

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corpus {

constexpr double kZipfExponent = 0.795; // tuned for ~394,000 distinct of 2M
constexpr std::uint64_t kBlankOneIn = 100;

// A small generator defined here in full (splitmix64), so that the corpus
// is the same on every machine and standard library.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  // Uniform in [0, n); the tiny modulo bias does not matter here.
  std::uint64_t below(std::uint64_t n) { return next() % n; }
  // Uniform in [0, 1).
  double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

 private:
  std::uint64_t state_;
};

// Lead bytes 0x82-0x9F and 0xE0-0xEF (0x81 is left out so that no word is a
// full-width space); trail bytes 0x40-0x7E and 0x80-0xFC.
inline void append_double_byte_char(std::string& out, Random& random) {
  const std::uint64_t lead = random.below(30 + 16);
  out += static_cast<char>(lead < 30 ? 0x82 + lead : 0xE0 + (lead - 30));
  const std::uint64_t trail = random.below(63 + 125);
  out += static_cast<char>(trail < 63 ? 0x40 + trail : 0x80 + (trail - 63));
}

inline std::string make_candidate(Random& random) {
  std::string line;
  const std::uint64_t words = 1 + random.below(9);
  for (std::uint64_t w = 0; w < words; ++w) {
    if (w > 0) line += ' ';
    if (random.below(2) == 0) {
      const std::uint64_t letters = 3 + random.below(8);
      for (std::uint64_t i = 0; i < letters; ++i) {
        line += static_cast<char>('a' + random.below(26));
      }
    } else {
      const std::uint64_t chars = 1 + random.below(4);
      for (std::uint64_t i = 0; i < chars; ++i) {
        append_double_byte_char(line, random);
      }
    }
  }
  return line;
}

// Empty, or up to 4 units of space, tab and the full-width space.
inline std::string make_blank(Random& random) {
  std::string line;
  const std::uint64_t units = random.below(5);
  for (std::uint64_t i = 0; i < units; ++i) {
    switch (random.below(3)) {
      case 0: line += ' '; break;
      case 1: line += '\t'; break;
      default: line += "\x81\x40"; break;
    }
  }
  return line;
}

// Calls emit(line, is_blank) for each of `lines` lines, without line ends.
template <typename Emit>
void generate(std::uint64_t lines, std::uint64_t pool, std::uint64_t seed,
              Emit emit) {
  Random random(seed);

  // The pool, back to back in one string: `starts` has pool + 1 entries.
  std::string pool_bytes;
  std::vector<std::size_t> starts{0};
  for (std::uint64_t i = 0; i < pool; ++i) {
    pool_bytes += make_candidate(random);
    starts.push_back(pool_bytes.size());
  }

  // Cumulative weights; a uniform draw then picks a rank by binary search.
  std::vector<double> cumulative(pool);
  double total = 0;
  for (std::uint64_t k = 0; k < pool; ++k) {
    total += std::pow(static_cast<double>(k + 1), -kZipfExponent);
    cumulative[k] = total;
  }

  for (std::uint64_t n = 0; n < lines; ++n) {
    if (random.below(kBlankOneIn) == 0) {
      emit(std::string_view(make_blank(random)), true);
      continue;
    }
    const double target = random.unit() * total;
    const std::size_t rank = std::min<std::size_t>(
        std::upper_bound(cumulative.begin(), cumulative.end(), target) -
            cumulative.begin(),
        pool - 1);
    emit(std::string_view(pool_bytes).substr(
             starts[rank], starts[rank + 1] - starts[rank]),
         false);
  }
}

}  // namespace corpus

#endif  // DEDUPE_BENCH_CORPUS_H_
