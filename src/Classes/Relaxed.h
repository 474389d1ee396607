#pragma once
// A variable shared between the audio thread and the main thread without a lock: every read is
// one relaxed load and every write one relaxed store of the value's own width, so it behaves like
// the plain variable it stands for while staying free of data races.
#include <atomic>

template <typename T>
class Relaxed {
 public:
  constexpr Relaxed(T initial) noexcept : value_(initial) {}
  Relaxed(const Relaxed&) = delete;
  Relaxed& operator=(const Relaxed&) = delete;

  operator T() const noexcept { return value_.load(std::memory_order_relaxed); }
  T load() const noexcept { return value_.load(std::memory_order_relaxed); }
  Relaxed& operator=(T v) noexcept {
    value_.store(v, std::memory_order_relaxed);
    return *this;
  }
  // Read-modify-write as a load then a store, as the plain variable would: only one thread
  // writes each of these variables.
  Relaxed& operator+=(T d) noexcept { return *this = static_cast<T>(load() + d); }
  Relaxed& operator-=(T d) noexcept { return *this = static_cast<T>(load() - d); }

 private:
  static_assert(std::atomic<T>::is_always_lock_free, "engine variables must be lock-free");
  std::atomic<T> value_;
};

// A variable that hands something over between threads: stores release, loads acquire, so a
// reader that sees a value also sees everything its writer did before storing it.
template <typename T>
class Handover {
 public:
  constexpr Handover(T initial) noexcept : value_(initial) {}
  Handover(const Handover&) = delete;
  Handover& operator=(const Handover&) = delete;

  operator T() const noexcept { return value_.load(std::memory_order_acquire); }
  T load() const noexcept { return value_.load(std::memory_order_acquire); }
  Handover& operator=(T v) noexcept {
    value_.store(v, std::memory_order_release);
    return *this;
  }

 private:
  static_assert(std::atomic<T>::is_always_lock_free, "engine variables must be lock-free");
  std::atomic<T> value_;
};
