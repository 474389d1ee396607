#pragma once
// The documents directory and the few NSFileManager operations the analytics store needs.
#include <optional>
#include <string>
#include <vector>

enum NSSearchPathDirectory { NSDocumentDirectory = 9 };
enum NSSearchPathDomainMask { NSUserDomainMask = 1 };

// For the document directory in the user domain: one path, the application's documents
// directory, $XDG_DATA_HOME/quibblers (default ~/.local/share/quibblers).
std::vector<std::string> NSSearchPathForDirectoriesInDomains(NSSearchPathDirectory directory,
                                                             NSSearchPathDomainMask domains,
                                                             bool expandTilde);

class NSFileManager {
 public:
  static NSFileManager& defaultManager();
  // True when anything (file, directory, dangling link) exists at `path`.
  bool fileExistsAtPath(const std::string& path) const;
  // Creates the directory with default permissions; with `intermediates` also its missing
  // parents. False when it could not be created.
  bool createDirectoryAtPath(const std::string& path, bool intermediates) const;
};

namespace platform {
// Replaces the documents directory (tests); none restores the default.
void setDocumentsDirectory(std::optional<std::string> path);
}  // namespace platform
