#include "line_set.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<std::string> as_strings(const std::vector<LineSet::SortedLine>& sorted) {
  std::vector<std::string> lines;
  for (const LineSet::SortedLine& entry : sorted) lines.emplace_back(entry.line);
  return lines;
}

TEST(LineSet, InsertReportsWhetherNewAndKeepsItsOwnCopy) {
  LineSet set;
  std::string line = "abc";
  EXPECT_TRUE(set.insert(line));
  line[0] = 'x';  // the set must not see the caller's buffer change
  EXPECT_TRUE(set.insert(line));
  EXPECT_FALSE(set.insert("abc"));
  EXPECT_FALSE(set.insert("xbc"));
  EXPECT_TRUE(set.insert("abc "));
  EXPECT_TRUE(set.insert("ABC"));
  EXPECT_EQ(set.size(), 4u);
  EXPECT_EQ(as_strings(set.sorted()),
            (std::vector<std::string>{"ABC", "abc", "abc ", "xbc"}));
}

TEST(LineSet, SortsByUnsignedBytesShorterPrefixFirst) {
  LineSet set;
  for (const char* line : {"b", "\x81\x40", "ab", "a", "B", "\x7f", "\x80", "\xff", "a\x80", "a\x01"}) {
    set.insert(line);
  }
  EXPECT_EQ(as_strings(set.sorted()),
            (std::vector<std::string>{"B", "a", "a\x01", "ab", "a\x80", "b",
                                      "\x7f", "\x80", "\x81\x40", "\xff"}));
}

// The sort settles most comparisons on the first 8 bytes alone: lines that
// are prefixes of each other around that length, that differ only after it,
// that hold bytes above 0x7f or NULs in it, must still come out in order.
TEST(LineSet, SortsAcrossTheFirstEightBytes) {
  const std::vector<std::string> lines = {
      "abcdefg", "abcdefgh", "abcdefghi", "abcdefgh\x01", "abcdefgh\xff",
      "abcdefg\xff", "abcdefg\x01", "\xff\xff\xff\xff\xff\xff\xff\xff",
      "\xff\xff\xff\xff\xff\xff\xff\xff\x00", "\x7f\xff", "\x80\x00",
      std::string("a\0", 2), "a", std::string("a\0b", 3), std::string(8, '\0'),
      std::string(9, '\0'), "z", "abcdefghijklmnop", "abcdefghijklmnoo"};
  LineSet set;
  for (const std::string& line : lines) set.insert(line);
  const std::set<std::string> model(lines.begin(), lines.end());
  EXPECT_EQ(as_strings(set.sorted()), std::vector<std::string>(model.begin(), model.end()));
}

// Many lines, so that the index grows several times and chunks fill up; the
// result must equal an ordered set's, and every repeat must be recognised,
// whether lines come one at a time or in batches (of sizes around the set's
// own lookahead, with repeats inside a batch and growth in the middle of one).
class LineSetAgainstOrderedSet : public testing::TestWithParam<std::size_t> {};

TEST_P(LineSetAgainstOrderedSet, AgreesAcrossGrowth) {
  const std::size_t batch_size = GetParam();
  std::mt19937 random(7);
  LineSet set;
  std::set<std::string, std::less<>> model;
  std::vector<std::string> batch;
  for (int i = 0; i < 300000; ++i) {
    std::string line;
    const std::size_t length = 1 + random() % (i % 100 == 0 ? 1023 : 12);
    for (std::size_t k = 0; k < length; ++k) line += static_cast<char>('a' + random() % 3);
    batch.push_back(line);
    if (batch.size() < batch_size) continue;
    std::vector<std::string_view> views(batch.begin(), batch.end());
    std::vector<char> was_new(views.size());
    if (batch_size == 1) {
      was_new[0] = set.insert(views[0]);
    } else {
      bool flags[200];
      set.insert_all(views, flags);
      std::copy(flags, flags + views.size(), was_new.begin());
    }
    for (std::size_t k = 0; k < batch.size(); ++k) {
      ASSERT_EQ(static_cast<bool>(was_new[k]), model.insert(batch[k]).second) << batch[k];
    }
    batch.clear();
  }
  EXPECT_EQ(set.size(), model.size());
  const std::vector<std::string> sorted = as_strings(set.sorted());
  ASSERT_TRUE(std::equal(sorted.begin(), sorted.end(), model.begin(), model.end()));
}

INSTANTIATE_TEST_SUITE_P(BatchSizes, LineSetAgainstOrderedSet, testing::Values(1, 7, 64, 65, 200),
                         [](const auto& info) { return "batch_of_" + std::to_string(info.param); });

}  // namespace
