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

// Reads the input to its end. Every non-blank line is counted and offered to
// `unique_lines`; a line that was there already goes to `duplicates` at once.
// Returns the number of non-blank lines.
std::int64_t collect(TextReader& input, TextWriter& duplicates,
                     LineSet& unique_lines) {
  char line[kLineCapacity];
  std::int64_t lines_in = 0;
  for (std::int64_t number = 1; !input.at_end(); ++number) {
    read_line(input, line, kLineCapacity, '\n');
    if (input.read_error() != 0) {
      fail(kInputName, std::strerror(input.read_error()));
    }
    if (input.failed()) {
      if (input.at_end()) break;  // the data ended right after a line end
      fail(kInputName, "line " + std::to_string(number) + " is longer than " +
                           std::to_string(kLineCapacity - 1) + " bytes");
    }
    if (is_blank_line(line)) continue;
    ++lines_in;
    const std::string_view key(line, std::strlen(line));  // a NUL cuts it
    if (!unique_lines.insert(key)) write_line(duplicates, key);
  }
  return lines_in;
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
  const std::vector<std::string_view> in_order = unique_lines.sorted();

  refuse_same_file(kOutputName, duplicates.identity(), kDuplicatesName);
  TextWriter output;
  if (!output.open(kOutputName)) return kFailure;
  for (const std::string_view line : in_order) write_line(output, line);
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
