// Crash tests: dedupe is killed with SIGKILL at many moments of a long run.
// Each output line reaches the system in one write call of its own, so
// whatever a killed run leaves behind must be a start of the complete
// output, cut at a line end, and the input must be untouched.
//
// One cut inside a line is the kernel's, not the tool's: Linux copies a
// write into a regular file page by page and stops between two pages when
// the process is being killed, so a line that straddles a page boundary can
// be cut exactly there. A cut anywhere else (a line written in two calls,
// say) is a fault.
//
// The kills are placed by what the run has visibly done (the size an output
// has reached) as well as by delays scaled to a measured complete run, so
// that they land in both phases even on a slow or busy machine.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr char kInput[] = "infile.euc";
constexpr char kDuplicates[] = "duplicates.euc";
constexpr char kOutfile[] = "outfile.euc";

// A killed run is never left waiting longer than this; a complete run takes
// about a second.
constexpr auto kHungRun = std::chrono::seconds(60);
constexpr auto kPollInterval = std::chrono::microseconds(100);

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void spit(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// About 200,000 lines over 75,000 distinct ones, so that both outputs are
// long: every repeat is a write to duplicates.euc while the input is read,
// every distinct line a write to outfile.euc afterwards. Lengths vary so that
// lines straddle page boundaries; some lines are blank, some hold bytes
// above 0x7f.
std::string make_input() {
  std::string text;
  std::uint64_t state = 0x2545f4914f6cdd1d;
  for (int i = 0; i < 200000; ++i) {
    if (i % 997 == 0) text += " \t\r\n";
    state = state * 6364136223846793005u + 1442695040888963407u;
    const unsigned key = static_cast<unsigned>(state >> 33) % 75000;
    text += "line " + std::to_string(key) + ' ' +
            std::string(key % 61, static_cast<char>('a' + key % 26));
    if (key % 7 == 0) text += "\x82\xa0";
    text += "\r\n";
  }
  return text;
}

// `left` must be the complete contents up to some line end (or nothing), or
// up to a page boundary inside the line being written when the kill came.
// Output lines never hold an LF, so every LF in `complete` ends a line.
testing::AssertionResult IsWholeLinePrefix(const std::string& left,
                                           const std::string& complete) {
  if (left.size() > complete.size()) {
    return testing::AssertionFailure() << "holds " << left.size()
                                       << " bytes, more than the complete "
                                       << complete.size();
  }
  const auto [at, ignored] = std::mismatch(left.begin(), left.end(), complete.begin());
  if (at != left.end()) {
    return testing::AssertionFailure()
           << "differs from the complete contents at byte " << (at - left.begin());
  }
  static const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  if (!left.empty() && left.back() != '\n' && left.size() % page != 0) {
    return testing::AssertionFailure()
           << "ends inside a line after " << left.size() << " bytes";
  }
  return testing::AssertionSuccess();
}

enum class Trigger {
  kDelay,           // after `fraction` of the time a complete run took
  kDuplicatesSize,  // once duplicates.euc holds `fraction` of its bytes
  kOutfileSize,     // once outfile.euc exists and holds `fraction` of its bytes
};

struct KillMoment {
  Trigger trigger;
  double fraction;
};

const char* describe(Trigger trigger) {
  switch (trigger) {
    case Trigger::kDelay: return "delay";
    case Trigger::kDuplicatesSize: return "duplicates size";
    case Trigger::kOutfileSize: return "outfile size";
  }
  return "?";
}

const KillMoment kMoments[] = {
    {Trigger::kDelay, 0.0},           {Trigger::kDelay, 0.3},
    {Trigger::kDelay, 0.6},           {Trigger::kDelay, 0.9},
    {Trigger::kDuplicatesSize, 0.01}, {Trigger::kDuplicatesSize, 0.5},
    {Trigger::kDuplicatesSize, 0.99}, {Trigger::kOutfileSize, 0.0},
    {Trigger::kOutfileSize, 0.01},    {Trigger::kOutfileSize, 0.5},
    {Trigger::kOutfileSize, 0.99},
};

// How far a file got, measured against its complete contents.
enum class Progress { kAbsent, kPartial, kComplete };

class CrashTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = fs::temp_directory_path() / "dedupe_crash.XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  pid_t start() const {
    const pid_t pid = fork();
    if (pid == 0) {
      const int null = open("/dev/null", O_WRONLY);
      if (chdir(dir_.c_str()) != 0 || null < 0) _exit(126);
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
      execl(DEDUPE_BINARY, DEDUPE_BINARY, static_cast<char*>(nullptr));
      _exit(127);
    }
    return pid;
  }

  // The size of the file, or -1 while it does not exist.
  off_t size_of(const char* name) const {
    struct stat st;
    return stat((dir_ / name).c_str(), &st) == 0 ? st.st_size : -1;
  }

  bool reached(const KillMoment& moment, Clock::time_point started) const {
    switch (moment.trigger) {
      case Trigger::kDelay:
        return Clock::now() - started >= moment.fraction * complete_time_;
      case Trigger::kDuplicatesSize:
        return size_of(kDuplicates) >= moment.fraction * complete_duplicates_.size();
      case Trigger::kOutfileSize:
        return size_of(kOutfile) >= 0 &&
               size_of(kOutfile) >= moment.fraction * complete_outfile_.size();
    }
    return false;
  }

  // Starts a run and kills it at `moment`. False when the run ended by
  // itself first (the moment was missed) or hung.
  bool run_and_kill(const KillMoment& moment) const {
    fs::remove(dir_ / kDuplicates);
    fs::remove(dir_ / kOutfile);
    const Clock::time_point started = Clock::now();
    const pid_t pid = start();
    int status = 0;
    while (!reached(moment, started)) {
      if (waitpid(pid, &status, WNOHANG) == pid) return false;
      if (Clock::now() - started > kHungRun) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "the run hung";
        return false;
      }
      std::this_thread::sleep_for(kPollInterval);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  }

  Progress progress(const char* name, const std::string& complete) const {
    const off_t size = size_of(name);
    if (size < 0) return Progress::kAbsent;
    return static_cast<std::size_t>(size) == complete.size() ? Progress::kComplete
                                                             : Progress::kPartial;
  }

  fs::path dir_;
  std::string complete_duplicates_;
  std::string complete_outfile_;
  std::chrono::duration<double> complete_time_{};
};

TEST_F(CrashTest, KilledRunsLeaveWholeLinesAndTheInputIntact) {
  const std::string input = make_input();
  spit(dir_ / kInput, input);

  const Clock::time_point started = Clock::now();
  int status = 0;
  waitpid(start(), &status, 0);
  complete_time_ = Clock::now() - started;
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the complete run failed";
  complete_duplicates_ = slurp(dir_ / kDuplicates);
  complete_outfile_ = slurp(dir_ / kOutfile);
  ASSERT_GT(complete_duplicates_.size(), 1u << 20);
  ASSERT_GT(complete_outfile_.size(), 1u << 20);

  int killed_while_collecting = 0;  // partial duplicates.euc, no outfile.euc
  int killed_while_writing = 0;     // complete duplicates.euc, partial outfile.euc
  std::string log;                  // what each kill left, shown at the end
  const auto kill_at = [&](const KillMoment& moment) {
    const bool killed = run_and_kill(moment);
    const Progress duplicates = progress(kDuplicates, complete_duplicates_);
    const Progress outfile = progress(kOutfile, complete_outfile_);
    const std::string row = std::string(describe(moment.trigger)) + " " +
                            std::to_string(moment.fraction) +
                            (killed ? ": killed" : ": missed") + ", duplicates.euc " +
                            std::to_string(size_of(kDuplicates)) + ", outfile.euc " +
                            std::to_string(size_of(kOutfile)) + "\n";
    log += row;
    if (killed && duplicates == Progress::kPartial && outfile == Progress::kAbsent) {
      ++killed_while_collecting;
    }
    if (killed && duplicates == Progress::kComplete && outfile == Progress::kPartial) {
      ++killed_while_writing;
    }
    // The outfile is only opened once the input is read in full.
    if (outfile != Progress::kAbsent) {
      EXPECT_EQ(duplicates, Progress::kComplete) << row;
    }
    if (duplicates != Progress::kAbsent) {
      EXPECT_TRUE(IsWholeLinePrefix(slurp(dir_ / kDuplicates), complete_duplicates_))
          << kDuplicates << " after " << row;
    }
    if (outfile != Progress::kAbsent) {
      EXPECT_TRUE(IsWholeLinePrefix(slurp(dir_ / kOutfile), complete_outfile_))
          << kOutfile << " after " << row;
    }
    EXPECT_TRUE(slurp(dir_ / kInput) == input) << "the input changed after " << row;
  };

  for (const KillMoment& moment : kMoments) kill_at(moment);
  // A very busy machine may let a run slip past its moment; aim again.
  for (int extra = 0; extra < 5 && killed_while_collecting == 0; ++extra) {
    kill_at({Trigger::kDuplicatesSize, 0.3});
  }
  for (int extra = 0; extra < 5 && killed_while_writing == 0; ++extra) {
    kill_at({Trigger::kOutfileSize, 0.3});
  }
  EXPECT_GT(killed_while_collecting, 0) << "no kill landed while the input was read\n" << log;
  EXPECT_GT(killed_while_writing, 0) << "no kill landed while outfile.euc was written\n" << log;

  // A run after a crash starts both outputs afresh.
  waitpid(start(), &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(slurp(dir_ / kDuplicates) == complete_duplicates_);
  EXPECT_TRUE(slurp(dir_ / kOutfile) == complete_outfile_);
  std::cout << log;
}

}  // namespace
