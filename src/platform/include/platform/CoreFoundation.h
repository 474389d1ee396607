#pragma once
// Core Foundation stand-ins used by the audio services: immutable strings and file URLs.
// Shared ownership replaces CFRelease.
#include <memory>
#include <string>

using CFStringRef = std::shared_ptr<const std::string>;

inline CFStringRef CFStringCreate(std::string text) {
  return std::make_shared<const std::string>(std::move(text));
}

// isEqualToString: on a possibly null string.
inline bool CFStringIsEqual(const CFStringRef& string, const char* text) {
  return string && *string == text;
}

struct CFURL {
  std::string fileSystemPath;
};
using CFURLRef = std::shared_ptr<const CFURL>;

enum CFURLPathStyle { kCFURLPOSIXPathStyle = 0 };

// A file URL for a path; none for an empty path or a directory URL (only files are opened).
inline CFURLRef CFURLCreateWithFileSystemPath(std::nullptr_t /*allocator*/,
                                              const std::string& filePath,
                                              CFURLPathStyle /*pathStyle*/, bool isDirectory) {
  if (filePath.empty() || isDirectory) return nullptr;
  return std::make_shared<const CFURL>(CFURL{filePath});
}
