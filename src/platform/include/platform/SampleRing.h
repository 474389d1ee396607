#pragma once
// A single-producer, single-consumer ring of 16-bit samples with its storage allocated up front:
// the audio thread pushes without allocating, locking or blocking (what does not fit is dropped
// and counted), another thread pops. Positions are free-running counters; only the producer
// writes `written_`, only the consumer writes `read_`.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {

class SampleRing {
 public:
  explicit SampleRing(std::size_t capacity)
      : capacity_(std::max<std::size_t>(capacity, 1)), data_(new std::int16_t[capacity_]()) {}

  std::size_t capacity() const { return capacity_; }

  // Producer: the bystander's sound of one block, `a` + `b` saturated (either may be null:
  // silence). Returns false, counting the samples, when the consumer is too far behind.
  bool pushMixed(const std::int16_t* a, const std::int16_t* b, std::size_t count) {
    const std::uint64_t w = written_.load(std::memory_order_relaxed);
    const std::uint64_t r = read_.load(std::memory_order_acquire);
    if (capacity_ - static_cast<std::size_t>(w - r) < count) {
      dropped_.fetch_add(count, std::memory_order_relaxed);
      return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
      const int sum = (a ? a[i] : 0) + (b ? b[i] : 0);
      data_[(w + i) % capacity_] = static_cast<std::int16_t>(std::clamp(sum, -32768, 32767));
    }
    written_.store(w + count, std::memory_order_release);
    return true;
  }

  // Consumer: up to `max` samples into `out`; returns how many.
  std::size_t pop(std::int16_t* out, std::size_t max) {
    const std::uint64_t r = read_.load(std::memory_order_relaxed);
    const std::uint64_t w = written_.load(std::memory_order_acquire);
    const std::size_t n = std::min<std::size_t>(max, static_cast<std::size_t>(w - r));
    for (std::size_t i = 0; i < n; ++i) out[i] = data_[(r + i) % capacity_];
    read_.store(r + n, std::memory_order_release);
    return n;
  }

  // Consumer: forgets everything pushed so far (a new take starts).
  void discard() { read_.store(written_.load(std::memory_order_acquire), std::memory_order_release); }

  std::uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

 private:
  const std::size_t capacity_;
  std::unique_ptr<std::int16_t[]> data_;
  std::atomic<std::uint64_t> written_{0};
  std::atomic<std::uint64_t> read_{0};
  std::atomic<std::uint64_t> dropped_{0};
};

}  // namespace platform
