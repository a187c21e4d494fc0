#ifndef DEDUPE_LINE_SET_H_
#define DEDUPE_LINE_SET_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

// The distinct lines of a run. Lines are only added while the input is read
// and only read back, in order, once it is exhausted, so the set is a hash
// index over an arena of line bytes while collecting, and one sort at the end.
// Each distinct line costs its bytes plus 2 bytes in the arena and 9 to 18
// bytes of index (27 at the moment the index grows, 24 while sorting); a
// repeated line costs nothing.
class LineSet {
 public:
  LineSet();
  ~LineSet();
  LineSet(const LineSet&) = delete;
  LineSet& operator=(const LineSet&) = delete;

  // Stores its own copy of `line` (at most 65535 bytes) unless an equal line
  // is already present; true when the line was new. May throw
  // std::bad_alloc.
  bool insert(std::string_view line);

  // Inserts each of `lines` in order, exactly as `insert` would, and sets
  // was_new[i] to what inserting lines[i] reported. A lookup waits twice for
  // memory, for its index slot and for the stored line it points to; given
  // many lines at once, the set starts those fetches for all of them before
  // it looks any of them up.
  void insert_all(std::span<const std::string_view> lines, bool* was_new);

  std::size_t size() const { return size_; }

  // One line of the sorted result. Its first 8 bytes ride along as a
  // big-endian number (zero-padded), so that most comparisons of the sort
  // are settled without fetching the line itself from memory.
  struct SortedLine {
    std::uint64_t head;
    std::string_view line;
  };

  // Ends collection: frees the index and returns every line in ascending
  // unsigned byte order, a shorter line before any line it is a prefix of.
  // The views point into the set and stay valid while it lives; `insert`
  // must not be called afterwards.
  std::vector<SortedLine> sorted();

 private:
  struct Chunk {
    std::unique_ptr<char[]> bytes;
    std::size_t used = 0;
  };

  bool insert(std::string_view line, std::uint64_t hash);
  void prefetch_slot(std::uint64_t hash) const;
  void prefetch_line(std::uint64_t hash) const;
  std::uint64_t store(std::string_view line);
  std::string_view line_at(std::uint64_t offset) const;
  void grow_index();
  // Calls visit(offset, line) for every stored line, in storage order.
  template <typename Visit>
  void for_each_record(Visit visit) const {
    for (std::size_t c = 0; c < chunks_.size(); ++c) {
      for (std::size_t at = 0; at < chunks_[c].used;) {
        const std::uint64_t offset = c * kChunkSize + at;
        const std::string_view line = line_at(offset);
        visit(offset, line);
        at += kLengthSize + line.size();
      }
    }
  }

  // Lines are stored back to back as a 2-byte length and the bytes, in
  // chunks of kChunkSize; a record never spans two chunks.
  static constexpr std::size_t kChunkSize = std::size_t{1} << 20;
  static constexpr std::size_t kLengthSize = 2;

  std::vector<Chunk> chunks_;
  // Open addressing with linear probing; 0 marks an empty slot. A used slot
  // holds a hash tag in its top bits and the arena offset of the line + 1 in
  // the rest, so most mismatches are rejected without touching the arena.
  std::vector<std::uint64_t> slots_;
  std::size_t size_ = 0;
};

#endif  // DEDUPE_LINE_SET_H_
