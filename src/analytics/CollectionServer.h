#pragma once
// Where usage reports go: the collection server as host[:port]. The build sets the default
// (QB_COLLECTION_SERVER); the application may name another at launch. The host alone is what
// the reachability check is told; the URL is http://host[:port]/.
#include <optional>
#include <string>
#include <string_view>

class CollectionServer {
 public:
  CollectionServer() = delete;

  // False, and the setting unchanged, unless `hostAndPort` is a host name, an IPv4 address or a
  // bracketed IPv6 address, optionally followed by ":" and a port from 1 to 65535.
  static bool set(std::string_view hostAndPort);
  // Back to the build's default.
  static void reset();

  static std::string hostAndPort();
  static std::string hostName();
  static std::string url();

  struct Parsed {
    std::string host;  // IPv6 without its brackets
    std::optional<int> port;
  };
  static std::optional<Parsed> parse(std::string_view hostAndPort);
};
