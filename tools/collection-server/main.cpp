// quibblers-collection-server: a local stand-in for the analytics collection server. It accepts
// the app's POST to "/", decodes the "beacons" form field, prints each session and sub-session,
// and answers "success", so the app deletes what it sent. Flags make it fail, stall or answer
// something else, to watch the app keep its sessions for the next attempt.
#include <httplib.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <mutex>
#include <thread>

#include "UploadReport.h"

#ifndef QB_COLLECTION_SERVER
#define QB_COLLECTION_SERVER "127.0.0.1:8787"
#endif

namespace {

std::string timestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buffer[16];
  std::strftime(buffer, sizeof buffer, "%H:%M:%S", &local);
  return buffer;
}

bool splitHostPort(const std::string& text, std::string& host, int& port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  host = text.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  try {
    size_t used = 0;
    port = std::stoi(text.substr(colon + 1), &used);
    return used == text.size() - colon - 1 && port > 0 && port < 65536;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Local collection server for Quibblers' usage reports"};
  std::string listen = QB_COLLECTION_SERVER;
  bool fail = false;
  bool garbage = false;
  double delay = 0.0;
  app.add_option("--listen", listen, "HOST:PORT to listen on")->capture_default_str();
  app.add_flag("--fail", fail, "answer HTTP 500 \"failure\": the app keeps its sessions");
  app.add_flag("--garbage", garbage, "answer HTTP 200 with a body other than \"success\": the app keeps its sessions");
  app.add_option("--delay", delay, "wait SECONDS before answering (the app gives up after 10 s at launch, 5 s at exit)")
      ->check(CLI::NonNegativeNumber);
  CLI11_PARSE(app, argc, argv);

  std::string host;
  int port = 0;
  if (!splitHostPort(listen, host, port)) {
    std::cerr << "collection server: --listen needs HOST:PORT, not \"" << listen << "\"\n";
    return 2;
  }

  std::mutex printing;
  httplib::Server server;
  server.Post("/", [&](const httplib::Request& request, httplib::Response& response) {
    std::string error;
    std::optional<std::string> report;
    if (request.has_param("beacons")) {
      report = describeUpload(request.get_param_value("beacons"), error);
    } else {
      error = "no \"beacons\" form field";
    }
    if (delay > 0) std::this_thread::sleep_for(std::chrono::duration<double>(delay));
    std::string answer = "success";
    response.status = 200;
    if (!report) {
      response.status = 400;
      answer = "failure";
    } else if (fail) {
      response.status = 500;
      answer = "failure";
    } else if (garbage) {
      answer = "thanks, I guess";
    }
    response.set_content(answer, "text/plain");
    std::lock_guard lock(printing);
    std::cout << timestamp() << " upload from " << request.remote_addr << ", " << request.body.size() << " bytes\n";
    std::cout << (report ? *report : "  unreadable: " + error + "\n");
    std::cout << "  answered " << response.status << " \"" << answer << "\"\n" << std::flush;
  });

  if (!server.bind_to_port(host, port)) {
    std::cerr << "collection server: cannot listen on " << listen << "\n";
    return 1;
  }
  std::cout << "collection server listening on http://" << listen << "/"
            << (fail ? " (failing)" : garbage ? " (answering garbage)" : "")
            << (delay > 0 ? " (answering after " + std::to_string(delay) + " s)" : "") << "\n"
            << std::flush;
  server.listen_after_bind();
  return 0;
}
