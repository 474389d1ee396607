#pragma once
// A file descriptor as libsndfile's virtual I/O. A regular file seeks as usual and is read
// 64 KiB ahead (a cycle's read is a copy, not a system call); a pipe or FIFO
// reads forward only, but keeps its first bytes so that a format's header parser can look back
// at them. A read interrupted by a signal is not retried: the stream ends there and says so,
// so a quit request is never held up by a recording that does not arrive.
#include <sndfile.h>

#include <string>
#include <vector>

namespace platform {

class ByteStream {
 public:
  // Takes the descriptor and closes it.
  explicit ByteStream(int fd);
  ~ByteStream();
  ByteStream(const ByteStream&) = delete;
  ByteStream& operator=(const ByteStream&) = delete;

  SF_VIRTUAL_IO* io() { return &io_; }
  bool seekable() const { return seekable_; }
  // Why the stream ended before its end, or empty.
  std::string failure() const;

 private:
  static sf_count_t lengthOf(void* self);
  static sf_count_t seekIn(sf_count_t offset, int whence, void* self);
  static sf_count_t readFrom(void* ptr, sf_count_t count, void* self);
  static sf_count_t tellOf(void* self);
  sf_count_t readFd(char* into, sf_count_t count);
  sf_count_t readFile(char* into, sf_count_t count);
  // From offset `at`, or from the descriptor's own position when `at` is negative (a pipe).
  sf_count_t preadFd(char* into, sf_count_t count, sf_count_t at);

  int fd_;
  bool seekable_ = false;
  int errno_ = 0;            // the read error that ended the stream
  bool interrupted_ = false;
  sf_count_t position_ = 0;  // where the parser is (files: kept here, the descriptor is read with pread)
  sf_count_t consumed_ = 0;  // pipes: bytes taken from the descriptor
  std::vector<char> head_;   // pipes: the first bytes taken
  std::vector<char> ahead_;  // files: the bytes from aheadStart_ on
  sf_count_t aheadStart_ = 0;
  SF_VIRTUAL_IO io_{};
};

}  // namespace platform
