#include "line_set.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<std::string> as_strings(const std::vector<std::string_view>& v) {
  return {v.begin(), v.end()};
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

// Many lines, so that the index grows several times and chunks fill up; the
// result must equal an ordered set's, and every repeat must be recognised.
TEST(LineSet, AgreesWithOrderedSetAcrossGrowth) {
  std::mt19937 random(7);
  LineSet set;
  std::set<std::string, std::less<>> model;
  for (int i = 0; i < 300000; ++i) {
    std::string line;
    const std::size_t length = 1 + random() % (i % 100 == 0 ? 1023 : 12);
    for (std::size_t k = 0; k < length; ++k) line += static_cast<char>('a' + random() % 3);
    const bool is_new = model.insert(line).second;
    ASSERT_EQ(set.insert(line), is_new) << line;
  }
  EXPECT_EQ(set.size(), model.size());
  const std::vector<std::string_view> sorted = set.sorted();
  ASSERT_TRUE(std::equal(sorted.begin(), sorted.end(), model.begin(), model.end()));
}

}  // namespace
