#pragma once
// NSBundle stand-in: the application's resources folder and its information dictionary.
#include <optional>
#include <string>

class NSBundle {
 public:
  static NSBundle& mainBundle();
  // Full path of `name`.`type` in the resources folder, or none when there is no such file.
  std::optional<std::string> pathForResource(const std::string& name, const std::string& type) const;
  // The resources folder: $QUIBBLERS_RESOURCES, else ../share/quibblers beside the program's
  // bin/ folder, else the build tree's share/quibblers; empty when none exists.
  const std::string& resourcePath() const { return root_; }
  // Empty when the resources folder exists, else one line saying what is missing and what to do.
  std::string missingReason() const;
  void setResourcePath(std::string root) { root_ = std::move(root); }
  // "CFBundleVersion" and "CFBundleShortVersionString" give the app version; others none.
  std::optional<std::string> infoValue(const std::string& key) const;

 private:
  NSBundle();
  std::string root_;
};
