#include "CollectionService.h"

#include <ctime>
#include <iostream>
#include <thread>

#include "Dashboard.h"
#include "UploadReport.h"

namespace {

std::string timestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buffer[16];
  std::strftime(buffer, sizeof buffer, "%H:%M:%S", &local);
  return buffer;
}

void answer(httplib::Response& response, int status, const std::string& text) {
  response.status = status;
  response.set_content(text, "text/plain; charset=utf-8");
}

}  // namespace

CollectionService::CollectionService(SessionStore* store, ServiceOptions options, std::ostream& log)
    : store_(store), options_(options), log_(log) {
  using namespace std::chrono;
  server_.set_payload_max_length(options_.maxBodyBytes);
  // Small answers go out at once instead of waiting on the client's delayed acknowledgement.
  server_.set_tcp_nodelay(true);
  const auto read = duration_cast<microseconds>(options_.readTimeout).count();
  server_.set_read_timeout(read / 1000000, read % 1000000);
  server_.Post("/", [this](const httplib::Request& request, httplib::Response& response,
                           const httplib::ContentReader& reader) { upload(request, response, reader); });
  server_.Get("/", [this](const httplib::Request&, httplib::Response& response) { dashboard(response); });
}

bool CollectionService::bind(const std::string& host, int port) {
  if (port == 0) {
    port_ = server_.bind_to_any_port(host);
    return port_ > 0;
  }
  port_ = port;
  return server_.bind_to_port(host, port);
}

void CollectionService::run() { server_.listen_after_bind(); }

void CollectionService::stop() { server_.stop(); }

void CollectionService::upload(const httplib::Request& request, httplib::Response& response,
                               const httplib::ContentReader& reader) {
  if (request.is_multipart_form_data()) {
    answer(response, 400, "refused: a multipart body is not an upload");
    return note(request, 0, "multipart body", response);
  }
  const auto started = std::chrono::steady_clock::now();
  const auto deadline = started + options_.bodyTimeout;
  std::string body;
  bool tooLarge = false;
  bool tooSlow = false;
  const bool read = reader([&](const char* data, size_t length) {
    if (body.size() + length > options_.maxBodyBytes) {
      tooLarge = true;
      return false;
    }
    body.append(data, length);
    if (std::chrono::steady_clock::now() > deadline) {
      tooSlow = true;
      return false;
    }
    return true;
  });
  // httplib refuses a declared length above the limit itself, without reading the body.
  if (tooLarge || (!read && response.status == 413)) {
    answer(response, 413, "refused: the body is larger than " + std::to_string(options_.maxBodyBytes) + " bytes");
    return note(request, body.size(), "too large", response);
  }
  // A read that failed after waiting out the read time-out is a stalled client; one that failed
  // at once is a body cut short or in an encoding that does not decode.
  if (tooSlow || (!read && std::chrono::steady_clock::now() - started >= options_.readTimeout)) {
    answer(response, 408, "refused: the body did not arrive in time");
    return note(request, body.size(), "incomplete body", response);
  }
  if (!read) {
    answer(response, 400, "refused: the body could not be read");
    return note(request, body.size(), "unreadable body", response);
  }

  std::string error;
  std::optional<Upload> decoded;
  if (const auto document = uploadDocument(body, error)) {
    if (!store_) {
      // Printing only: the readable report is the log line.
      const auto report = describeUpload(*document, error);
      if (report) decoded = Upload{};
      if (report && !options_.quiet) {
        std::lock_guard lock(logging_);
        log_ << *report;
      }
    } else {
      decoded = decodeUpload(*document, error);
    }
  }
  if (!decoded) {
    answer(response, 400, "refused: " + error);
    return note(request, body.size(), "unreadable: " + error, response);
  }
  const auto delay = [this] {
    if (options_.delaySeconds > 0) std::this_thread::sleep_for(std::chrono::duration<double>(options_.delaySeconds));
  };
  if (options_.fail) {
    delay();
    answer(response, 500, "failure");
    return note(request, body.size(), "not kept (--fail)", response);
  }

  std::string what = "printed, not kept";
  if (store_) {
    try {
      const SaveOutcome saved = store_->save(*decoded, static_cast<std::int64_t>(std::time(nullptr)));
      what = std::to_string(decoded->sessions.size()) + " session(s): " + std::to_string(saved.added) + " new, " +
             std::to_string(saved.known) + " already stored";
    } catch (const std::exception& e) {
      // The app keeps its sessions and sends them again with its next upload.
      answer(response, 503, "failure: the upload could not be stored");
      return note(request, body.size(), std::string("not stored: ") + e.what(), response);
    }
  }
  delay();
  answer(response, 200, options_.garbage ? "thanks, I guess" : "success");
  note(request, body.size(), what, response);
}

void CollectionService::dashboard(httplib::Response& response) {
  std::string page;
  if (!store_) {
    page = dashboardUnavailablePage("This collector only prints what it receives (--print-only); nothing is kept.");
  } else {
    try {
      page = dashboardPage(store_->figures(), store_->describe());
    } catch (const std::exception& e) {
      {
        std::lock_guard lock(logging_);
        log_ << timestamp() << " dashboard: " << e.what() << "\n" << std::flush;
      }
      response.status = 503;
      page = dashboardUnavailablePage("The database cannot be read just now.");
    }
  }
  // Nothing but the page itself and its inline style may load.
  response.set_header("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'; img-src data:");
  response.set_header("Cache-Control", "no-store");
  response.set_content(page, "text/html; charset=utf-8");
}

void CollectionService::note(const httplib::Request& request, size_t bytes, const std::string& what,
                             const httplib::Response& response) {
  if (options_.quiet) return;
  std::lock_guard lock(logging_);
  log_ << timestamp() << " upload from " << request.remote_addr << ", " << bytes << " bytes: " << what
       << "; answered " << response.status << " \"" << response.body << "\"\n"
       << std::flush;
}
