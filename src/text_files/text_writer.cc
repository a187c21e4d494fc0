#include "text_files/text_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace {

// Beyond this many pending bytes a write hands them on by itself, so that a
// caller that never flushes still writes in bounded memory.
constexpr std::size_t kFlushThreshold = 64 * 1024;

}  // namespace

TextWriter TextWriter::standard_output(int fd) {
  return TextWriter(fd, "standard output");
}

TextWriter::~TextWriter() { close(); }

TextWriter::TextWriter(TextWriter&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      owns_fd_(std::exchange(other.owns_fd_, false)),
      error_(other.error_),
      name_(std::move(other.name_)),
      pending_(std::move(other.pending_)) {}

bool TextWriter::open(const char* name) {
  close();
  const int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  fd_ = fd;
  owns_fd_ = true;
  error_ = 0;
  name_ = name;
  pending_.clear();
  return true;
}

void TextWriter::write(std::string_view bytes) {
  if (error_ != 0) return;
  while (!bytes.empty()) {
    const std::size_t lf = bytes.find('\n');
    if (lf == std::string_view::npos) {
      pending_.append(bytes);
      break;
    }
    pending_.append(bytes.data(), lf);
    pending_.append("\r\n");
    bytes.remove_prefix(lf + 1);
  }
  if (pending_.size() >= kFlushThreshold) flush();
}

bool TextWriter::flush() {
  if (error_ != 0) return false;
  if (fd_ < 0) {
    error_ = EBADF;
    return false;
  }
  const char* data = pending_.data();
  std::size_t left = pending_.size();
  while (left > 0) {
    const ssize_t n = ::write(fd_, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      error_ = errno;
      pending_.clear();
      return false;
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  pending_.clear();
  return true;
}

bool TextWriter::close() {
  if (fd_ < 0) return error_ == 0;
  const bool flushed = flush();
  const int fd = std::exchange(fd_, -1);
  if (!std::exchange(owns_fd_, false)) return flushed;
  if (::close(fd) != 0 && flushed) {
    error_ = errno;
    return false;
  }
  return flushed;
}
