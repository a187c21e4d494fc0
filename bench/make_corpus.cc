// make_corpus: writes the benchmark input (see corpus.h) with CR LF line ends.
//
//   make_corpus LINES POOL SEED [FILE]
//
// Writes to FILE, or to standard output when FILE is absent or "-". The
// standard corpus is `make_corpus 2000000 500000 1`.
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "corpus.h"

namespace {

bool parse_count(const char* text, std::uint64_t& value) {
  const char* end = text + std::strlen(text);
  const auto [at, error] = std::from_chars(text, end, value);
  return error == std::errc() && at == end;
}

int usage() {
  std::fputs("usage: make_corpus LINES POOL SEED [FILE]\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t lines = 0, pool = 0, seed = 0;
  if (argc < 4 || argc > 5 || !parse_count(argv[1], lines) ||
      !parse_count(argv[2], pool) || !parse_count(argv[3], seed) ||
      pool == 0) {
    return usage();
  }
  const bool to_stdout = argc == 4 || std::string_view(argv[4]) == "-";
  const char* name = to_stdout ? "standard output" : argv[4];
  std::FILE* out = to_stdout ? stdout : std::fopen(argv[4], "wb");
  if (out == nullptr) {
    std::fprintf(stderr, "make_corpus: %s: %s\n", name, std::strerror(errno));
    return 1;
  }
  static char buffer[1 << 20];
  std::setvbuf(out, buffer, _IOFBF, sizeof buffer);

  corpus::generate(lines, pool, seed, [&](std::string_view line, bool) {
    std::fwrite(line.data(), 1, line.size(), out);
    std::fwrite("\r\n", 1, 2, out);
  });

  // A short corpus would silently skew every figure measured on it.
  if (std::fflush(out) != 0 || std::ferror(out) ||
      (!to_stdout && std::fclose(out) != 0)) {
    std::fprintf(stderr, "make_corpus: %s: %s\n", name, std::strerror(errno));
    return 1;
  }
  return 0;
}
