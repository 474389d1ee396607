// NSURLConnection over libcurl: the synchronous request on an easy handle, the asynchronous one
// on a multi handle per run loop whose sockets are fd sources and whose time-outs are timers.
// libcurl keeps its own time in real seconds, so a loop in virtual time only calls it early, and
// it answers by asking again.
#include <poll.h>

#include <deque>
#include <map>
#include <mutex>
#include <variant>
#include <vector>

#include "CurlTransfer.h"
#include "platform/CurrentRunLoop.h"
#include "platform/RunLoop.h"
#include "platform/NSURLConnection.h"

namespace {
class MultiDriver;

struct ResponseEvent {
  long status;
};
struct DataEvent {
  std::string bytes;
};
struct FailEvent {
  NSError error;
};
struct FinishEvent {};
using Event = std::variant<ResponseEvent, DataEvent, FailEvent, FinishEvent>;
}  // namespace

struct NSURLConnection::Impl {
  std::unique_ptr<platform::curl::Transfer> transfer;
  NSURLConnectionDelegate* delegate = nullptr;
  platform::RunLoop* loop = nullptr;
  std::weak_ptr<NSURLConnection> self;
  std::deque<Event> pending;  // collected inside libcurl, delivered after it returns
  bool active = false;        // in the multi handle
  bool finished = false;
  bool cancelled = false;

  // Calls the delegate for everything pending; stops as soon as the connection is cancelled.
  void deliverPending(NSURLConnection* owner) {
    while (!cancelled && !pending.empty()) {
      Event event = std::move(pending.front());
      pending.pop_front();
      if (const auto* response = std::get_if<ResponseEvent>(&event)) {
        delegate->connectionDidReceiveResponse(owner, NSURLResponse{response->status});
      } else if (const auto* data = std::get_if<DataEvent>(&event)) {
        delegate->connectionDidReceiveData(owner, data->bytes);
      } else if (const auto* failure = std::get_if<FailEvent>(&event)) {
        delegate->connectionDidFailWithError(owner, failure->error);
      } else {
        delegate->connectionDidFinishLoading(owner);
      }
    }
  }
};

namespace {

std::mutex registryMutex;
// Never destroyed: an upload still in flight when the process exits is simply dropped, without
// libcurl calls from static destructors.
auto& drivers = *new std::map<platform::RunLoop*, std::unique_ptr<MultiDriver>>;

class MultiDriver {
 public:
  explicit MultiDriver(platform::RunLoop& loop) : loop_(loop), multi_(curl_multi_init()) {
    curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, &MultiDriver::socketCallback);
    curl_multi_setopt(multi_, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, &MultiDriver::timerCallback);
    curl_multi_setopt(multi_, CURLMOPT_TIMERDATA, this);
  }
  ~MultiDriver() = default;
  MultiDriver(const MultiDriver&) = delete;
  MultiDriver& operator=(const MultiDriver&) = delete;

  static MultiDriver& forLoop(platform::RunLoop& loop) {
    std::lock_guard lock(registryMutex);
    auto& slot = drivers[&loop];
    if (!slot) slot = std::make_unique<MultiDriver>(loop);
    return *slot;
  }

  static MultiDriver* existing(platform::RunLoop& loop) {
    std::lock_guard lock(registryMutex);
    auto it = drivers.find(&loop);
    return it == drivers.end() ? nullptr : it->second.get();
  }

  bool add(const std::shared_ptr<NSURLConnection>& connection, NSURLConnection::Impl& impl) {
    if (curl_multi_add_handle(multi_, impl.transfer->handle()) != CURLM_OK) return false;
    impl.active = true;
    transfers_[impl.transfer->handle()] = connection;
    return true;
  }

  // Takes a cancelled transfer out; retires the driver when nothing is left (not while it is
  // delivering: it retires itself then).
  void remove(NSURLConnection::Impl& impl) {
    curl_multi_remove_handle(multi_, impl.transfer->handle());
    impl.active = false;
    auto doomed = std::move(transfers_[impl.transfer->handle()]);
    transfers_.erase(impl.transfer->handle());
    retireIfIdle();
  }

  void retireIfIdle() {
    if (!dispatching_ && transfers_.empty()) retire();
  }

 private:
  static int socketCallback(CURL*, curl_socket_t socket, int what, void* userp, void*) {
    auto* self = static_cast<MultiDriver*>(userp);
    auto it = self->sockets_.find(socket);
    if (what == CURL_POLL_REMOVE) {
      if (it != self->sockets_.end()) {
        self->loop_.removeFdSource(it->second);
        self->sockets_.erase(it);
      }
      return 0;
    }
    const short events = static_cast<short>(((what & CURL_POLL_IN) ? POLLIN : 0) | ((what & CURL_POLL_OUT) ? POLLOUT : 0));
    if (it != self->sockets_.end()) {
      self->loop_.updateFdSource(it->second, events);
    } else {
      self->sockets_[socket] =
          self->loop_.addFdSource(socket, events, [self, socket](short revents) { self->onSocket(socket, revents); });
    }
    return 0;
  }

  static int timerCallback(CURLM*, long timeoutMs, void* userp) {
    auto* self = static_cast<MultiDriver*>(userp);
    if (self->timer_) self->loop_.cancelTimer(self->timer_);
    self->timer_ = 0;
    if (timeoutMs >= 0) {
      self->timer_ = self->loop_.addTimer(static_cast<double>(timeoutMs) / 1000.0, 0.0, [self] {
        self->timer_ = 0;
        int running = 0;
        curl_multi_socket_action(self->multi_, CURL_SOCKET_TIMEOUT, 0, &running);
        self->dispatch();  // may retire the driver: nothing after it
      });
    }
    return 0;
  }

  void onSocket(curl_socket_t socket, short revents) {
    int mask = 0;
    if (revents & POLLIN) mask |= CURL_CSELECT_IN;
    if (revents & POLLOUT) mask |= CURL_CSELECT_OUT;
    if (revents & (POLLERR | POLLHUP | POLLNVAL)) mask |= CURL_CSELECT_ERR;
    int running = 0;
    curl_multi_socket_action(multi_, socket, mask, &running);
    dispatch();  // may retire the driver: nothing after it
  }

  void dispatch() {
    dispatching_ = true;
    std::vector<std::shared_ptr<NSURLConnection>> touched;
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
      if (message->msg != CURLMSG_DONE) continue;
      CURL* easy = message->easy_handle;
      const CURLcode result = message->data.result;
      auto it = transfers_.find(easy);
      if (it == transfers_.end()) continue;
      std::shared_ptr<NSURLConnection> connection = std::move(it->second);
      transfers_.erase(it);
      curl_multi_remove_handle(multi_, easy);
      NSURLConnection::Impl& impl = implOf(*connection);
      impl.active = false;
      impl.finished = true;
      if (result == CURLE_OK) {
        impl.pending.emplace_back(FinishEvent{});
      } else {
        impl.pending.emplace_back(FailEvent{impl.transfer->errorFor(result)});
      }
      touched.push_back(std::move(connection));
    }
    for (auto& [easy, connection] : transfers_) {
      if (!implOf(*connection).pending.empty()) touched.push_back(connection);
    }
    for (auto& connection : touched) implOf(*connection).deliverPending(connection.get());
    dispatching_ = false;
    if (transfers_.empty()) retire();
  }

  // Nothing in flight: give the loop back its fds and timer, and go.
  void retire() {
    curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, nullptr);
    curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, nullptr);
    if (timer_) loop_.cancelTimer(timer_);
    for (const auto& [socket, source] : sockets_) loop_.removeFdSource(source);
    curl_multi_cleanup(multi_);
    std::unique_ptr<MultiDriver> doomed;
    {
      std::lock_guard lock(registryMutex);
      auto it = drivers.find(&loop_);
      if (it != drivers.end()) {
        doomed = std::move(it->second);
        drivers.erase(it);
      }
    }
    // `doomed` is this driver: it is destroyed as the function returns.
  }

  static NSURLConnection::Impl& implOf(NSURLConnection& connection);

  platform::RunLoop& loop_;
  CURLM* multi_;
  std::map<curl_socket_t, platform::RunLoop::Id> sockets_;
  std::map<CURL*, std::shared_ptr<NSURLConnection>> transfers_;
  platform::RunLoop::Id timer_ = 0;
  bool dispatching_ = false;
};

}  // namespace

// The driver reaches the connection's state through this one door.
class NSURLConnectionAccess {
 public:
  static NSURLConnection::Impl& impl(NSURLConnection& connection);
};

NSURLConnection::Impl& MultiDriver::implOf(NSURLConnection& connection) { return NSURLConnectionAccess::impl(connection); }

NSURLConnection::NSURLConnection(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

NSURLConnection::~NSURLConnection() = default;

std::shared_ptr<NSURLConnection> NSURLConnection::initWithRequest(const NSMutableURLRequest& request,
                                                                  NSURLConnectionDelegate* delegate) {
  return initWithRequest(request, delegate, platform::currentRunLoop());
}

std::shared_ptr<NSURLConnection> NSURLConnection::initWithRequest(const NSMutableURLRequest& request,
                                                                  NSURLConnectionDelegate* delegate,
                                                                  platform::RunLoop& loop) {
  auto impl = std::make_unique<Impl>();
  impl->transfer = std::make_unique<platform::curl::Transfer>(request);
  impl->delegate = delegate;
  impl->loop = &loop;
  Impl& state = *impl;
  auto connection = std::make_shared<NSURLConnection>(std::move(impl));
  state.self = connection;
  state.transfer->onResponse = [&state](long status) { state.pending.emplace_back(ResponseEvent{status}); };
  state.transfer->onData = [&state](const char* data, size_t size) {
    if (!state.pending.empty()) {
      if (auto* last = std::get_if<DataEvent>(&state.pending.back())) {
        last->bytes.append(data, size);
        return;
      }
    }
    state.pending.emplace_back(DataEvent{std::string(data, size)});
  };

  CURLcode failure = state.transfer->setupError();
  if (state.transfer->valid()) {
    MultiDriver& driver = MultiDriver::forLoop(loop);
    if (!driver.add(connection, state)) {
      failure = CURLE_FAILED_INIT;
      driver.retireIfIdle();
    }
  }
  if (failure != CURLE_OK) {
    // Reported like any other failure: later, on the loop.
    state.finished = true;
    state.pending.emplace_back(FailEvent{state.transfer->errorFor(failure)});
    loop.post([connection] { connection->impl_->deliverPending(connection.get()); });
  }
  return connection;
}

void NSURLConnection::cancel() {
  if (impl_->cancelled) return;
  impl_->cancelled = true;
  impl_->pending.clear();
  if (!impl_->active) return;
  auto keepAlive = impl_->self.lock();  // the driver may hold the last reference
  if (MultiDriver* driver = MultiDriver::existing(*impl_->loop)) driver->remove(*impl_);
}

bool NSURLConnection::isFinished() const { return impl_->finished; }

NSURLConnection::Impl& NSURLConnectionAccess::impl(NSURLConnection& connection) { return *connection.impl_; }

std::optional<std::string> NSURLConnection::sendSynchronousRequest(const NSMutableURLRequest& request,
                                                                   NSURLResponse* response, NSError* error) {
  platform::curl::Transfer transfer(request);
  if (!transfer.valid()) {
    if (error) *error = transfer.errorFor(transfer.setupError());
    return std::nullopt;
  }
  std::string body;
  long status = 0;
  transfer.onResponse = [&status](long code) { status = code; };
  transfer.onData = [&body](const char* data, size_t size) { body.append(data, size); };
  const CURLcode result = curl_easy_perform(transfer.handle());
  if (result != CURLE_OK) {
    if (error) *error = transfer.errorFor(result);
    return std::nullopt;
  }
  if (response) response->statusCode = status;
  return body;
}
