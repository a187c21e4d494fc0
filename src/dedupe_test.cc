// End-to-end tests: the built binary runs as a process in a fresh folder; the
// exit status, standard output, standard error and both files are compared
// byte for byte.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;  // exit status, or -signal when killed
  std::string out;
  std::string err;
};

// How the process is started.
struct Launch {
  std::optional<std::string> stdout_path;  // instead of a capture file
  rlim_t address_space_limit = 0;          // 0: no limit
  bool stdout_to_closed_pipe = false;
  bool stdin_and_stdout_closed = false;  // started without descriptors 0 and 1
  std::vector<std::string> arguments;
  std::string program = DEDUPE_BINARY;
  // Whether DEDUPE_TEST_WRAPPER may run the program (a tracer must not be).
  bool wrappable = true;
  // Called while the process runs, before waiting for it to end.
  std::function<void()> while_running;
};

// DEDUPE_TEST_WRAPPER holds a command, split at spaces, that runs each
// dedupe process, e.g. a memory checker. Empty when unset.
std::vector<std::string> wrapper_command() {
  std::vector<std::string> words;
  const char* wrapper = std::getenv("DEDUPE_TEST_WRAPPER");
  std::istringstream in(wrapper != nullptr ? wrapper : "");
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void spit(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string crlf_lines(std::initializer_list<std::string> lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\r\n";
  return text;
}

std::string summary(long long in, long long out) {
  return "\r\nLines In: " + std::to_string(in) + "\r\nLines Out: " +
         std::to_string(out) + "\r\n\r\n";
}

class DedupeTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = fs::temp_directory_path() / "dedupe_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    dir_ = root_ / "work";
    fs::create_directory(dir_);
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path in_dir(const char* name) const { return dir_ / name; }
  void write_input(const std::string& bytes) const { spit(in_dir("infile.euc"), bytes); }
  std::string file(const char* name) const { return slurp(in_dir(name)); }
  bool exists(const char* name) const {
    return fs::exists(fs::symlink_status(in_dir(name)));
  }

  Outcome run(const Launch& launch = {}) const {
    const fs::path out_path = launch.stdout_path.value_or(root_ / "stdout");
    const fs::path err_path = root_ / "stderr";
    int pipe_fds[2] = {-1, -1};
    if (launch.stdout_to_closed_pipe && pipe(pipe_fds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
      signal(SIGPIPE, SIG_DFL);
      if (chdir(dir_.c_str()) != 0) _exit(126);
      int out = launch.stdout_to_closed_pipe
                    ? pipe_fds[1]
                    : open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (launch.stdout_to_closed_pipe) close(pipe_fds[0]);
      const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out < 0 || err < 0) _exit(126);
      dup2(out, STDOUT_FILENO);
      dup2(err, STDERR_FILENO);
      if (launch.stdin_and_stdout_closed) {
        close(STDIN_FILENO);
        close(STDOUT_FILENO);
      }
      if (launch.address_space_limit != 0) {
        const rlimit limit{launch.address_space_limit, launch.address_space_limit};
        setrlimit(RLIMIT_AS, &limit);
      }
      std::vector<std::string> words;
      if (launch.wrappable) words = wrapper_command();
      words.push_back(launch.program);
      words.insert(words.end(), launch.arguments.begin(), launch.arguments.end());
      std::vector<char*> argv;
      for (auto& word : words) argv.push_back(word.data());
      argv.push_back(nullptr);
      execvp(argv[0], argv.data());
      _exit(127);
    }
    if (launch.stdout_to_closed_pipe) {
      close(pipe_fds[0]);
      close(pipe_fds[1]);
    }
    if (launch.while_running) launch.while_running();
    int status = 0;
    waitpid(pid, &status, 0);
    Outcome outcome;
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    if (!launch.stdout_path && !launch.stdout_to_closed_pipe) outcome.out = slurp(out_path);
    outcome.err = slurp(err_path);
    return outcome;
  }

  fs::path root_;
  fs::path dir_;
};

// ---------------------------------------------------------------------------
// Complete runs: the input, then what both files and the summary must hold.

struct RunCase {
  const char* name;
  std::string input;
  std::string outfile;
  std::string duplicates;
  long long lines_in;
  long long lines_out;
};

const std::string k1023a(1023, 'a');
const std::string k1023b(1023, 'b');

const RunCase kRunCases[] = {
    {"main_path", crlf_lines({"b", "a", "b", "c", "b"}), crlf_lines({"a", "b", "c"}),
     crlf_lines({"b", "b"}), 5, 3},
    {"empty_input", "", "", "", 0, 0},
    {"only_blank_lines",
     crlf_lines({"", " ", "\t \t", "\r", "\v\f", "\x81\x40", " \x81\x40\t\x81\x40"}), "", "", 0, 0},
    {"blank_lines_are_skipped", crlf_lines({"", "x", "  ", "x", "\x81\x40"}), crlf_lines({"x"}),
     crlf_lines({"x"}), 2, 1},
    {"trailing_space_and_case_are_distinct", crlf_lines({"a", "a ", "A", " a", "a"}),
     crlf_lines({" a", "A", "a", "a "}), crlf_lines({"a"}), 5, 4},
    {"unsigned_byte_order", crlf_lines({"b", "\x81\x41", "ab", "\x80", "a", "B", "\x7f", "a\xff"}),
     crlf_lines({"B", "a", "ab", "a\xff", "b", "\x7f", "\x80", "\x81\x41"}), "", 8, 8},
    {"double_byte_text_that_is_not_blank", crlf_lines({"\x81\x41", "\x82\x40", "\x81", "\x81\x40\x81"}),
     crlf_lines({"\x81", "\x81\x40\x81", "\x81\x41", "\x82\x40"}), "", 4, 4},
    {"nul_cuts_the_line", std::string("ab\0cd\r\nab\r\n\0zz\r\n \0q\r\n", 20),
     crlf_lines({"ab"}), crlf_lines({"ab"}), 2, 1},
    {"lone_cr_is_part_of_the_line", "a\rb\r\na\rb\r\n", "a\rb\r\n", "a\rb\r\n", 2, 1},
    {"cr_cr_lf_keeps_one_cr", "abc\r\r\nabc\r\n", "abc\r\nabc\r\r\n", "", 2, 2},
    {"last_byte_cr", "x\r\na\r", "a\r\r\nx\r\n", "", 2, 2},
    {"bare_lf_ends_lines_too", "b\na\nb\n", "a\r\nb\r\n", "b\r\n", 3, 2},
    {"ctrl_z_ends_the_data", "b\r\na\x1a" "b\r\nc\r\n", "a\r\nb\r\n", "", 2, 2},
    {"ctrl_z_at_the_start", "\x1a" "a\r\n", "", "", 0, 0},
    {"unterminated_last_line", "abc", "abc\r\n", "", 1, 1},
    {"unterminated_repeat", "a\r\nb\r\na", "a\r\nb\r\n", "a\r\n", 3, 2},
    {"unterminated_blank_line", "a\r\n  ", "a\r\n", "", 1, 1},
    {"lines_of_1023_bytes", k1023a + "\r\n" + k1023b + "\r\n" + k1023a + "\r\n" + k1023b,
     k1023a + "\r\n" + k1023b + "\r\n", k1023a + "\r\n" + k1023b + "\r\n", 4, 2},
    // The CR of a CR LF pair does not count towards the length.
    {"1022_bytes_and_lone_cr", std::string(1022, 'a') + "\r\r\n",
     std::string(1022, 'a') + "\r\r\n", "", 1, 1},
};

void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

class CompleteRun : public DedupeTest, public testing::WithParamInterface<RunCase> {};

TEST_P(CompleteRun, WritesFilesAndSummary) {
  const RunCase& c = GetParam();
  write_input(c.input);
  const Outcome outcome = run();
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, summary(c.lines_in, c.lines_out));
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(file("outfile.euc"), c.outfile);
  EXPECT_EQ(file("duplicates.euc"), c.duplicates);
  EXPECT_EQ(file("infile.euc"), c.input) << "the input is never changed";
}

INSTANTIATE_TEST_SUITE_P(Table, CompleteRun, testing::ValuesIn(kRunCases),
                         [](const auto& info) { return info.param.name; });

TEST_F(DedupeTest, IgnoresArgumentsAndTruncatesOldOutputs) {
  write_input(crlf_lines({"b", "a", "b"}));
  spit(in_dir("outfile.euc"), "old output that is longer than the new one\r\n");
  spit(in_dir("duplicates.euc"), "old duplicates that are longer\r\n");
  Launch launch;
  launch.arguments = {"--help", "-o", "other.euc", "infile.euc"};
  const Outcome outcome = run(launch);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, summary(3, 2));
  EXPECT_EQ(file("outfile.euc"), crlf_lines({"a", "b"}));
  EXPECT_EQ(file("duplicates.euc"), crlf_lines({"b"}));
  EXPECT_FALSE(exists("other.euc"));
}

TEST_F(DedupeTest, NewFilesGetUsualPermissions) {
  write_input("a\r\n");
  const mode_t old_mask = umask(027);
  const Outcome outcome = run();
  umask(old_mask);
  ASSERT_EQ(outcome.status, 0);
  for (const char* name : {"outfile.euc", "duplicates.euc"}) {
    EXPECT_EQ(fs::status(in_dir(name)).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read)
        << name;
  }
}

// Every output line, and every summary line, reaches the system on its own,
// in exactly one write call holding the line and its CR LF.
TEST_F(DedupeTest, EachLineIsOneWriteCall) {
  write_input(crlf_lines({"b", "a", "", "b", "c", "b"}));
  Launch launch;
  launch.program = "/usr/bin/strace";
  launch.wrappable = false;
  const fs::path trace = root_ / "trace";
  launch.arguments = {"-e", "trace=write", "-e", "signal=none", "-qq", "-xx", "-y",
                      "-o", trace.string(), DEDUPE_BINARY};
  const Outcome outcome = run(launch);
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  ASSERT_EQ(outcome.out, summary(5, 3));
  // With -xx -y every traced line reads
  //   write(4<\x2f...\x63>, "\x62\x0d\x0a", 3) = 3
  // with the path and the data as hexadecimal escapes.
  const auto unescape = [](const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 3 < hex.size() + 1; i += 4) {
      bytes += static_cast<char>(std::stoi(hex.substr(i + 2, 2), nullptr, 16));
    }
    return bytes;
  };
  std::vector<std::string> writes;
  std::ifstream in(trace);
  for (std::string line; std::getline(in, line);) {
    const std::size_t open = line.find('<'), close = line.find(">, \"");
    if (line.rfind("write(", 0) != 0 || open == std::string::npos || close == std::string::npos) {
      continue;
    }
    const std::string path = unescape(line.substr(open + 1, close - open - 1));
    const std::size_t data_end = line.find('"', close + 4);
    writes.push_back(fs::path(path).filename().string() + " " +
                     unescape(line.substr(close + 4, data_end - close - 4)));
  }
  const std::vector<std::string> expected = {
      "duplicates.euc b\r\n", "duplicates.euc b\r\n",
      "outfile.euc a\r\n",    "outfile.euc b\r\n",
      "outfile.euc c\r\n",    "stdout \r\n",
      "stdout Lines In: 5\r\n", "stdout Lines Out: 3\r\n",
      "stdout \r\n",
  };
  EXPECT_EQ(writes, expected);
}

// A repetition is logged the moment it is met, not when more input happens to
// arrive: fed through a pipe that then pauses, the run must have written the
// repetition before it waits for the next line.
TEST_F(DedupeTest, RepeatIsLoggedBeforeWaitingForMoreInput) {
  ASSERT_EQ(mkfifo(in_dir("infile.euc").c_str(), 0644), 0);
  bool logged_while_paused = false;
  Launch launch;
  launch.while_running = [&] {
    const int fifo = open(in_dir("infile.euc").c_str(), O_WRONLY);
    ASSERT_GE(fifo, 0);
    const std::string first = crlf_lines({"a", "b", "a"});
    ASSERT_EQ(write(fifo, first.data(), first.size()), static_cast<ssize_t>(first.size()));
    for (int waited_ms = 0; waited_ms < 20000 && !logged_while_paused; waited_ms += 10) {
      logged_while_paused = file("duplicates.euc") == crlf_lines({"a"});
      if (!logged_while_paused) usleep(10000);
    }
    const std::string rest = crlf_lines({"b", "c"});
    ASSERT_EQ(write(fifo, rest.data(), rest.size()), static_cast<ssize_t>(rest.size()));
    close(fifo);
  };
  const Outcome outcome = run(launch);
  EXPECT_TRUE(logged_while_paused);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, summary(5, 3));
  EXPECT_EQ(file("duplicates.euc"), crlf_lines({"a", "b"}));
  EXPECT_EQ(file("outfile.euc"), crlf_lines({"a", "b", "c"}));
}

// ---------------------------------------------------------------------------
// Lines longer than 1023 bytes stop the run.

struct LongLineCase {
  const char* name;
  std::string input;
  int line_number;
  std::string duplicates;  // what was logged before the long line
};

const std::string k1024(1024, 'x');

const LongLineCase kLongLineCases[] = {
    {"first_line", k1024 + "\r\na\r\n", 1, ""},
    {"after_repeats", crlf_lines({"a", "a", "b"}) + k1024 + "\r\n" + crlf_lines({"b"}), 4,
     crlf_lines({"a"})},
    {"unterminated", "a\r\n" + k1024, 2, ""},
    {"blank_lines_are_numbered", crlf_lines({"", " ", "a"}) + k1024 + "\r\n", 4, ""},
    {"long_blank_line", "a\r\n" + std::string(1024, ' ') + "\r\n", 2, ""},
    {"long_line_led_by_nul", "a\r\n" + std::string(1, '\0') + k1024 + "\r\n", 2, ""},
    {"1023_bytes_and_lone_cr", "a\r\n" + std::string(1023, 'a') + "\r\r\n", 2, ""},
    {"very_long_line", "a\r\na\r\n" + std::string(100000, 'y') + "\r\n", 3, crlf_lines({"a"})},
};

void PrintTo(const LongLineCase& c, std::ostream* os) { *os << c.name; }

class LongLine : public DedupeTest, public testing::WithParamInterface<LongLineCase> {};

TEST_P(LongLine, StopsWithTheLineNumber) {
  const LongLineCase& c = GetParam();
  write_input(c.input);
  spit(in_dir("outfile.euc"), "earlier output\r\n");
  const Outcome outcome = run();
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, "dedupe: infile.euc: line " + std::to_string(c.line_number) +
                             " is longer than 1023 bytes\n");
  EXPECT_EQ(file("duplicates.euc"), c.duplicates);
  EXPECT_EQ(file("outfile.euc"), "earlier output\r\n") << "never opened";
}

INSTANTIATE_TEST_SUITE_P(Table, LongLine, testing::ValuesIn(kLongLineCases),
                         [](const auto& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// Files that cannot be opened: exit status 1 and nothing printed.

TEST_F(DedupeTest, MissingInputChangesNothing) {
  spit(in_dir("outfile.euc"), "keep me\r\n");
  spit(in_dir("duplicates.euc"), "keep me too\r\n");
  const Outcome outcome = run();
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(file("outfile.euc"), "keep me\r\n");
  EXPECT_EQ(file("duplicates.euc"), "keep me too\r\n");
}

TEST_F(DedupeTest, MissingInputCreatesNothing) {
  const Outcome outcome = run();
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out + outcome.err, "");
  EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(DedupeTest, InputThatIsADirectoryCountsAsMissing) {
  fs::create_directory(in_dir("infile.euc"));
  const Outcome outcome = run();
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out + outcome.err, "");
  EXPECT_FALSE(exists("duplicates.euc"));
  EXPECT_FALSE(exists("outfile.euc"));
}

TEST_F(DedupeTest, DuplicatesThatIsADirectory) {
  write_input(crlf_lines({"a", "a"}));
  fs::create_directory(in_dir("duplicates.euc"));
  const Outcome outcome = run();
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out + outcome.err, "");
  EXPECT_FALSE(exists("outfile.euc"));
  EXPECT_TRUE(fs::is_empty(in_dir("duplicates.euc")));
}

TEST_F(DedupeTest, OutfileThatIsADirectoryLeavesCompleteDuplicates) {
  write_input(crlf_lines({"a", "b", "a", "a"}));
  fs::create_directory(in_dir("outfile.euc"));
  const Outcome outcome = run();
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out + outcome.err, "");
  EXPECT_EQ(file("duplicates.euc"), crlf_lines({"a", "a"}));
}

TEST_F(DedupeTest, OutfileBehindALinkIntoAMissingFolder) {
  write_input(crlf_lines({"a", "a"}));
  fs::create_symlink(root_ / "no such folder" / "out", in_dir("outfile.euc"));
  const Outcome outcome = run();
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out + outcome.err, "");
  EXPECT_EQ(file("duplicates.euc"), crlf_lines({"a"}));
}

// A dangling link as an output is followed, as by any Unix tool: the file
// it names is created.
TEST_F(DedupeTest, DanglingLinksAsOutputsCreateTheirTargets) {
  write_input(crlf_lines({"b", "a", "b"}));
  fs::create_symlink("made-out.euc", in_dir("outfile.euc"));
  fs::create_symlink("made-dup.euc", in_dir("duplicates.euc"));
  const Outcome outcome = run();
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(file("made-out.euc"), crlf_lines({"a", "b"}));
  EXPECT_EQ(file("made-dup.euc"), crlf_lines({"b"}));
}

// ---------------------------------------------------------------------------
// Write and read failures end the run with a message.

TEST_F(DedupeTest, FullDiskOnDuplicates) {
  write_input(crlf_lines({"a", "b", "a", "c"}));
  spit(in_dir("outfile.euc"), "earlier output\r\n");
  fs::create_symlink("/dev/full", in_dir("duplicates.euc"));
  const Outcome outcome = run();
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, "dedupe: duplicates.euc: No space left on device\n");
  EXPECT_EQ(file("outfile.euc"), "earlier output\r\n");
}

TEST_F(DedupeTest, FullDiskOnDuplicatesWithoutRepeatsIsNoFailure) {
  write_input(crlf_lines({"a", "b"}));
  fs::create_symlink("/dev/full", in_dir("duplicates.euc"));
  const Outcome outcome = run();
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, summary(2, 2));
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(file("outfile.euc"), crlf_lines({"a", "b"}));
}

TEST_F(DedupeTest, FullDiskOnOutfile) {
  write_input(crlf_lines({"a", "b", "a"}));
  fs::create_symlink("/dev/full", in_dir("outfile.euc"));
  const Outcome outcome = run();
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, "dedupe: outfile.euc: No space left on device\n");
  EXPECT_EQ(file("duplicates.euc"), crlf_lines({"a"}));
}

TEST_F(DedupeTest, FullDiskOnStandardOutput) {
  write_input(crlf_lines({"a", "b", "a"}));
  Launch launch;
  launch.stdout_path = "/dev/full";
  const Outcome outcome = run(launch);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "dedupe: standard output: No space left on device\n");
  EXPECT_EQ(file("outfile.euc"), crlf_lines({"a", "b"}));
  EXPECT_EQ(file("duplicates.euc"), crlf_lines({"a"}));
}

TEST_F(DedupeTest, ClosedPipeOnStandardOutputEndsBySignal) {
  write_input(crlf_lines({"a"}));
  Launch launch;
  launch.stdout_to_closed_pipe = true;
  const Outcome outcome = run(launch);
  EXPECT_EQ(outcome.status, -SIGPIPE);
  EXPECT_EQ(file("outfile.euc"), crlf_lines({"a"}));
}

// Started without standard input and output, the input would take
// descriptor 0 and "duplicates.euc" descriptor 1, and the summary would land
// in "duplicates.euc" with exit status 0. It must fail instead.
TEST_F(DedupeTest, ClosedStandardOutputIsAFailureNotAFile) {
  write_input(crlf_lines({"b", "a", "b"}));
  Launch launch;
  launch.stdin_and_stdout_closed = true;
  const Outcome outcome = run(launch);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "dedupe: standard output: Bad file descriptor\n");
  EXPECT_EQ(file("outfile.euc"), crlf_lines({"a", "b"}));
  EXPECT_EQ(file("duplicates.euc"), crlf_lines({"b"}));
}

TEST_F(DedupeTest, ReadErrorIsNotTheEndOfTheData) {
  fs::create_symlink("/proc/self/mem", in_dir("infile.euc"));
  spit(in_dir("outfile.euc"), "earlier output\r\n");
  const Outcome outcome = run();
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, "dedupe: infile.euc: Input/output error\n");
  EXPECT_EQ(file("outfile.euc"), "earlier output\r\n");
  EXPECT_EQ(file("duplicates.euc"), "");
}

TEST_F(DedupeTest, RunningOutOfMemory) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves far more address space than any limit";
#endif
  if (!wrapper_command().empty()) {
    GTEST_SKIP() << "DEDUPE_TEST_WRAPPER is set: the address space limit would bind the "
                    "wrapper, not dedupe";
  }
  // 64 MiB of distinct lines cannot be held in 48 MiB of address space.
  std::string input;
  for (int i = 0; input.size() < (64u << 20); ++i) {
    input += std::to_string(i) + " a line long enough to fill memory quickly" + "\r\n";
  }
  write_input(input);
  spit(in_dir("outfile.euc"), "earlier output\r\n");
  Launch launch;
  launch.address_space_limit = 48u << 20;
  const Outcome outcome = run(launch);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, "dedupe: out of memory\n");
  EXPECT_EQ(file("outfile.euc"), "earlier output\r\n");
}

// ---------------------------------------------------------------------------
// No output may destroy the input or the other output.

enum class LinkKind { kHard, kSymbolic };

// Each case runs once with a hard link and once with a symbolic link.
class LinkedFiles : public DedupeTest, public testing::WithParamInterface<LinkKind> {
 protected:
  // Makes `name` a second name for the file `target`, both in the folder.
  void link(const char* target, const char* name) const {
    if (GetParam() == LinkKind::kHard) fs::create_hard_link(in_dir(target), in_dir(name));
    else fs::create_symlink(target, in_dir(name));
  }
};

TEST_P(LinkedFiles, DuplicatesThatIsTheInputIsRefused) {
  const std::string input = crlf_lines({"a", "a"});
  write_input(input);
  link("infile.euc", "duplicates.euc");
  const Outcome outcome = run();
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, "dedupe: duplicates.euc: is the same file as infile.euc\n");
  EXPECT_EQ(file("infile.euc"), input);
  EXPECT_FALSE(exists("outfile.euc"));
}

TEST_P(LinkedFiles, OutfileThatIsTheDuplicatesIsRefused) {
  write_input(crlf_lines({"b", "a", "b"}));
  spit(in_dir("duplicates.euc"), "");
  link("duplicates.euc", "outfile.euc");
  const Outcome outcome = run();
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, "dedupe: outfile.euc: is the same file as duplicates.euc\n");
  EXPECT_EQ(file("duplicates.euc"), crlf_lines({"b"}));
}

// The input is closed before the output is opened, so sorting a file onto
// itself works.
TEST_P(LinkedFiles, OutfileMayBeTheInput) {
  write_input(crlf_lines({"b", "a", "b"}));
  link("infile.euc", "outfile.euc");
  const Outcome outcome = run();
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, summary(3, 2));
  EXPECT_EQ(file("infile.euc"), crlf_lines({"a", "b"}));
  EXPECT_EQ(file("duplicates.euc"), crlf_lines({"b"}));
}

INSTANTIATE_TEST_SUITE_P(Links, LinkedFiles, testing::Values(LinkKind::kHard, LinkKind::kSymbolic),
                         [](const auto& info) {
                           return info.param == LinkKind::kHard ? "hard" : "symbolic";
                         });

}  // namespace
