#include "ByteStream.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace platform {

namespace {
// Enough for the headers libsndfile parses before the samples (an MP3's tags may hold a picture).
constexpr sf_count_t kHeadBytes = 1024 * 1024;
}  // namespace

ByteStream::ByteStream(int fd) : fd_(fd) {
  struct stat st {};
  seekable_ = fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
  io_ = SF_VIRTUAL_IO{lengthOf, seekIn, readFrom, nullptr, tellOf};
}

ByteStream::~ByteStream() { close(fd_); }

std::string ByteStream::failure() const {
  if (interrupted_) return "interrupted";
  if (errno_ != 0) return std::strerror(errno_);
  return {};
}

sf_count_t ByteStream::readFd(char* into, sf_count_t count) {
  sf_count_t got = 0;
  while (got < count && !interrupted_ && errno_ == 0) {
    const ssize_t n = ::read(fd_, into + got, static_cast<std::size_t>(count - got));
    if (n > 0) {
      got += n;
    } else if (n == 0) {
      break;
    } else if (errno == EINTR) {
      interrupted_ = true;
    } else {
      errno_ = errno;
    }
  }
  return got;
}

sf_count_t ByteStream::lengthOf(void* self) {
  auto* s = static_cast<ByteStream*>(self);
  struct stat st {};
  if (s->seekable_ && fstat(s->fd_, &st) == 0) return st.st_size;
  return std::numeric_limits<sf_count_t>::max();  // a pipe's length is unknown
}

sf_count_t ByteStream::seekIn(sf_count_t offset, int whence, void* self) {
  auto* s = static_cast<ByteStream*>(self);
  if (s->seekable_) return lseek(s->fd_, offset, whence);
  sf_count_t target = offset;
  if (whence == SEEK_CUR) target = s->position_ + offset;
  if (whence == SEEK_END || target < 0) return -1;
  // Forward over bytes not read yet: read them into the head. Further than the head reaches the
  // seek fails; a WAV parser then stops looking for chunks after the samples instead of
  // skipping them, which could never be undone.
  if (target > kHeadBytes && target > s->consumed_) return -1;
  if (target > s->consumed_) {
    char skip[4096];
    s->position_ = s->consumed_;
    while (s->consumed_ < target) {
      if (readFrom(skip, std::min<sf_count_t>(sizeof skip, target - s->consumed_), self) <= 0) return -1;
    }
    return s->position_;
  }
  // Back only while every byte taken is still in the head.
  if (target < s->consumed_ && s->consumed_ > static_cast<sf_count_t>(s->head_.size())) return -1;
  s->position_ = target;
  return target;
}

sf_count_t ByteStream::readFrom(void* ptr, sf_count_t count, void* self) {
  auto* s = static_cast<ByteStream*>(self);
  auto* out = static_cast<char*>(ptr);
  if (s->seekable_) return s->readFd(out, count);
  sf_count_t got = 0;
  if (s->position_ < s->consumed_) {
    // Again over the head.
    got = std::min(count, static_cast<sf_count_t>(s->head_.size()) - s->position_);
    std::memcpy(out, s->head_.data() + s->position_, static_cast<std::size_t>(got));
    s->position_ += got;
  }
  const sf_count_t fresh = s->readFd(out + got, count - got);
  if (s->consumed_ < kHeadBytes) {
    const sf_count_t keep = std::min(fresh, kHeadBytes - s->consumed_);
    s->head_.insert(s->head_.end(), out + got, out + got + keep);
  }
  s->consumed_ += fresh;
  s->position_ += fresh;
  return got + fresh;
}

sf_count_t ByteStream::tellOf(void* self) {
  auto* s = static_cast<ByteStream*>(self);
  return s->seekable_ ? lseek(s->fd_, 0, SEEK_CUR) : s->position_;
}

}  // namespace platform
