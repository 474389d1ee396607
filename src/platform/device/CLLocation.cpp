#include "platform/CLLocation.h"

#include <chrono>
#include <mutex>

namespace {
std::mutex stateMutex;
std::shared_ptr<LocationProvider> installedProvider;
std::function<double()> frozenClock;

std::shared_ptr<LocationProvider> provider() {
  std::lock_guard lock(stateMutex);
  return installedProvider;
}
}  // namespace

namespace platform {
void setLocationProvider(std::shared_ptr<LocationProvider> newProvider) {
  std::lock_guard lock(stateMutex);
  installedProvider = std::move(newProvider);
}

double locationClockNow() {
  std::function<double()> current;
  {
    std::lock_guard lock(stateMutex);
    current = frozenClock;
  }
  if (current) return current();
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

void setLocationClock(std::function<double()> newClock) {
  std::lock_guard lock(stateMutex);
  frozenClock = std::move(newClock);
}
}  // namespace platform

double CLLocation::timeIntervalSinceNow() const { return timestamp_ - platform::locationClockNow(); }

CLLocationManager::CLLocationManager() : alive_(std::make_shared<bool>(true)) {}

CLLocationManager::~CLLocationManager() {
  *alive_ = false;
  stopUpdatingLocation();
}

bool CLLocationManager::locationServicesEnabled() { return provider() != nullptr; }

std::optional<CLLocation> CLLocationManager::location() const {
  const auto current = provider();
  return current ? current->lastKnownFix() : std::nullopt;
}

void CLLocationManager::startUpdatingLocation() {
  if (updating_) return;
  provider_ = provider();
  if (!provider_) return;  // services off: nothing will ever arrive
  updating_ = true;
  std::weak_ptr<bool> alive = alive_;
  provider_->start([this, alive](const CLLocation& fix) {
    if (auto flag = alive.lock(); flag && *flag) deliver(fix);
  });
}

void CLLocationManager::stopUpdatingLocation() {
  if (!updating_) return;
  updating_ = false;
  if (provider_) provider_->stop();
  provider_.reset();
}

void CLLocationManager::deliver(const CLLocation& fix) {
  if (!updating_) return;
  const std::optional<CLLocation> previous = previous_;
  previous_ = fix;
  if (delegate_) delegate_->locationManagerDidUpdateToLocation(this, fix, previous ? &*previous : nullptr);
}
