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
constexpr sf_count_t kReadAhead = 64 * 1024;
}  // namespace

ByteStream::ByteStream(int fd) : fd_(fd) {
  struct stat st {};
  seekable_ = fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
  if (seekable_) position_ = std::max<sf_count_t>(0, lseek(fd_, 0, SEEK_CUR));
  io_ = SF_VIRTUAL_IO{lengthOf, seekIn, readFrom, nullptr, tellOf};
}

ByteStream::~ByteStream() { close(fd_); }

std::string ByteStream::failure() const {
  if (interrupted_) return "interrupted";
  if (errno_ != 0) return std::strerror(errno_);
  return {};
}

sf_count_t ByteStream::readFd(char* into, sf_count_t count) { return preadFd(into, count, -1); }

sf_count_t ByteStream::preadFd(char* into, sf_count_t count, sf_count_t at) {
  sf_count_t got = 0;
  while (got < count && !interrupted_ && errno_ == 0) {
    const auto left = static_cast<std::size_t>(count - got);
    const ssize_t n = at < 0 ? ::read(fd_, into + got, left) : ::pread(fd_, into + got, left, at + got);
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

// From position_, through the read-ahead; a request as large as the read-ahead goes straight
// to the file.
sf_count_t ByteStream::readFile(char* into, sf_count_t count) {
  sf_count_t got = 0;
  while (got < count) {
    const auto held = static_cast<sf_count_t>(ahead_.size());
    if (position_ >= aheadStart_ && position_ < aheadStart_ + held) {
      const sf_count_t n = std::min(count - got, aheadStart_ + held - position_);
      std::memcpy(into + got, ahead_.data() + (position_ - aheadStart_), static_cast<std::size_t>(n));
      got += n;
      position_ += n;
      continue;
    }
    if (count - got >= kReadAhead) {
      const sf_count_t n = preadFd(into + got, count - got, position_);
      got += n;
      position_ += n;
      break;
    }
    ahead_.resize(static_cast<std::size_t>(kReadAhead));
    const sf_count_t n = preadFd(ahead_.data(), kReadAhead, position_);
    ahead_.resize(static_cast<std::size_t>(n));
    aheadStart_ = position_;
    if (n == 0) break;
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
  sf_count_t target = offset;
  if (s->seekable_) {
    struct stat st {};
    if (whence == SEEK_CUR) target = s->position_ + offset;
    if (whence == SEEK_END) target = fstat(s->fd_, &st) == 0 ? st.st_size + offset : -1;
    if (target < 0) return -1;
    s->position_ = target;
    return target;
  }
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
  if (s->seekable_) return s->readFile(out, count);
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
  return s->position_;
}

}  // namespace platform
