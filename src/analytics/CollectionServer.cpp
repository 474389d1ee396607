#include "CollectionServer.h"

#include <arpa/inet.h>

#include <cctype>
#include <charconv>
#include <mutex>

#ifndef QB_COLLECTION_SERVER
#define QB_COLLECTION_SERVER "127.0.0.1:8787"
#endif

namespace {

std::mutex settingMutex;
std::string setting = QB_COLLECTION_SERVER;

bool isHostNameCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
}

}  // namespace

std::optional<CollectionServer::Parsed> CollectionServer::parse(std::string_view text) {
  Parsed parsed;
  std::string_view rest;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string_view::npos || close == 1) return std::nullopt;
    parsed.host = std::string(text.substr(1, close - 1));
    // Only a real IPv6 literal: "[7]" or "[1.2.3.4]" would make every upload fail unseen.
    in6_addr address{};
    if (inet_pton(AF_INET6, parsed.host.c_str(), &address) != 1) return std::nullopt;
    rest = text.substr(close + 1);
  } else {
    const size_t colon = text.find(':');
    const std::string_view host = text.substr(0, colon);
    if (host.empty() || host.front() == '-' || host.front() == '.') return std::nullopt;
    for (char c : host) {
      if (!isHostNameCharacter(c)) return std::nullopt;
    }
    parsed.host = std::string(host);
    rest = colon == std::string_view::npos ? std::string_view() : text.substr(colon);
  }
  if (!rest.empty()) {
    if (rest.front() != ':' || rest.size() < 2 || rest.size() > 6) return std::nullopt;
    int port = 0;
    const auto digits = rest.substr(1);
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (result.ec != std::errc() || result.ptr != digits.data() + digits.size() || port < 1 || port > 65535) {
      return std::nullopt;
    }
    parsed.port = port;
  }
  return parsed;
}

bool CollectionServer::set(std::string_view hostAndPort) {
  if (!parse(hostAndPort)) return false;
  std::lock_guard lock(settingMutex);
  setting = std::string(hostAndPort);
  return true;
}

void CollectionServer::reset() {
  std::lock_guard lock(settingMutex);
  setting = QB_COLLECTION_SERVER;
}

std::string CollectionServer::hostAndPort() {
  std::lock_guard lock(settingMutex);
  return setting;
}

std::string CollectionServer::hostName() {
  const std::string current = hostAndPort();
  const auto parsed = parse(current);
  return parsed ? parsed->host : current;
}

std::string CollectionServer::url() { return "http://" + hostAndPort() + "/"; }
