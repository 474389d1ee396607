#include "CurlTransfer.h"

#include <cmath>
#include <mutex>

namespace platform::curl {

namespace {
// Far more than any real response's header lines; a server that keeps sending them is cut off.
constexpr size_t kMaximumHeaderBytes = 64 * 1024;
}  // namespace

void ensureGlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

Transfer::Transfer(const NSMutableURLRequest& request) {
  ensureGlobalInit();
  handle_ = curl_easy_init();
  if (!handle_) {
    setupError_ = CURLE_FAILED_INIT;
    return;
  }
  body_ = request.HTTPBody();
  method_ = request.HTTPMethod();
  maximumBody_ = request.maximumResponseLength();
  auto set = [this](CURLoption option, auto value) {
    if (setupError_ == CURLE_OK) setupError_ = curl_easy_setopt(handle_, option, value);
  };
  // The whole exchange, connecting included, within the request's time-out.
  const double seconds = std::isfinite(request.timeoutInterval()) ? request.timeoutInterval() : 60.0;
  const long milliseconds = std::max(1L, std::lround(seconds * 1000.0));
  set(CURLOPT_ERRORBUFFER, errorBuffer_);
  set(CURLOPT_URL, request.URL().c_str());
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_TIMEOUT_MS, milliseconds);
  set(CURLOPT_CONNECTTIMEOUT_MS, milliseconds);
  // One-off exchanges: no idle connection (and its socket) is kept behind.
  set(CURLOPT_FORBID_REUSE, 1L);
  if (method_ == "POST") {
    set(CURLOPT_POST, 1L);
  } else if (method_ != "GET") {
    set(CURLOPT_CUSTOMREQUEST, method_.c_str());
  }
  if (method_ != "GET" || !body_.empty()) {
    set(CURLOPT_POSTFIELDS, body_.data());
    set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body_.size()));
  }
  // No "Expect: 100-continue" round trip before a larger body.
  headers_ = curl_slist_append(nullptr, "Expect:");
  set(CURLOPT_HTTPHEADER, headers_);
  set(CURLOPT_HEADERFUNCTION, &Transfer::headerCallback);
  set(CURLOPT_HEADERDATA, this);
  set(CURLOPT_WRITEFUNCTION, &Transfer::writeCallback);
  set(CURLOPT_WRITEDATA, this);
}

Transfer::~Transfer() {
  if (handle_) curl_easy_cleanup(handle_);
  curl_slist_free_all(headers_);
}

NSError Transfer::errorFor(CURLcode code) const {
  if (code == CURLE_WRITE_ERROR && headerBytes_ > kMaximumHeaderBytes) {
    return NSError{static_cast<int>(code), "the response's header is longer than " +
                                               std::to_string(kMaximumHeaderBytes) + " bytes"};
  }
  if (code == CURLE_WRITE_ERROR && maximumBody_ != 0 && bodyBytes_ > maximumBody_) {
    return NSError{static_cast<int>(code), "the response is longer than " + std::to_string(maximumBody_) + " bytes"};
  }
  return NSError{static_cast<int>(code), errorBuffer_[0] ? errorBuffer_ : curl_easy_strerror(code)};
}

size_t Transfer::headerCallback(char* data, size_t size, size_t count, void* self) {
  auto* transfer = static_cast<Transfer*>(self);
  const size_t length = size * count;
  transfer->headerBytes_ += length;
  if (transfer->headerBytes_ > kMaximumHeaderBytes) return 0;  // fails the exchange: CURLE_WRITE_ERROR
  const bool blankLine = (length == 2 && data[0] == '\r' && data[1] == '\n') || (length == 1 && data[0] == '\n');
  if (blankLine && !transfer->responseSeen_) {
    long status = 0;
    curl_easy_getinfo(transfer->handle_, CURLINFO_RESPONSE_CODE, &status);
    // An interim "100 Continue" is followed by the real response's headers.
    if (status >= 200 || status == 0) {
      transfer->responseSeen_ = true;
      if (transfer->onResponse) transfer->onResponse(status);
    }
  }
  return length;
}

size_t Transfer::writeCallback(char* data, size_t size, size_t count, void* self) {
  auto* transfer = static_cast<Transfer*>(self);
  const size_t length = size * count;
  transfer->bodyBytes_ += length;
  // Refused before it is kept anywhere: a server streaming without end costs no memory.
  if (transfer->maximumBody_ != 0 && transfer->bodyBytes_ > transfer->maximumBody_) return 0;
  if (!transfer->responseSeen_) {
    transfer->responseSeen_ = true;
    long status = 0;
    curl_easy_getinfo(transfer->handle_, CURLINFO_RESPONSE_CODE, &status);
    if (transfer->onResponse) transfer->onResponse(status);
  }
  if (transfer->onData) transfer->onData(data, length);
  return length;
}

}  // namespace platform::curl
