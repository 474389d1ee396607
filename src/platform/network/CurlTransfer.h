#pragma once
// One HTTP exchange on a libcurl easy handle, shared by the synchronous request and the run-loop
// connection: options from the request, the response collected as it arrives.
#include <curl/curl.h>

#include <algorithm>
#include <functional>
#include <string>

#include "platform/NSURLConnection.h"

namespace platform::curl {

// Once per process, before any handle is made.
void ensureGlobalInit();

class Transfer {
 public:
  // Called as the status line and headers of the final response are complete, then with each
  // piece of body, from inside libcurl.
  std::function<void(long status)> onResponse;
  std::function<void(const char* data, size_t size)> onData;

  explicit Transfer(const NSMutableURLRequest& request);
  ~Transfer();
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  CURL* handle() const { return handle_; }
  bool valid() const { return handle_ != nullptr && setupError_ == CURLE_OK; }
  CURLcode setupError() const { return setupError_; }
  // A failed exchange as an error for the delegate.
  NSError errorFor(CURLcode code) const;

 private:
  static size_t headerCallback(char* data, size_t size, size_t count, void* self);
  static size_t writeCallback(char* data, size_t size, size_t count, void* self);

  CURL* handle_ = nullptr;
  curl_slist* headers_ = nullptr;
  std::string body_;
  std::string method_;
  char errorBuffer_[CURL_ERROR_SIZE] = {};
  CURLcode setupError_ = CURLE_OK;
  bool responseSeen_ = false;
  size_t maximumBody_ = 0;  // 0: no limit
  size_t bodyBytes_ = 0;
  size_t headerBytes_ = 0;
};

}  // namespace platform::curl
