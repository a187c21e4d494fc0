#include "line_set.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>

namespace {

// 40 bits of arena offset (1 TiB) and 24 bits of tag in each index slot.
constexpr int kOffsetBits = 40;
constexpr std::uint64_t kOffsetMask = (std::uint64_t{1} << kOffsetBits) - 1;

constexpr std::size_t kInitialSlots = 1024;  // a power of two
// The index grows when more than 7/8 of its slots are used. While it grows,
// the old and the new slots are held together: 24 bytes per slot of the old
// index, 27.4 bytes per line at that moment.
constexpr std::size_t kLoadNumerator = 7;
constexpr std::size_t kLoadDenominator = 8;
// How many lookups insert_all prepares at once.
constexpr std::size_t kLookahead = 64;

std::uint64_t mix(std::uint64_t h) {
  h ^= h >> 32;
  h *= 0xd6e8feb86659fd93ULL;
  h ^= h >> 32;
  return h;
}

std::uint64_t hash_line(std::string_view line) {
  const char* p = line.data();
  std::size_t n = line.size();
  std::uint64_t h = 0x9e3779b97f4a7c15ULL ^ n;
  for (; n >= 8; p += 8, n -= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    h = mix(h ^ word);
  }
  if (n > 0) {
    std::uint64_t word = 0;
    std::memcpy(&word, p, n);
    h = mix(h ^ word);
  }
  return mix(h + 0x632be59bd9b4e019ULL);
}

std::uint64_t tag_of(std::uint64_t hash) { return hash & ~kOffsetMask; }

}  // namespace

LineSet::LineSet() : slots_(kInitialSlots, 0) {}

LineSet::~LineSet() = default;

bool LineSet::insert(std::string_view line) {
  return insert(line, hash_line(line));
}

void LineSet::insert_all(std::span<const std::string_view> lines,
                         bool* was_new) {
  std::uint64_t hashes[kLookahead];
  for (std::size_t start = 0; start < lines.size(); start += kLookahead) {
    const std::size_t n = std::min(kLookahead, lines.size() - start);
    for (std::size_t i = 0; i < n; ++i) {
      hashes[i] = hash_line(lines[start + i]);
      prefetch_slot(hashes[i]);
    }
    for (std::size_t i = 0; i < n; ++i) prefetch_line(hashes[i]);
    for (std::size_t i = 0; i < n; ++i) {
      was_new[start + i] = insert(lines[start + i], hashes[i]);
    }
  }
}

void LineSet::prefetch_slot(std::uint64_t hash) const {
  __builtin_prefetch(&slots_[hash & (slots_.size() - 1)]);
}

// Reads the slots (fetched by now) and starts fetching the first stored line
// whose tag matches: the one the lookup will compare.
void LineSet::prefetch_line(std::uint64_t hash) const {
  const std::uint64_t tag = tag_of(hash);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask; slots_[i] != 0; i = (i + 1) & mask) {
    if ((slots_[i] & ~kOffsetMask) == tag) {
      const std::uint64_t offset = (slots_[i] & kOffsetMask) - 1;
      const char* record =
          chunks_[offset / kChunkSize].bytes.get() + offset % kChunkSize;
      __builtin_prefetch(record);
      __builtin_prefetch(record + 63);  // a line may straddle two cache lines
      return;
    }
  }
}

bool LineSet::insert(std::string_view line, std::uint64_t hash) {
  const std::uint64_t tag = tag_of(hash);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const std::uint64_t slot = slots_[i];
    if (slot == 0) break;
    if ((slot & ~kOffsetMask) == tag &&
        line_at((slot & kOffsetMask) - 1) == line) {
      return false;
    }
  }
  // Grow before storing, so that a failed allocation leaves the set as it was.
  if ((size_ + 1) * kLoadDenominator > slots_.size() * kLoadNumerator) {
    grow_index();
  }
  const std::uint64_t offset = store(line);
  const std::size_t new_mask = slots_.size() - 1;
  std::size_t i = hash & new_mask;
  while (slots_[i] != 0) i = (i + 1) & new_mask;
  slots_[i] = tag | (offset + 1);
  ++size_;
  return true;
}

std::uint64_t LineSet::store(std::string_view line) {
  const std::size_t need = kLengthSize + line.size();
  assert(line.size() <= 0xffff);
  if (chunks_.empty() || kChunkSize - chunks_.back().used < need) {
    // A slot has room for offsets below 1 TiB; past that the set is full.
    if ((chunks_.size() + 1) * kChunkSize > kOffsetMask) throw std::bad_alloc();
    chunks_.reserve(chunks_.size() + 1);
    chunks_.push_back({std::unique_ptr<char[]>(new char[kChunkSize]), 0});
  }
  Chunk& chunk = chunks_.back();
  char* record = chunk.bytes.get() + chunk.used;
  record[0] = static_cast<char>(line.size() & 0xff);
  record[1] = static_cast<char>(line.size() >> 8);
  std::memcpy(record + kLengthSize, line.data(), line.size());
  const std::uint64_t offset = (chunks_.size() - 1) * kChunkSize + chunk.used;
  chunk.used += need;
  return offset;
}

std::string_view LineSet::line_at(std::uint64_t offset) const {
  const char* record = chunks_[offset / kChunkSize].bytes.get() +
                       offset % kChunkSize;
  const std::size_t length = static_cast<unsigned char>(record[0]) |
                             static_cast<unsigned char>(record[1]) << 8;
  return {record + kLengthSize, length};
}

void LineSet::grow_index() {
  std::vector<std::uint64_t> bigger(slots_.size() * 2, 0);
  const std::size_t mask = bigger.size() - 1;
  // Walking the arena in storage order reads it sequentially, which is much
  // cheaper than following the old slots to scattered records.
  for_each_record([&](std::uint64_t offset, std::string_view line) {
    const std::uint64_t hash = hash_line(line);
    std::size_t i = hash & mask;
    while (bigger[i] != 0) i = (i + 1) & mask;
    bigger[i] = tag_of(hash) | (offset + 1);
  });
  slots_.swap(bigger);
}

std::vector<LineSet::SortedLine> LineSet::sorted() {
  std::vector<std::uint64_t>().swap(slots_);
  std::vector<SortedLine> lines;
  lines.reserve(size_);
  for_each_record([&](std::uint64_t, std::string_view line) {
    std::uint64_t head = 0;
    for (std::size_t i = 0; i < 8; ++i) {
      head = head << 8 | (i < line.size() ? static_cast<unsigned char>(line[i]) : 0);
    }
    lines.push_back({head, line});
  });
  // Heads never contradict the order of the lines: where one head runs into
  // its padding and the other does not, the padded line is a prefix of the
  // other and sorts first anyway. Equal heads fall back to the whole lines;
  // std::string_view compares bytes as unsigned char, a shorter line first.
  std::sort(lines.begin(), lines.end(),
            [](const SortedLine& a, const SortedLine& b) {
              return a.head != b.head ? a.head < b.head : a.line < b.line;
            });
  return lines;
}
