#include "run.h"

#include <sys/uio.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "blank_line/blank_line.h"
#include "line_set.h"
#include "text_files/file_identity.h"
#include "text_files/text_reader.h"
#include "text_files/text_writer.h"

namespace {

constexpr char kInputName[] = "infile.euc";
constexpr char kDuplicatesName[] = "duplicates.euc";
constexpr char kOutputName[] = "outfile.euc";
// A line holds at most kLineCapacity - 1 bytes; the last place is the NUL's.
constexpr std::size_t kLineCapacity = 1024;

constexpr int kSuccess = 0;
constexpr int kFailure = 1;

// Ends the run with exit status 1 and the message "dedupe: <message>".
struct Failure {
  std::string message;
};

[[noreturn]] void fail(std::string_view file, std::string_view reason) {
  throw Failure{std::string(file) + ": " + std::string(reason)};
}

// Writes one line and hands it to the system at once, so that the file holds
// every line written so far; a write that fails ends the run.
void write_line(TextWriter& file, std::string_view line) {
  file.write(line);
  file.write_line_end();
  if (!file.flush()) fail(file.name(), std::strerror(file.error()));
}

void close_or_fail(TextWriter& file) {
  if (!file.close()) fail(file.name(), std::strerror(file.error()));
}

// Opening `name` truncates it: refuse when it is the file behind `other`, so
// that no output destroys the input or the other output.
void refuse_same_file(const char* name, const FileIdentity& other,
                      const char* other_name) {
  if (names_file(name, other)) {
    fail(name, std::string("is the same file as ") + other_name);
  }
}

// Lines are handled in batches, so that the set can fetch the memory of many
// lookups at once. A batch only takes a further line while the reader holds
// it in memory already: a repetition is logged before the run ever waits for
// more input, as if lines were handled one by one.
constexpr std::size_t kBatchLines = 64;

enum class Read { kLine, kEnd, kTooLong, kError };

Read read_one(TextReader& input, char* line) {
  read_line(input, line, kLineCapacity, '\n');
  if (input.read_error() != 0) return Read::kError;
  if (input.failed()) return input.at_end() ? Read::kEnd : Read::kTooLong;
  return Read::kLine;
}

// Reads the input to its end. Every non-blank line is counted and offered to
// `unique_lines`; a line that was there already goes to `duplicates` at once.
// Returns the number of non-blank lines.
std::int64_t collect(TextReader& input, TextWriter& duplicates,
                     LineSet& unique_lines) {
  char lines[kBatchLines][kLineCapacity];
  std::int64_t lines_in = 0;
  std::int64_t lines_read = 0;  // blank ones too: messages number lines so
  for (;;) {
    std::string_view keys[kBatchLines];
    std::size_t count = 0;
    Read read = Read::kLine;
    for (std::size_t taken = 0; taken < kBatchLines; ++taken) {
      if (taken > 0 && input.buffered() < kLineCapacity) break;
      read = read_one(input, lines[taken]);
      if (read != Read::kLine) break;
      ++lines_read;
      if (is_blank_line(lines[taken])) continue;
      keys[count++] = {lines[taken], std::strlen(lines[taken])};  // NUL cuts
    }
    bool was_new[kBatchLines];
    unique_lines.insert_all({keys, count}, was_new);
    lines_in += count;
    for (std::size_t i = 0; i < count; ++i) {
      if (!was_new[i]) write_line(duplicates, keys[i]);
    }
    if (read == Read::kEnd) return lines_in;
    if (read == Read::kError) {
      fail(kInputName, std::strerror(input.read_error()));
    }
    if (read == Read::kTooLong) {
      fail(kInputName, "line " + std::to_string(lines_read + 1) +
                           " is longer than " +
                           std::to_string(kLineCapacity - 1) + " bytes");
    }
  }
}

void print_summary(TextWriter& console, std::int64_t lines_in,
                   std::size_t lines_out) {
  write_line(console, "");
  write_line(console, "Lines In: " + std::to_string(lines_in));
  write_line(console, "Lines Out: " + std::to_string(lines_out));
  write_line(console, "");
}

// The whole run. A file that cannot be opened ends it silently with status
// 1; every other failure throws.
int dedupe(TextWriter& console) {
  TextReader input;
  if (!input.open(kInputName)) return kFailure;
  refuse_same_file(kDuplicatesName, input.identity(), kInputName);
  TextWriter duplicates;
  if (!duplicates.open(kDuplicatesName)) return kFailure;

  LineSet unique_lines;
  const std::int64_t lines_in = collect(input, duplicates, unique_lines);
  input.close();  // everything is read: a failed close loses nothing
  const std::vector<LineSet::SortedLine> in_order = unique_lines.sorted();

  refuse_same_file(kOutputName, duplicates.identity(), kDuplicatesName);
  TextWriter output;
  if (!output.open(kOutputName)) return kFailure;
  for (const LineSet::SortedLine& entry : in_order) {
    write_line(output, entry.line);
  }
  close_or_fail(output);

  print_summary(console, lines_in, in_order.size());
  close_or_fail(duplicates);
  return kSuccess;
}

// One line on standard error, in a single write so that it is never split,
// and without allocating, since memory may have run out.
void report(int standard_error, std::string_view message) {
  char prefix[] = "dedupe: ";
  char newline[] = "\n";
  iovec parts[] = {{prefix, sizeof prefix - 1},
                   {const_cast<char*>(message.data()), message.size()},
                   {newline, 1}};
  [[maybe_unused]] const ssize_t ignored = ::writev(standard_error, parts, 3);
}

}  // namespace

int run_dedupe(int standard_output, int standard_error) {
  TextWriter console = TextWriter::standard_output(standard_output);
  try {
    return dedupe(console);
  } catch (const Failure& failure) {
    report(standard_error, failure.message);
  } catch (const std::bad_alloc&) {
    report(standard_error, "out of memory");
  }
  return kFailure;
}
