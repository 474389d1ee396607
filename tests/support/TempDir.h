#pragma once
#include <filesystem>
#include <string>

// A fresh directory under the system temp dir, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// The whole of a (small) file, byte for byte; empty when it cannot be read.
std::string readTextFile(const std::string& path);
