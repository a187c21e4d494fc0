#ifndef DEDUPE_FUZZ_MODEL_H_
#define DEDUPE_FUZZ_MODEL_H_

// A second, deliberately plain account of what one run does with a given
// infile.euc: byte by byte, with standard containers and no shortcuts. It
// shares no code with the product, so that a fault in one is not hidden by
// the same fault in the other.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace model {

// Everything a run leaves behind when it starts in an otherwise empty folder.
struct Outcome {
  int exit_status = 0;
  std::string standard_output;
  std::string standard_error;
  // The two files; nullopt when the run left no such file.
  std::optional<std::string> duplicates;
  std::optional<std::string> outfile;

  bool operator==(const Outcome&) const = default;
};

// The lines of the input as a reader sees them: the data ends at the first
// 0x1A, CR LF and lone LF end a line, any other CR is a byte of the line, and
// a last line without a line end is still a line. Lengths are not checked.
std::vector<std::string> decode_lines(std::string_view file_bytes);

// The part of a line that counts: the bytes before its first NUL.
std::string up_to_nul(std::string_view line);

// True when every unit is HT, LF, VT, FF, CR, space or the pair 0x81 0x40.
bool is_blank(std::string_view line);

// Byte by byte as unsigned values; a prefix sorts first.
bool unsigned_less(std::string_view a, std::string_view b);

// The longest line a run accepts, without its line end.
constexpr std::size_t kLongestLine = 1023;

// The whole run on `file_bytes` as infile.euc.
Outcome run(std::string_view file_bytes);

}  // namespace model

#endif  // DEDUPE_FUZZ_MODEL_H_
