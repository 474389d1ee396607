#pragma once
// The collector's HTTP side: POST / takes an upload ("beacons=<JSON>"), keeps it in the store
// and answers "success" only once it is committed; GET / shows the dashboard.
#include <httplib.h>

#include <chrono>
#include <cstddef>
#include <iosfwd>
#include <mutex>
#include <string>

#include "SessionStore.h"

struct ServiceOptions {
  // Larger bodies are refused with 413 before they are read.
  size_t maxBodyBytes = 8 * 1024 * 1024;
  // A body must arrive whole within this time, and no read may wait longer than `readTimeout`.
  std::chrono::milliseconds bodyTimeout{10000};
  std::chrono::milliseconds readTimeout{5000};
  bool fail = false;     // answer 500 "failure" and keep nothing
  bool garbage = false;  // keep the upload, but answer something other than "success"
  double delaySeconds = 0;
  bool quiet = false;    // no line per upload
};

class CollectionService {
 public:
  // Without a store, each upload is printed in full and answered without being kept.
  CollectionService(SessionStore* store, ServiceOptions options, std::ostream& log);

  // Port 0 picks a free one. False when the address cannot be bound.
  bool bind(const std::string& host, int port);
  int port() const { return port_; }
  // Serves until stop().
  void run();
  bool running() const { return server_.is_running(); }
  void stop();

 private:
  void upload(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& reader);
  void dashboard(httplib::Response& response);
  void note(const httplib::Request& request, size_t bytes, const std::string& what,
            const httplib::Response& response);

  SessionStore* store_;
  ServiceOptions options_;
  std::ostream& log_;
  std::mutex logging_;
  httplib::Server server_;
  int port_ = 0;
};
