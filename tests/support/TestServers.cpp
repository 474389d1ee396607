#include "TestServers.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <optional>
#include <stdexcept>

namespace {
// The value of `name` in an application/x-www-form-urlencoded body, decoded.
std::optional<std::string> formField(const std::string& body, const std::string& name) {
  size_t start = 0;
  while (start <= body.size()) {
    const size_t end = std::min(body.find('&', start), body.size());
    const std::string pair = body.substr(start, end - start);
    if (pair.rfind(name + "=", 0) == 0) {
      std::string value;
      for (size_t i = name.size() + 1; i < pair.size(); ++i) {
        if (pair[i] == '+') {
          value += ' ';
        } else if (pair[i] == '%' && i + 2 < pair.size() && std::isxdigit(static_cast<unsigned char>(pair[i + 1])) &&
                   std::isxdigit(static_cast<unsigned char>(pair[i + 2]))) {
          value += static_cast<char>(std::stoi(pair.substr(i + 1, 2), nullptr, 16));
          i += 2;
        } else {
          value += pair[i];
        }
      }
      return value;
    }
    start = end + 1;
  }
  return std::nullopt;
}
}  // namespace

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
  // Read through a content reader: the library answers a form body over 8 KiB with 413 before
  // any handler sees it, so the form is decoded here.
  d.server.Post("/.*", [&d](const httplib::Request& request, httplib::Response& response,
                            const httplib::ContentReader& reader) {
    Request seen;
    seen.method = request.method;
    seen.path = request.path;
    seen.contentType = request.get_header_value("Content-Type");
    reader([&seen](const char* data, size_t length) {
      seen.body.append(data, length);
      return true;
    });
    if (const auto field = formField(seen.body, "beacons")) {
      seen.hasBeacons = true;
      seen.beacons = *field;
    }
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
