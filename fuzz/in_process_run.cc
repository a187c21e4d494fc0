#include "in_process_run.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <system_error>

#include "run.h"

namespace {

[[noreturn]] void fail(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

void write_all(int fd, std::string_view bytes, const char* what) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail(what);
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

std::string read_all(int fd, const char* what) {
  std::string bytes;
  char block[65536];
  for (;;) {
    const ssize_t n = ::read(fd, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail(what);
    if (n == 0) return bytes;
    bytes.append(block, static_cast<std::size_t>(n));
  }
}

// The file's bytes, or nullopt when there is no such file.
std::optional<std::string> read_file(const char* name) {
  const int fd = ::open(name, O_RDONLY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) return std::nullopt;
  if (fd < 0) fail(name);
  std::string bytes = read_all(fd, name);
  ::close(fd);
  return bytes;
}

void remove_file(const char* name) {
  if (::unlink(name) != 0 && errno != ENOENT) fail(name);
}

// A descriptor that is closed whatever way the scope ends.
struct Descriptor {
  explicit Descriptor(int fd) : fd(fd) {}
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int fd;
};

std::string captured(const Descriptor& file, const char* what) {
  if (::lseek(file.fd, 0, SEEK_SET) != 0) fail(what);
  return read_all(file.fd, what);
}

model::Outcome run_here(std::string_view infile) {
  remove_file("duplicates.euc");
  remove_file("outfile.euc");
  {
    const Descriptor input(
        ::open("infile.euc", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (input.fd < 0) fail("infile.euc");
    write_all(input.fd, infile, "infile.euc");
  }
  const Descriptor out(::memfd_create("standard output", MFD_CLOEXEC));
  const Descriptor err(::memfd_create("standard error", MFD_CLOEXEC));
  if (out.fd < 0 || err.fd < 0) fail("memfd_create");

  model::Outcome outcome;
  outcome.exit_status = run_dedupe(out.fd, err.fd);
  outcome.standard_output = captured(out, "standard output");
  outcome.standard_error = captured(err, "standard error");
  outcome.duplicates = read_file("duplicates.euc");
  outcome.outfile = read_file("outfile.euc");
  return outcome;
}

std::string difference(const char* part, const std::optional<std::string>& expected,
                       const std::optional<std::string>& actual) {
  if (expected == actual) return "";
  if (!expected || !actual) {
    return std::string(part) + (expected ? ": expected a file, found none"
                                         : ": expected no file, found one");
  }
  const auto [e, a] = std::mismatch(expected->begin(), expected->end(),
                                    actual->begin(), actual->end());
  const std::size_t at = e - expected->begin();
  const std::size_t from = at < 20 ? 0 : at - 20;
  const auto around = [&](const std::string& s) {
    std::string quoted = "\"";
    quoted += escaped(std::string_view(s).substr(std::min(from, s.size()), 60));
    quoted += '"';
    return quoted;
  };
  return std::string(part) + " differs at byte " + std::to_string(at) +
         " (sizes " + std::to_string(expected->size()) + " and " +
         std::to_string(actual->size()) + "), from byte " + std::to_string(from) +
         ":\n  expected " + around(*expected) + "\n  actual   " + around(*actual);
}

}  // namespace

model::Outcome run_in_folder(const std::string& folder, std::string_view infile) {
  const Descriptor old_folder(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (old_folder.fd < 0) fail("the current folder");
  if (::chdir(folder.c_str()) != 0) fail(folder);
  // Back to the old folder on every way out, exceptions included. Going on
  // in the wrong folder would only produce confusing failures later.
  struct Return {
    int fd;
    ~Return() {
      if (::fchdir(fd) != 0) std::abort();
    }
  } back{old_folder.fd};
  return run_here(infile);
}

std::string escaped(std::string_view bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (const char c : bytes) {
    const unsigned char b = c;
    if (b >= 0x20 && b < 0x7f && b != '\\') {
      text += c;
    } else {
      text += "\\x";
      text += kHex[b >> 4];
      text += kHex[b & 15];
    }
  }
  return text;
}

std::string describe_difference(const model::Outcome& expected,
                                 const model::Outcome& actual) {
  std::string text;
  if (expected.exit_status != actual.exit_status) {
    text += "exit status: expected " + std::to_string(expected.exit_status) +
            ", actual " + std::to_string(actual.exit_status) + "\n";
  }
  const std::string parts[] = {
      difference("standard output", expected.standard_output, actual.standard_output),
      difference("standard error", expected.standard_error, actual.standard_error),
      difference("duplicates.euc", expected.duplicates, actual.duplicates),
      difference("outfile.euc", expected.outfile, actual.outfile),
  };
  for (const std::string& part : parts) {
    if (!part.empty()) text += part + "\n";
  }
  return text;
}
