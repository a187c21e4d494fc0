#ifndef DEDUPE_TEXT_FILES_TEXT_WRITER_H_
#define DEDUPE_TEXT_FILES_TEXT_WRITER_H_

#include <string>
#include <string_view>

#include "text_files/file_identity.h"

// An output text file, or standard output, encoded on the way out: every LF
// becomes CR LF, every other byte is written unchanged. Bytes collect in
// memory until `flush`, which hands them to the system in one write call, so
// a line written and then flushed reaches the file whole.
//
// The first failed write puts the writer into a failed state that nothing
// clears: later writes and flushes do nothing and report failure, and
// `error()` keeps the errno of the first failure.
class TextWriter {
 public:
  // A writer on standard output (given as its descriptor), which is always
  // open and which `close` leaves open.
  static TextWriter standard_output(int fd);

  TextWriter() = default;
  ~TextWriter();
  TextWriter(const TextWriter&) = delete;
  TextWriter& operator=(const TextWriter&) = delete;
  TextWriter(TextWriter&& other) noexcept;

  // Creates the file, or truncates an existing one, with the permissions
  // 0666 less the umask. Fails (and sets errno) when that is not possible.
  bool open(const char* name);

  void write(std::string_view bytes);
  void write_line_end() { write("\n"); }
  // Hands everything written so far to the system; false after any failure.
  bool flush();
  // Flushes, then releases the file; false when either fails.
  bool close();

  int error() const { return error_; }
  // The name for messages: the file name, or "standard output".
  const std::string& name() const { return name_; }
  FileIdentity identity() const { return identity_of_descriptor(fd_); }

 private:
  TextWriter(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}

  int fd_ = -1;
  bool owns_fd_ = false;
  int error_ = 0;
  std::string name_;
  std::string pending_;  // encoded bytes not yet handed to the system
};

#endif  // DEDUPE_TEXT_FILES_TEXT_WRITER_H_
