#ifndef DEDUPE_TEXT_FILES_TEXT_READER_H_
#define DEDUPE_TEXT_FILES_TEXT_READER_H_

#include <cstddef>
#include <memory>

#include "text_files/file_identity.h"

// An input text file read in large blocks and decoded on the way in: CR LF
// becomes LF, any other CR stays, and the first 0x1A ends the data. Every
// other byte, NUL and 0x80-0xFF included, passes unchanged.
//
// Two flags, clear after open and never cleared again: `at_end()` (a read met
// the end of the data) and `failed()` (a read took nothing, stopped because
// the buffer was full, or was attempted with a flag already set).
class TextReader {
 public:
  TextReader();
  ~TextReader();
  TextReader(const TextReader&) = delete;
  TextReader& operator=(const TextReader&) = delete;

  // Opens an existing file for reading; never creates one. Fails (and sets
  // errno) for a missing or unreadable file and for a directory.
  bool open(const char* name);
  // Releases the file; false when the system reports a failure.
  bool close();

  bool at_end() const { return at_end_; }
  bool failed() const { return failed_; }
  // The errno of a failed read of the file, 0 when none happened. A read
  // error also sets the end flag, so a caller that ignores it still stops.
  int read_error() const { return read_error_; }
  FileIdentity identity() const { return identity_of_descriptor(fd_); }
  // Decoded bytes that are in memory already: a `read_line` of capacity n
  // makes no system call (and so never waits) while this is at least n.
  std::size_t buffered() const { return end_ - next_; }

 private:
  friend std::size_t read_line(TextReader&, char*, std::size_t, char);

  // Makes decoded bytes available after [next_, end_) ran empty; false at the
  // end of the data or on a read error.
  bool refill();
  // Reads raw bytes after the first `kept` bytes of the buffer; 0 at the end.
  std::size_t read_raw(std::size_t kept);

  int fd_ = -1;
  std::unique_ptr<char[]> buffer_;
  const char* next_ = nullptr;  // decoded bytes not yet taken: [next_, end_)
  const char* end_ = nullptr;
  bool held_cr_ = false;    // a block ended in CR: it waits for the next byte
  bool data_over_ = false;  // end of file or 0x1A seen: read no further
  bool at_end_ = false;
  bool failed_ = false;
  int read_error_ = 0;
};

// Reads one line into `buffer` and stores a NUL after it. At most
// `capacity` - 1 bytes are stored, counted after decoding; the delimiter is
// taken but not stored. Sets the flags exactly so:
//   line, then delimiter          -> no flag
//   line, then end of the data    -> end
//   end of the data at once       -> end and fail
//   `capacity` or more bytes      -> fail; the first capacity - 1 are stored
//                                    and the next byte stays unread
//   a flag already set            -> fail, empty buffer, nothing read
// Returns the number of bytes stored (the line may itself hold NULs).
// `capacity` must be at least 1.
std::size_t read_line(TextReader& reader, char* buffer, std::size_t capacity,
                      char delimiter);

#endif  // DEDUPE_TEXT_FILES_TEXT_READER_H_
