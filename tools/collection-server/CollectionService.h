#pragma once
// The collector's HTTP side: POST / takes an upload ("beacons=<JSON>"), keeps it in the store
// and answers "success" only once it is committed; GET / shows the dashboard.
//
// One event thread reads every connection and never waits on a client; complete requests go to
// a few workers that decode, store and answer them. A client that is not sending holds no thread,
// only a socket, and its time is limited: headers must arrive within `headerTimeout`, a body
// within `bodyTimeout`, and no pause may last longer than `readTimeout`.
#include <microhttpd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <iosfwd>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "SessionStore.h"

struct ServiceOptions {
  // Larger bodies are refused with 413 before they are read.
  size_t maxBodyBytes = 8 * 1024 * 1024;
  // All request bodies held at once; beyond it an upload is refused with 503. 0: 16 bodies.
  size_t maxBufferedBytes = 0;
  std::chrono::milliseconds headerTimeout{5000};  // after connecting, or after the previous answer
  std::chrono::milliseconds bodyTimeout{10000};
  std::chrono::milliseconds readTimeout{5000};    // rounded up to whole seconds
  unsigned maxConnections = 1000;
  unsigned maxConnectionsPerAddress = 32;  // 0: no cap (behind a proxy, every client is the proxy)
  unsigned workers = 8;
  UploadLimits limits;
  bool fail = false;     // answer 500 "failure" and keep nothing
  bool garbage = false;  // keep the upload, but answer something other than "success"
  double delaySeconds = 0;
  bool quiet = false;    // no line per upload
};

class CollectionService {
 public:
  // Without a store, each upload is printed in full and answered without being kept.
  CollectionService(SessionStore* store, ServiceOptions options, std::ostream& log);
  ~CollectionService();
  CollectionService(const CollectionService&) = delete;
  CollectionService& operator=(const CollectionService&) = delete;

  // Port 0 picks a free one. False when the address cannot be bound.
  bool bind(const std::string& host, int port);
  int port() const { return port_; }
  enum class Ended { Cleanly, NotStarted, WhileStoring };
  // Serves until stop(). WhileStoring: an upload was still being stored when it had to return;
  // the process should then end at once (the store's transaction keeps the upload whole or absent).
  Ended run();
  bool running() const { return running_.load(std::memory_order_relaxed); }
  // Returns at once; run() returns within about 2 s.
  void stop();

  struct Connection;
  struct Request;

 private:
  struct Job {
    MHD_Connection* connection;
    Request* request;
  };

  static MHD_Result handle(void* self, MHD_Connection* connection, const char* url, const char* method,
                           const char* version, const char* data, size_t* size, void** requestSlot);
  static void completed(void* self, MHD_Connection* connection, void** requestSlot, MHD_RequestTerminationCode why);
  static void connectionEvent(void* self, MHD_Connection* connection, void** socketSlot,
                              MHD_ConnectionNotificationCode what);

  MHD_Result first(MHD_Connection* connection, Request& request, const char* url, const char* method);
  MHD_Result receive(MHD_Connection* connection, Request& request, const char* data, size_t* size);
  MHD_Result answerNow(MHD_Connection* connection, Request& request, int status, const std::string& text);
  MHD_Result queue(MHD_Connection* connection, Request& request);
  void work();
  void sweep();
  void process(Request& request);
  void upload(Request& request);
  void dashboard(Request& request);
  void note(const Request& request, const std::string& what);

  SessionStore* store_;
  ServiceOptions options_;
  std::ostream& log_;
  std::mutex logging_;
  int listenSocket_ = -1;
  bool ipv6_ = false;
  int port_ = 0;
  MHD_Daemon* daemon_ = nullptr;
  std::atomic<bool> running_{false};

  std::mutex stopping_;
  std::condition_variable stopRequested_;
  bool stop_ = false;

  // Requests handed to the workers.
  std::mutex jobsMutex_;
  std::condition_variable jobsReady_;
  std::deque<Job> jobs_;
  size_t busy_ = 0;
  bool closing_ = false;
  std::condition_variable idle_;
  std::vector<std::thread> workers_;
  std::atomic<size_t> buffered_{0};
  std::atomic<int> awaitingAnswer_{0};

  // Open connections, for the deadline sweep.
  std::mutex connectionsMutex_;
  std::unordered_set<Connection*> connections_;
  std::thread sweeper_;
  std::atomic<bool> sweeping_{false};
};
