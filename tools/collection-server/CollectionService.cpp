#include "CollectionService.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>

#include "Dashboard.h"
#include "Formatting.h"
#include "UploadReport.h"

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t nowTicks() { return Clock::now().time_since_epoch().count(); }
std::int64_t ticksAfter(std::chrono::milliseconds delay) {
  return (Clock::now() + delay).time_since_epoch().count();
}

std::string timestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buffer[16];
  std::strftime(buffer, sizeof buffer, "%H:%M:%S", &local);
  return buffer;
}

std::string addressText(const sockaddr* address) {
  char text[INET6_ADDRSTRLEN] = "?";
  if (!address) return text;
  if (address->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
  } else if (address->sa_family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
  }
  return text;
}

// A request body, grown with realloc: large blocks are remapped rather than copied, so a body
// never takes twice its size while it grows.
class Body {
 public:
  Body() = default;
  Body(const Body&) = delete;
  Body& operator=(const Body&) = delete;
  ~Body() { std::free(data_); }
  bool append(const char* data, size_t length, size_t limit) {
    if (size_ + length > capacity_) {
      const size_t wanted = std::min(limit, std::max({size_ + length, 2 * capacity_, size_t{4096}}));
      char* grown = static_cast<char*>(std::realloc(data_, wanted));
      if (!grown) return false;
      data_ = grown;
      capacity_ = wanted;
    }
    std::memcpy(data_ + size_, data, length);
    size_ += length;
    return true;
  }
  char* data() { return data_; }
  size_t size() const { return size_; }
  size_t capacity() const { return capacity_; }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

}  // namespace

struct CollectionService::Connection {
  int fd = -1;
  sockaddr_storage peer{};
  socklen_t peerLength = 0;
  // When the sweep closes the connection (steady-clock ticks); 0 while the server has the turn.
  std::atomic<std::int64_t> deadline{0};
};

struct CollectionService::Request {
  enum class Kind { Upload, Dashboard } kind = Kind::Upload;
  Connection* connection = nullptr;
  std::string address;
  Body body;
  bool answeredEarly = false;  // refused before its body was read
  bool overflowed = false;     // a body of undeclared length went past the limit: the rest is dropped
  bool handedOver = false;
  std::atomic<bool> ready{false};
  int status = 0;
  std::string answer;
  bool html = false;
  std::string logLine;
};

CollectionService::CollectionService(SessionStore* store, ServiceOptions options, std::ostream& log)
    : store_(store), options_(options), log_(log) {
  if (options_.maxBufferedBytes == 0) options_.maxBufferedBytes = 16 * options_.maxBodyBytes;
}

CollectionService::~CollectionService() {
  stop();
  {
    std::lock_guard lock(jobsMutex_);
    closing_ = true;
  }
  jobsReady_.notify_all();
  for (auto& worker : workers_) worker.join();
  sweeping_ = false;
  if (sweeper_.joinable()) sweeper_.join();
  if (daemon_) MHD_stop_daemon(daemon_);
  if (listenSocket_ >= 0) close(listenSocket_);
}

bool CollectionService::bind(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.empty() ? nullptr : host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
    return false;
  }
  std::unique_ptr<addrinfo, void (*)(addrinfo*)> addresses(found, freeaddrinfo);
  for (const addrinfo* a = found; a; a = a->ai_next) {
    const int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) continue;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && listen(fd, 1024) == 0) {
      sockaddr_storage bound{};
      socklen_t length = sizeof bound;
      getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
      ipv6_ = bound.ss_family == AF_INET6;
      port_ = ntohs(ipv6_ ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                          : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
      listenSocket_ = fd;
      return true;
    }
    close(fd);
  }
  return false;
}

CollectionService::Ended CollectionService::run() {
  if (listenSocket_ < 0) return Ended::NotStarted;
  const unsigned idleSeconds =
      static_cast<unsigned>(std::max<long long>(1, (options_.readTimeout.count() + 999) / 1000));
  daemon_ = MHD_start_daemon(
      MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME | (ipv6_ ? MHD_USE_IPv6 : 0),
      0, nullptr, nullptr, &CollectionService::handle, this,
      MHD_OPTION_LISTEN_SOCKET, listenSocket_,
      MHD_OPTION_CONNECTION_LIMIT, options_.maxConnections,
      MHD_OPTION_PER_IP_CONNECTION_LIMIT, options_.maxConnectionsPerAddress,
      MHD_OPTION_CONNECTION_TIMEOUT, idleSeconds,
      // Headers and the read buffer of each connection; larger headers are refused with 431.
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, size_t{32 * 1024},
      MHD_OPTION_STRICT_FOR_CLIENT, 1,
      MHD_OPTION_NOTIFY_COMPLETED, &CollectionService::completed, this,
      MHD_OPTION_NOTIFY_CONNECTION, &CollectionService::connectionEvent, this,
      MHD_OPTION_END);
  if (!daemon_) return Ended::NotStarted;
  for (unsigned i = 0; i < std::max(1u, options_.workers); ++i) workers_.emplace_back([this] { work(); });
  sweeping_ = true;
  sweeper_ = std::thread([this] { sweep(); });
  running_ = true;

  {
    std::unique_lock lock(stopping_);
    stopRequested_.wait(lock, [this] { return stop_; });
  }
  // No new connections; requests still queued are answered at once, the ones being stored are
  // given until the deadline to finish and answer.
  const auto deadline = Clock::now() + std::chrono::milliseconds(1500);
  const MHD_socket quiesced = MHD_quiesce_daemon(daemon_);
  if (quiesced != MHD_INVALID_SOCKET) listenSocket_ = quiesced;
  std::deque<Job> dropped;
  bool clean = false;
  {
    std::unique_lock lock(jobsMutex_);
    closing_ = true;
    dropped.swap(jobs_);
    jobsReady_.notify_all();
    for (const Job& job : dropped) {
      job.request->status = 503;
      job.request->answer = "failure: the server is stopping";
      job.request->ready = true;
      MHD_resume_connection(job.connection);
    }
    clean = idle_.wait_until(lock, deadline, [this] { return busy_ == 0; });
  }
  // Let the answers just given go out.
  while (clean && awaitingAnswer_.load() > 0 && Clock::now() < deadline + std::chrono::milliseconds(300)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  running_ = false;
  if (!clean) return Ended::WhileStoring;
  for (auto& worker : workers_) worker.join();
  workers_.clear();
  sweeping_ = false;
  sweeper_.join();
  MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
  return Ended::Cleanly;
}

void CollectionService::stop() {
  {
    std::lock_guard lock(stopping_);
    stop_ = true;
  }
  stopRequested_.notify_all();
}

void CollectionService::connectionEvent(void* self, MHD_Connection* connection, void** socketSlot,
                                        MHD_ConnectionNotificationCode what) {
  auto& service = *static_cast<CollectionService*>(self);
  if (what == MHD_CONNECTION_NOTIFY_STARTED) {
    auto* state = new Connection;
    if (const auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD)) {
      state->fd = info->connect_fd;
      state->peerLength = sizeof state->peer;
      if (getpeername(state->fd, reinterpret_cast<sockaddr*>(&state->peer), &state->peerLength) != 0) {
        state->peerLength = 0;
      }
    }
    state->deadline = ticksAfter(service.options_.headerTimeout);
    *socketSlot = state;
    std::lock_guard lock(service.connectionsMutex_);
    service.connections_.insert(state);
  } else if (auto* state = static_cast<Connection*>(*socketSlot)) {
    {
      std::lock_guard lock(service.connectionsMutex_);
      service.connections_.erase(state);
    }
    delete state;
    *socketSlot = nullptr;
  }
}

// Closes the connections whose client has taken too long. The socket is only shut down, while
// the registry lock keeps the connection from being closed and its number reused meanwhile;
// the event thread then sees the end of the stream and cleans up as for any hang-up.
void CollectionService::sweep() {
  while (sweeping_) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::int64_t now = nowTicks();
    std::lock_guard lock(connectionsMutex_);
    for (Connection* c : connections_) {
      const std::int64_t deadline = c->deadline.load(std::memory_order_relaxed);
      if (deadline == 0 || deadline > now || c->fd < 0) continue;
      sockaddr_storage peer{};
      socklen_t length = sizeof peer;
      // Only the very socket this connection was accepted on.
      if (c->peerLength == 0 || getpeername(c->fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
          length != c->peerLength || std::memcmp(&peer, &c->peer, length) != 0) {
        continue;
      }
      shutdown(c->fd, SHUT_RDWR);
      c->deadline = 0;
    }
  }
}

MHD_Result CollectionService::handle(void* self, MHD_Connection* connection, const char* url, const char* method,
                                     const char*, const char* data, size_t* size, void** requestSlot) {
  auto& service = *static_cast<CollectionService*>(self);
  if (!*requestSlot) {
    auto* request = new Request;
    *requestSlot = request;
    return service.first(connection, *request, url, method);
  }
  Request& request = *static_cast<Request*>(*requestSlot);
  if (*size > 0) return service.receive(connection, request, data, size);
  if (request.ready) return service.queue(connection, request);
  if (request.answeredEarly || request.handedOver) return MHD_YES;
  if (request.overflowed) {
    request.logLine = "too large";
    return service.answerNow(connection, request, 413,
                             "refused: the body is larger than " + std::to_string(service.options_.maxBodyBytes) +
                                 " bytes");
  }
  // The whole request is here: a worker takes it from now on.
  if (request.connection) request.connection->deadline = 0;
  request.handedOver = true;
  ++service.awaitingAnswer_;
  MHD_suspend_connection(connection);
  {
    std::lock_guard lock(service.jobsMutex_);
    if (!service.closing_) {
      service.jobs_.push_back({connection, &request});
      service.jobsReady_.notify_one();
      return MHD_YES;
    }
  }
  request.status = 503;
  request.answer = "failure: the server is stopping";
  request.ready = true;
  MHD_resume_connection(connection);
  return MHD_YES;
}

MHD_Result CollectionService::first(MHD_Connection* connection, Request& request, const char* url,
                                    const char* method) {
  if (const auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT)) {
    request.connection = static_cast<Connection*>(info->socket_context);
  }
  if (const auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS)) {
    request.address = addressText(info->client_addr);
  }
  if (std::strcmp(url, "/") != 0) return answerNow(connection, request, 404, "not found: only / is served");
  if (std::strcmp(method, "GET") == 0 || std::strcmp(method, "HEAD") == 0) {
    request.kind = Request::Kind::Dashboard;
    // A body on a GET is read and dropped, but no more slowly than an upload's.
    if (request.connection) request.connection->deadline = ticksAfter(options_.bodyTimeout);
    return MHD_YES;
  }
  if (std::strcmp(method, "POST") != 0) return answerNow(connection, request, 405, "refused: only GET and POST");
  const char* type = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_TYPE);
  if (type && std::strncmp(type, "multipart/form-data", 19) == 0) {
    request.logLine = "multipart body";
    return answerNow(connection, request, 400, "refused: a multipart body is not an upload");
  }
  // The declared length was checked by the HTTP layer (a negative or malformed one is a 400).
  if (const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH)) {
    char* end = nullptr;
    const unsigned long long declared = std::strtoull(length, &end, 10);
    if (declared > options_.maxBodyBytes) {
      request.logLine = "too large (" + std::to_string(declared) + " bytes declared)";
      return answerNow(connection, request, 413,
                       "refused: the body is larger than " + std::to_string(options_.maxBodyBytes) + " bytes");
    }
  }
  if (request.connection) request.connection->deadline = ticksAfter(options_.bodyTimeout);
  return MHD_YES;
}

MHD_Result CollectionService::receive(MHD_Connection* connection, Request& request, const char* data, size_t* size) {
  const size_t length = *size;
  *size = 0;
  if (request.answeredEarly) return MHD_YES;
  if (request.kind == Request::Kind::Dashboard) return MHD_YES;  // a body on a GET means nothing
  if (request.overflowed) return MHD_YES;
  if (request.body.size() + length > options_.maxBodyBytes) {
    // The HTTP layer answers only once the request is whole: the rest of the body is read and
    // dropped (within the body's time limit), so it is never taken for another request.
    request.overflowed = true;
    return MHD_YES;
  }
  const size_t before = request.body.capacity();
  const size_t total = buffered_.load(std::memory_order_relaxed);
  if (total + length > options_.maxBufferedBytes || !request.body.append(data, length, options_.maxBodyBytes)) {
    request.logLine = "no room for the body";
    return answerNow(connection, request, 503, "failure: too many uploads at once, try again later");
  }
  buffered_ += request.body.capacity() - before;
  return MHD_YES;
}

MHD_Result CollectionService::answerNow(MHD_Connection* connection, Request& request, int status,
                                        const std::string& text) {
  request.status = status;
  request.answer = text;
  request.answeredEarly = true;
  if (request.connection) request.connection->deadline = 0;
  if (!request.logLine.empty()) note(request, request.logLine);
  const MHD_Result queued = queue(connection, request);
  return queued;
}

MHD_Result CollectionService::queue(MHD_Connection* connection, Request& request) {
  MHD_Response* response =
      MHD_create_response_from_buffer(request.answer.size(), request.answer.data(), MHD_RESPMEM_MUST_COPY);
  if (!response) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE,
                          request.html ? "text/html; charset=utf-8" : "text/plain; charset=utf-8");
  if (request.html) {
    // Nothing but the page itself and its inline style may load.
    MHD_add_response_header(response, "Content-Security-Policy",
                            "default-src 'none'; style-src 'unsafe-inline'; img-src data:");
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
  }
  // One request per connection: a request pipelined behind it is never read, so it is not left
  // unanswered on an open connection, and no client keeps a connection idle between uploads.
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
  if (request.status == 503) MHD_add_response_header(response, MHD_HTTP_HEADER_RETRY_AFTER, "60");
  const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(request.status), response);
  MHD_destroy_response(response);
  return queued;
}

void CollectionService::completed(void* self, MHD_Connection*, void** requestSlot, MHD_RequestTerminationCode) {
  auto& service = *static_cast<CollectionService*>(self);
  auto* request = static_cast<Request*>(*requestSlot);
  if (!request) return;
  service.buffered_ -= request->body.capacity();
  if (request->handedOver) --service.awaitingAnswer_;
  // A kept-alive connection waits for its next request's headers as for the first.
  if (request->connection) request->connection->deadline = ticksAfter(service.options_.headerTimeout);
  delete request;
  *requestSlot = nullptr;
}

void CollectionService::work() {
  for (;;) {
    Job job{};
    {
      std::unique_lock lock(jobsMutex_);
      jobsReady_.wait(lock, [this] { return closing_ || !jobs_.empty(); });
      if (jobs_.empty()) return;
      job = jobs_.front();
      jobs_.pop_front();
      ++busy_;
    }
    try {
      process(*job.request);
    } catch (const std::exception& e) {
      job.request->status = 500;
      job.request->answer = "failure";
      job.request->html = false;
      note(*job.request, std::string("failed: ") + e.what());
    }
    job.request->ready = true;
    MHD_resume_connection(job.connection);
    std::lock_guard lock(jobsMutex_);
    --busy_;
    idle_.notify_all();
  }
}

void CollectionService::process(Request& request) {
  if (request.kind == Request::Kind::Dashboard) return dashboard(request);
  upload(request);
}

void CollectionService::upload(Request& request) {
  const auto answer = [&](int status, const std::string& text, const std::string& what) {
    request.status = status;
    request.answer = text;
    note(request, what);
  };
  std::string error;
  bool tooLarge = false;
  std::optional<Upload> decoded;
  if (const auto document = toUploadDocument(request.body.data(), request.body.size(), error)) {
    decoded = decodeUpload(*document, error, &tooLarge, options_.limits);
  }
  if (!decoded) return answer(tooLarge ? 413 : 400, "refused: " + error, "unreadable: " + error);
  if (!store_ && !options_.quiet) {
    // Printing only: the readable report is the log line.
    const std::string report = describeUpload(*decoded);
    std::lock_guard lock(logging_);
    log_ << report << std::flush;
  }
  const auto delay = [this] {
    if (options_.delaySeconds > 0) std::this_thread::sleep_for(std::chrono::duration<double>(options_.delaySeconds));
  };
  if (options_.fail) {
    delay();
    return answer(500, "failure", "not kept (--fail)");
  }
  std::string what = "printed, not kept";
  if (store_) {
    try {
      const SaveOutcome saved = store_->save(*decoded, static_cast<std::int64_t>(std::time(nullptr)));
      what = std::to_string(decoded->sessions.size()) + " session(s): " + std::to_string(saved.added) + " new, " +
             std::to_string(saved.known) + " already stored";
    } catch (const std::exception& e) {
      // The app keeps its sessions and sends them again with its next upload.
      return answer(503, "failure: the upload could not be stored", std::string("not stored: ") + e.what());
    }
  }
  delay();
  answer(200, options_.garbage ? "thanks, I guess" : "success", what);
}

void CollectionService::dashboard(Request& request) {
  request.html = true;
  request.status = 200;
  if (!store_) {
    request.answer =
        dashboardUnavailablePage("This collector only prints what it receives (--print-only); nothing is kept.");
    return;
  }
  try {
    request.answer = dashboardPage(store_->figures(), store_->describe());
  } catch (const std::exception& e) {
    {
      std::lock_guard lock(logging_);
      log_ << timestamp() << " dashboard: " << terminalText(e.what()) << "\n" << std::flush;
    }
    request.status = 503;
    request.answer = dashboardUnavailablePage("The database cannot be read just now.");
  }
}

void CollectionService::note(const Request& request, const std::string& what) {
  if (options_.quiet) return;
  std::lock_guard lock(logging_);
  log_ << timestamp() << " upload from " << request.address << ", " << request.body.size()
       << " bytes: " << terminalText(shortened(what, 300)) << "; answered " << request.status << " \""
       << terminalText(shortened(request.answer, 300)) << "\"\n"
       << std::flush;
}
