#pragma once
// NSNotificationCenter stand-in: named notifications, delivered synchronously to the observers on
// the thread that posts them.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class NSNotificationCenter {
 public:
  using Observer = std::function<void(const std::string& name, const void* object)>;
  using Token = std::uint64_t;

  static NSNotificationCenter& defaultCenter();

  NSNotificationCenter();
  ~NSNotificationCenter();
  NSNotificationCenter(const NSNotificationCenter&) = delete;
  NSNotificationCenter& operator=(const NSNotificationCenter&) = delete;

  // Observes notifications of `name` (every name when empty). Any thread.
  Token addObserverForName(const std::string& name, Observer observer);
  void removeObserver(Token token);
  // Calls every matching observer before returning. Observers may add or remove observers.
  void postNotificationName(const std::string& name, const void* object = nullptr);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
