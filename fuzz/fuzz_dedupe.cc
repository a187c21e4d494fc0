// The fuzz target: the bytes are infile.euc. They go through the line reader
// directly and through the whole run in a scratch folder; the outcome must
// keep the run's promises and match the model byte for byte. Any difference
// aborts, so that the fuzzer keeps the input.
#include <stdlib.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "in_process_run.h"
#include "model.h"
#include "text_files/text_reader.h"

namespace {

void require(bool condition, const char* promise) {
  if (condition) return;
  std::fprintf(stderr, "fuzz_dedupe: broken: %s\n", promise);
  std::abort();
}

std::string scratch_folder_name;

void remove_scratch_folder() {
  std::error_code ignored;
  std::filesystem::remove_all(scratch_folder_name, ignored);
}

// One folder for the whole process, in memory where possible, since every
// input writes three small files.
const std::string& scratch_folder() {
  if (scratch_folder_name.empty()) {
    std::string base = "/dev/shm";
    struct stat st;
    if (stat(base.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      const char* tmpdir = getenv("TMPDIR");
      base = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
    }
    std::string pattern = base + "/fuzz_dedupe.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror(pattern.c_str());
      std::abort();
    }
    scratch_folder_name = pattern;
    std::atexit(remove_scratch_folder);
  }
  return scratch_folder_name;
}

// Reads the file with read_line at `capacity` and checks each call against
// the lines the model finds, flags included, up to the first line that does
// not fit and one call beyond the end.
void check_reader(const std::string& path, const std::vector<std::string>& lines,
                  bool last_line_has_end, std::size_t capacity) {
  // One reader for the whole process: it keeps its block buffer from one
  // open to the next, which spares a large allocation per input.
  static TextReader reader;
  require(reader.open(path.c_str()), "the reader opens infile.euc");
  // Exactly `capacity` bytes, so that a write past them is caught.
  const std::unique_ptr<char[]> buffer(new char[capacity]);
  for (std::size_t i = 0;; ++i) {
    const std::size_t stored = read_line(reader, buffer.get(), capacity, '\n');
    require(stored < capacity && buffer[stored] == '\0',
            "read_line ends what it stored with NUL, inside the buffer");
    const std::string_view got(buffer.get(), stored);
    if (i == lines.size()) {
      require(stored == 0 && reader.at_end() && reader.failed(),
              "a read after the last line finds the end and fails");
      break;
    }
    const std::string& line = lines[i];
    if (line.size() > capacity - 1) {
      require(got == std::string_view(line).substr(0, capacity - 1),
              "a line that does not fit leaves its first capacity-1 bytes");
      require(reader.failed() && !reader.at_end(),
              "a line that does not fit fails without reaching the end");
      break;
    }
    require(got == line, "read_line returns the decoded line");
    if (i + 1 == lines.size() && !last_line_has_end) {
      require(reader.at_end() && !reader.failed(),
              "a last line without a line end reaches the end and does not fail");
      break;
    }
    require(!reader.at_end() && !reader.failed(),
            "a line with a line end sets no flag");
  }
  // Once a flag is set, every further call fails and reads nothing.
  const bool was_at_end = reader.at_end();
  buffer[0] = 'x';
  require(read_line(reader, buffer.get(), capacity, '\n') == 0 && buffer[0] == '\0' &&
              reader.failed() && reader.at_end() == was_at_end,
          "a read after a flag fails and changes nothing");
  reader.close();
}

// Splits an output file into its lines; each must end in CR LF.
std::vector<std::string> output_lines(const std::string& file) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t lf; (lf = file.find('\n', start)) != std::string::npos; start = lf + 1) {
    require(lf > start && file[lf - 1] == '\r', "every output line ends in CR LF");
    lines.push_back(file.substr(start, lf - 1 - start));
  }
  require(start == file.size(), "an output file ends with a line end");
  return lines;
}

std::string summary(std::size_t lines_in, std::size_t lines_out) {
  return "\r\nLines In: " + std::to_string(lines_in) + "\r\nLines Out: " +
         std::to_string(lines_out) + "\r\n\r\n";
}

void check_promises(const std::vector<std::string>& lines, const model::Outcome& run) {
  bool has_long_line = false;
  for (const std::string& line : lines) {
    if (line.size() > model::kLongestLine) has_long_line = true;
  }
  if (has_long_line) {
    const std::string_view err = run.standard_error;
    require(run.exit_status == 1, "a long line ends the run with status 1");
    require(err.starts_with("dedupe: infile.euc: line ") &&
                err.ends_with(" is longer than 1023 bytes\n"),
            "a long line ends the run with its message");
    require(run.standard_output.empty(), "a stopped run prints no summary");
    require(!run.outfile, "a stopped run does not write outfile.euc");
  }
  if (run.exit_status != 0) return;

  require(run.standard_error.empty(), "a complete run writes nothing to standard error");
  require(run.outfile && run.duplicates, "a complete run leaves both files");
  const std::vector<std::string> distinct = output_lines(*run.outfile);
  const std::vector<std::string> repeated = output_lines(*run.duplicates);
  for (std::size_t i = 0; i < distinct.size(); ++i) {
    require(!model::is_blank(distinct[i]), "outfile.euc holds no blank line");
    require(i == 0 || model::unsigned_less(distinct[i - 1], distinct[i]),
            "outfile.euc is strictly ascending in unsigned byte order");
  }
  const std::set<std::string> written(distinct.begin(), distinct.end());
  for (const std::string& line : repeated) {
    require(written.contains(line), "every repeated line is in outfile.euc");
  }
  std::set<std::string> read;
  for (const std::string& line : lines) read.insert(model::up_to_nul(line));
  for (const std::string& line : distinct) {
    require(read.contains(line), "every output line is an input line up to its NUL");
  }
  require(run.standard_output == summary(repeated.size() + distinct.size(), distinct.size()),
          "Lines In counts the repeated and the distinct lines, Lines Out the distinct");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string& folder = scratch_folder();

  const model::Outcome actual = run_in_folder(folder, input);
  const std::vector<std::string> lines = model::decode_lines(input);

  const std::string_view text = std::string_view(input).substr(0, input.find('\x1a'));
  const bool last_line_has_end = text.ends_with('\n');
  const std::string path = folder + "/infile.euc";
  check_reader(path, lines, last_line_has_end, 1024);
  // A small buffer reaches the full-buffer path on almost every input.
  check_reader(path, lines, last_line_has_end, 1 + size % 8);

  check_promises(lines, actual);

  const std::string difference = describe_difference(model::run(input), actual);
  if (!difference.empty()) {
    std::fprintf(stderr, "fuzz_dedupe: the run and the model differ on \"%s\":\n%s",
                 escaped(input).c_str(), difference.c_str());
    std::abort();
  }
  return 0;
}
