#pragma once
// CLLocationManager stand-in. This machine has no location service of its own: services are off
// unless a provider is installed (tests, or a future back end), which supplies the last known fix
// and delivers new fixes on the main thread while updates run.
#include <functional>
#include <memory>
#include <optional>

struct CLLocationCoordinate2D {
  double latitude = 0.0;
  double longitude = 0.0;
};

class CLLocation {
 public:
  // `timestamp`: seconds since 1970 on the location clock.
  CLLocation(CLLocationCoordinate2D coordinate, double timestamp)
      : coordinate_(coordinate), timestamp_(timestamp) {}
  CLLocationCoordinate2D coordinate() const { return coordinate_; }
  double timestamp() const { return timestamp_; }
  // From now to the fix, in seconds: negative for a fix in the past.
  double timeIntervalSinceNow() const;

 private:
  CLLocationCoordinate2D coordinate_;
  double timestamp_;
};

class CLLocationManager;

class CLLocationManagerDelegate {
 public:
  virtual ~CLLocationManagerDelegate() = default;
  virtual void locationManagerDidUpdateToLocation(CLLocationManager* manager,
                                                  const CLLocation& newLocation,
                                                  const CLLocation* oldLocation) = 0;
};

// Where fixes come from.
class LocationProvider {
 public:
  using Deliver = std::function<void(const CLLocation&)>;
  virtual ~LocationProvider() = default;
  virtual std::optional<CLLocation> lastKnownFix() const = 0;
  // Deliver each new fix through `deliver`, on the main thread, until stop().
  virtual void start(Deliver deliver) = 0;
  virtual void stop() = 0;
};

class CLLocationManager {
 public:
  CLLocationManager();
  ~CLLocationManager();
  CLLocationManager(const CLLocationManager&) = delete;
  CLLocationManager& operator=(const CLLocationManager&) = delete;

  // True only while a provider is installed.
  static bool locationServicesEnabled();

  void setDelegate(CLLocationManagerDelegate* delegate) { delegate_ = delegate; }
  CLLocationManagerDelegate* delegate() const { return delegate_; }
  std::optional<CLLocation> location() const;
  void startUpdatingLocation();
  void stopUpdatingLocation();
  bool isUpdatingLocation() const { return updating_; }

 private:
  void deliver(const CLLocation& fix);

  CLLocationManagerDelegate* delegate_ = nullptr;
  std::shared_ptr<LocationProvider> provider_;  // the one updates were started on
  std::optional<CLLocation> previous_;
  bool updating_ = false;
  std::shared_ptr<bool> alive_;
};

namespace platform {
// Installs the process's location provider (none: services off).
void setLocationProvider(std::shared_ptr<LocationProvider> provider);
// The location clock, seconds since 1970; tests may freeze it (empty function: system clock).
double locationClockNow();
void setLocationClock(std::function<double()> clock);
}  // namespace platform
