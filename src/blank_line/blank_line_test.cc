#include "blank_line/blank_line.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace {

struct BlankCase {
  const char* name;
  std::string line;  // may hold a NUL: the test must stop there
  bool blank;
};

const BlankCase kCases[] = {
    {"empty", "", true},
    {"spaces_and_tab", " \t ", true},
    {"lone_cr", "\r", true},
    {"vt_ff", "\v\f", true},
    {"lf", "\n", true},
    {"full_width_space", "\x81\x40", true},
    {"mixed_spaces", " \x81\x40\t\x81\x40", true},
    {"other_0x81_unit", "\x81\x41", false},
    {"other_lead_byte_with_0x40", "\x82\x40", false},
    {"two_byte_letter", "\xA1\xA1", false},
    {"byte_0x80", "\x80", false},
    {"byte_0xa0", "\xA0", false},
    {"lone_lead_byte", "\x81", false},
    {"lead_byte_after_full_width_space", "\x81\x40\x81", false},
    {"letter_after_space", " x", false},
    {"letter_before_space", "x ", false},
    // 0x40 is '@': only as the second byte of a unit is it part of a space.
    {"second_byte_alone", "\x40", false},
    // The second byte of a unit is never read as a lead byte of its own:
    // 0x81 0x81 is one unit, not a lead byte followed by "0x81 0x40".
    {"unit_boundary", "\x81\x81\x40", false},
    {"nul_first", std::string("\0xyz", 4), true},
    {"nul_after_space", std::string(" \0x", 3), true},
    {"nul_after_letter", std::string("a\0 ", 3), false},
    {"other_control", "\x1f", false},
    {"del", "\x7f", false},
};

void PrintTo(const BlankCase& c, std::ostream* os) { *os << c.name; }

class BlankLineTest : public testing::TestWithParam<BlankCase> {};

TEST_P(BlankLineTest, MatchesTable) {
  const BlankCase& c = GetParam();
  EXPECT_EQ(is_blank_line(c.line.c_str()), c.blank);
}

INSTANTIATE_TEST_SUITE_P(Table, BlankLineTest, testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });

// A locale whose white space includes bytes above 0x7F must not change the
// answer: the test is about bytes, not about the user's settings.
TEST(BlankLine, IgnoresLocale) {
  const char* previous = std::setlocale(LC_ALL, nullptr);
  std::string saved = previous ? previous : "C";
  for (const char* name : {"C.UTF-8", "en_US.ISO-8859-1", "en_US.UTF-8"}) {
    if (!std::setlocale(LC_ALL, name)) continue;
    EXPECT_FALSE(is_blank_line("\xA0")) << name;
    EXPECT_FALSE(is_blank_line("\x85")) << name;
    EXPECT_TRUE(is_blank_line(" \t")) << name;
  }
  std::setlocale(LC_ALL, saved.c_str());
}

}  // namespace
