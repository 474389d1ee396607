#include "TestServers.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

struct FakeCollectionServer::Impl {
  httplib::Server server;
  std::thread thread;
  mutable std::mutex mutex;
  std::vector<Request> requests;
  int status = 200;
  std::string body = "success";
  double delay = 0.0;
  bool endless = false;
  bool held = false;
  std::condition_variable released;
};

FakeCollectionServer::FakeCollectionServer() : impl_(std::make_unique<Impl>()) {
  Impl& d = *impl_;
  d.server.Post("/.*", [&d](const httplib::Request& request, httplib::Response& response) {
    Request seen;
    seen.method = request.method;
    seen.path = request.path;
    seen.contentType = request.get_header_value("Content-Type");
    seen.body = request.body;
    seen.hasBeacons = request.has_param("beacons");
    seen.beacons = request.get_param_value("beacons");
    int status;
    std::string body;
    double delay;
    bool endless;
    {
      std::unique_lock lock(d.mutex);
      d.requests.push_back(seen);
      d.released.wait(lock, [&d] { return !d.held; });
      status = d.status;
      body = d.body;
      delay = d.delay;
      endless = d.endless;
    }
    if (delay > 0) std::this_thread::sleep_for(std::chrono::duration<double>(delay));
    if (endless) {
      // About 16 MB/s, until the client goes away.
      response.set_chunked_content_provider("text/plain", [](size_t offset, httplib::DataSink& sink) {
        static const std::string chunk = "success" + std::string(16 * 1024 - 7, 'x');
        if (offset == 0) return sink.write(chunk.data(), chunk.size());
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return sink.write(chunk.data() + 7, chunk.size() - 7);
      });
      return;
    }
    response.status = status;
    response.set_content(body, "text/plain");
  });
  port_ = d.server.bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("cannot bind a port on 127.0.0.1");
  d.thread = std::thread([&d] { d.server.listen_after_bind(); });
  // stop() before the accept loop runs would be lost, and the destructor would wait forever.
  while (!d.server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

FakeCollectionServer::~FakeCollectionServer() {
  release();
  impl_->server.stop();
  impl_->thread.join();
}

void FakeCollectionServer::answer(int status, std::string body, double delaySeconds) {
  std::lock_guard lock(impl_->mutex);
  impl_->status = status;
  impl_->body = std::move(body);
  impl_->delay = delaySeconds;
}

void FakeCollectionServer::answerEndlessly() {
  std::lock_guard lock(impl_->mutex);
  impl_->endless = true;
}

void FakeCollectionServer::hold() {
  std::lock_guard lock(impl_->mutex);
  impl_->held = true;
}

void FakeCollectionServer::release() {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->held = false;
  }
  impl_->released.notify_all();
}

std::vector<FakeCollectionServer::Request> FakeCollectionServer::requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requests;
}

size_t FakeCollectionServer::requestCount() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requests.size();
}

namespace {
int boundSocket(int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("cannot bind a port on 127.0.0.1");
  }
  port = ntohs(address.sin_port);
  return fd;
}
}  // namespace

SilentServer::SilentServer() {
  fd_ = boundSocket(port_);
  listen(fd_, 16);
}

SilentServer::~SilentServer() { close(fd_); }

int closedPort() {
  int port = 0;
  close(boundSocket(port));
  return port;
}
