#pragma once
// NSURLConnection / NSMutableURLRequest stand-ins over HTTP. The synchronous request blocks the
// caller up to its time-out; the asynchronous connection runs on a run loop (its sockets are fd
// sources, its time-outs timers) and calls its delegate on that loop.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

class NSMutableURLRequest {
 public:
  explicit NSMutableURLRequest(std::string url) : url_(std::move(url)) {}
  static NSMutableURLRequest requestWithURL(std::string url) { return NSMutableURLRequest(std::move(url)); }

  const std::string& URL() const { return url_; }
  const std::string& HTTPMethod() const { return method_; }
  void setHTTPMethod(std::string method) { method_ = std::move(method); }
  const std::string& HTTPBody() const { return body_; }
  void setHTTPBody(std::string body) { body_ = std::move(body); }
  // Seconds for the whole exchange, connecting included.
  double timeoutInterval() const { return timeout_; }
  void setTimeoutInterval(double seconds) { timeout_ = seconds; }
  // Bytes of response body accepted; a longer body fails the exchange. 0: no limit.
  size_t maximumResponseLength() const { return maximumResponseLength_; }
  void setMaximumResponseLength(size_t bytes) { maximumResponseLength_ = bytes; }

 private:
  std::string url_;
  std::string method_ = "GET";
  std::string body_;
  double timeout_ = 60.0;
  size_t maximumResponseLength_ = 0;
};

struct NSURLResponse {
  long statusCode = 0;
};

struct NSError {
  int code = 0;                      // the transfer library's error number
  std::string localizedDescription;  // readable reason
};

class NSURLConnection;

class NSURLConnectionDelegate {
 public:
  virtual ~NSURLConnectionDelegate() = default;
  virtual void connectionDidReceiveResponse(NSURLConnection* connection, const NSURLResponse& response) = 0;
  virtual void connectionDidReceiveData(NSURLConnection* connection, const std::string& data) = 0;
  virtual void connectionDidFailWithError(NSURLConnection* connection, const NSError& error) = 0;
  virtual void connectionDidFinishLoading(NSURLConnection* connection) = 0;
};

namespace platform {
class RunLoop;
}

class NSURLConnection {
 public:
  // Starts the request on the current run loop (platform::currentRunLoop()). The loop keeps the
  // connection alive until its exchange ends or it is cancelled; the delegate must outlive that.
  // A request that cannot even be set up still reports through connectionDidFailWithError, on the loop.
  static std::shared_ptr<NSURLConnection> initWithRequest(const NSMutableURLRequest& request,
                                                          NSURLConnectionDelegate* delegate);
  static std::shared_ptr<NSURLConnection> initWithRequest(const NSMutableURLRequest& request,
                                                          NSURLConnectionDelegate* delegate,
                                                          platform::RunLoop& loop);
  // Blocks until the exchange ends: the response body, or none on failure or time-out. Any HTTP
  // status counts as an answer.
  static std::optional<std::string> sendSynchronousRequest(const NSMutableURLRequest& request,
                                                           NSURLResponse* response,
                                                           NSError* error = nullptr);

  ~NSURLConnection();
  NSURLConnection(const NSURLConnection&) = delete;
  NSURLConnection& operator=(const NSURLConnection&) = delete;

  // Stops the exchange; the delegate hears nothing more. Loop thread only.
  void cancel();
  bool isFinished() const;

  struct Impl;
  explicit NSURLConnection(std::unique_ptr<Impl> impl);

 private:
  friend class NSURLConnectionAccess;
  std::unique_ptr<Impl> impl_;
};
