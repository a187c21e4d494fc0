#include "text_files/text_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Large blocks keep the number of read calls small; the reader's memory stays
// the same whatever the size of the file.
constexpr std::size_t kBlockSize = 256 * 1024;
constexpr char kEndOfData = 0x1A;

// Moves [from, to) down to `out` and returns the end of the moved bytes.
char* move_down(char* out, const char* from, const char* to) {
  const std::size_t n = to - from;
  if (out != from) std::memmove(out, from, n);
  return out + n;
}

// Turns every CR LF in [begin, end) into LF, in place, and returns the new
// end. A CR that is not followed by LF is data and stays; the caller holds
// back a CR that ends a block until it knows the byte after it.
char* decode_line_ends(char* begin, char* end) {
  char* out = begin;
  char* rest = begin;
  while (auto* cr = static_cast<char*>(std::memchr(rest, '\r', end - rest))) {
    const bool pair = cr + 1 != end && cr[1] == '\n';
    out = move_down(out, rest, pair ? cr : cr + 1);
    rest = cr + 1;
  }
  return move_down(out, rest, end);
}

}  // namespace

TextReader::TextReader() = default;

TextReader::~TextReader() { close(); }

bool TextReader::open(const char* name) {
  close();
  const int fd = ::open(name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    // A directory opens on Linux but holds no lines: it is not a text file.
    const int reason = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(fd);
    errno = reason;
    return false;
  }
  fd_ = fd;
  if (!buffer_) buffer_.reset(new char[kBlockSize]);
  next_ = end_ = buffer_.get();
  held_cr_ = data_over_ = at_end_ = failed_ = false;
  read_error_ = 0;
  return true;
}

bool TextReader::close() {
  if (fd_ < 0) return true;
  const int fd = fd_;
  fd_ = -1;
  return ::close(fd) == 0;
}

std::size_t TextReader::read_raw(std::size_t kept) {
  for (;;) {
    const ssize_t n = ::read(fd_, buffer_.get() + kept, kBlockSize - kept);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) {
      read_error_ = errno;
      return 0;
    }
  }
}

bool TextReader::refill() {
  while (next_ == end_) {
    if (data_over_ && !held_cr_) return false;
    char* begin = buffer_.get();
    std::size_t kept = 0;
    if (held_cr_) {
      begin[kept++] = '\r';
      held_cr_ = false;
    }
    const std::size_t got = data_over_ ? 0 : read_raw(kept);
    if (read_error_ != 0) return false;
    char* end = begin + kept + got;
    if (got == 0) {
      data_over_ = true;
    } else if (auto* stop = static_cast<char*>(
                   std::memchr(begin + kept, kEndOfData, got))) {
      end = stop;
      data_over_ = true;
    }
    if (!data_over_ && end[-1] == '\r') {
      held_cr_ = true;
      --end;
    }
    next_ = begin;
    end_ = decode_line_ends(begin, end);
  }
  return true;
}

std::size_t read_line(TextReader& reader, char* buffer, std::size_t capacity,
                      char delimiter) {
  if (reader.at_end_ || reader.failed_) {
    buffer[0] = '\0';
    reader.failed_ = true;
    return 0;
  }
  std::size_t stored = 0;
  bool took_any = false;  // a line that took nothing at all sets fail
  for (;;) {
    if (reader.next_ == reader.end_ && !reader.refill()) {
      reader.at_end_ = true;
      break;
    }
    if (stored == capacity - 1) {
      // Full: only a delimiter may still be taken; any other byte stays
      // unread for the next call.
      if (*reader.next_ == delimiter) {
        ++reader.next_;
        took_any = true;
      } else {
        reader.failed_ = true;
      }
      break;
    }
    const std::size_t scan = std::min<std::size_t>(capacity - 1 - stored,
                                                   reader.end_ - reader.next_);
    const auto* found = static_cast<const char*>(
        std::memchr(reader.next_, delimiter, scan));
    const std::size_t copy = found ? found - reader.next_ : scan;
    std::memcpy(buffer + stored, reader.next_, copy);
    stored += copy;
    reader.next_ += copy;
    took_any = took_any || copy > 0;
    if (found) {
      ++reader.next_;  // the delimiter is taken, not stored
      took_any = true;
      break;
    }
  }
  buffer[stored] = '\0';
  if (!took_any) reader.failed_ = true;
  return stored;
}
