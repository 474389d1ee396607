#include "platform/NSNotificationCenter.h"

#include <map>
#include <mutex>
#include <vector>

struct NSNotificationCenter::Impl {
  struct Entry {
    std::string name;
    std::shared_ptr<Observer> observer;
  };
  std::mutex mutex;
  Token nextToken = 1;
  std::map<Token, Entry> observers;
};

NSNotificationCenter& NSNotificationCenter::defaultCenter() {
  static NSNotificationCenter center;
  return center;
}

NSNotificationCenter::NSNotificationCenter() : impl_(std::make_unique<Impl>()) {}
NSNotificationCenter::~NSNotificationCenter() = default;

NSNotificationCenter::Token NSNotificationCenter::addObserverForName(const std::string& name,
                                                                     Observer observer) {
  std::lock_guard lock(impl_->mutex);
  const Token token = impl_->nextToken++;
  impl_->observers[token] = Impl::Entry{name, std::make_shared<Observer>(std::move(observer))};
  return token;
}

void NSNotificationCenter::removeObserver(Token token) {
  std::lock_guard lock(impl_->mutex);
  impl_->observers.erase(token);
}

void NSNotificationCenter::postNotificationName(const std::string& name, const void* object) {
  // Observers run without the lock held, so they may add or remove observers themselves.
  std::vector<std::shared_ptr<Observer>> matching;
  {
    std::lock_guard lock(impl_->mutex);
    for (const auto& [token, entry] : impl_->observers) {
      if (entry.name.empty() || entry.name == name) matching.push_back(entry.observer);
    }
  }
  for (const auto& observer : matching) (*observer)(name, object);
}
