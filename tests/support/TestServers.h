#pragma once
// Servers on 127.0.0.1 for the upload tests: a real HTTP server (cpp-httplib) that records what it
// receives and answers as told, one that accepts connections and never answers, and a port that
// nobody listens on.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FakeCollectionServer {
 public:
  struct Request {
    std::string method;
    std::string path;
    std::string contentType;
    std::string body;     // as it came over the wire
    std::string beacons;  // the form field "beacons", decoded by the server
    bool hasBeacons = false;
  };

  FakeCollectionServer();
  ~FakeCollectionServer();
  FakeCollectionServer(const FakeCollectionServer&) = delete;
  FakeCollectionServer& operator=(const FakeCollectionServer&) = delete;

  int port() const { return port_; }
  std::string hostAndPort() const { return "127.0.0.1:" + std::to_string(port_); }
  // What the next requests get (default 200 "success"), after `delaySeconds`.
  void answer(int status, std::string body, double delaySeconds = 0.0);
  // From now on, answer "success" followed by a body that never ends.
  void answerEndlessly();
  // Requests are received and recorded but not answered until release() (or destruction).
  void hold();
  void release();
  std::vector<Request> requests() const;
  size_t requestCount() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int port_ = 0;
};

// Listens, lets the kernel accept, and never reads or answers.
class SilentServer {
 public:
  SilentServer();
  ~SilentServer();
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;
  int port() const { return port_; }
  std::string hostAndPort() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A port on 127.0.0.1 that was free a moment ago: connecting to it is refused.
int closedPort();
