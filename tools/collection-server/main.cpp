// quibblers-collection-server: the collector for the app's usage reports. It keeps every upload
// it accepts in a database (SQLite by default, or PostgreSQL) and answers "success" only once
// the upload is committed; GET / and `report` show what has been collected. `--print-only`
// keeps the old stand-in that prints and keeps nothing; `--fail`, `--garbage` and `--delay` make
// it misbehave, to watch the app keep its sessions.
#include <sys/resource.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <thread>

#include "CollectionService.h"
#include "TerminalReport.h"

#ifndef QB_COLLECTION_SERVER
#define QB_COLLECTION_SERVER "127.0.0.1:8787"
#endif

namespace {

bool splitHostPort(const std::string& text, std::string& host, int& port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  host = text.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  try {
    size_t used = 0;
    port = std::stoi(text.substr(colon + 1), &used);
    return used == text.size() - colon - 1 && port >= 0 && port < 65536;
  } catch (const std::exception&) {
    return false;
  }
}

std::unique_ptr<SessionStore> open(const std::string& where) {
  try {
    return openSessionStore(where);
  } catch (const std::exception& e) {
    std::cerr << "collection server: " << e.what() << "\n";
    return nullptr;
  }
}

// Every connection is a file: take the whole allowance, and keep the connection cap under it.
unsigned connectionsWithinFileLimit(unsigned wanted) {
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) != 0) return wanted;
  if (files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    getrlimit(RLIMIT_NOFILE, &files);
  }
  // Room for the database, the listening socket and the standard streams.
  constexpr rlim_t kReserved = 64;
  const rlim_t room = files.rlim_cur > kReserved ? files.rlim_cur - kReserved : 1;
  return static_cast<unsigned>(std::min<rlim_t>(wanted, room));
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Collector for Quibblers' usage reports: keeps each accepted upload in a database"};
  app.fallthrough();
  app.set_version_flag("--version", "quibblers-collection-server " QB_VERSION, "print the version and exit");
  std::string listen = QB_COLLECTION_SERVER;
  std::string database = defaultDatabasePath();
  bool printOnly = false;
  ServiceOptions options;
  double bodyTimeout = 10.0;
  double headerTimeout = 5.0;
  app.add_option("--listen", listen, "HOST:PORT to listen on (port 0: any free port)")->capture_default_str();
  app.add_option("--database", database,
                 "SQLite file, or postgresql://USER@HOST/DATABASE (a libpq connection URI)")
      ->capture_default_str();
  app.add_flag("--print-only", printOnly, "print each upload and answer \"success\" without keeping anything");
  app.add_flag("--fail", options.fail, "answer HTTP 500 \"failure\" and keep nothing: the app keeps its sessions");
  app.add_flag("--garbage", options.garbage,
               "keep the upload but answer HTTP 200 with a body other than \"success\": the app sends it again");
  app.add_option("--delay", options.delaySeconds,
                 "wait SECONDS before answering (the app gives up after 10 s at launch, 5 s at exit)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--max-body", options.maxBodyBytes, "refuse request bodies above BYTES with HTTP 413")
      ->capture_default_str()
      ->check(CLI::PositiveNumber);
  app.add_option("--body-timeout", bodyTimeout, "SECONDS a request body may take to arrive, from the end of its headers (disconnected after)")
      ->capture_default_str()
      ->check(CLI::PositiveNumber);
  app.add_option("--header-timeout", headerTimeout,
                 "SECONDS a client has for a request's headers, from connecting or from the previous answer")
      ->capture_default_str()
      ->check(CLI::PositiveNumber);
  app.add_option("--max-connections", options.maxConnections, "open connections at most (kept under the open-file limit)")
      ->capture_default_str()
      ->check(CLI::PositiveNumber);
  app.add_option("--max-connections-per-address", options.maxConnectionsPerAddress,
                 "open connections from one client address at most; 0: no cap (behind a reverse proxy)")
      ->capture_default_str();
  app.add_flag("--quiet", options.quiet, "no line per upload");
  CLI::App* report =
      app.add_subcommand("report", "print the figures of --database (as on the dashboard) and exit");
  CLI11_PARSE(app, argc, argv);

  if (*report) {
    // Reporting on a mistyped path should not create an empty database there.
    if (database.find("://") == std::string::npos && !std::filesystem::exists(database)) {
      std::cerr << "collection server: no database at " << database << "\n";
      return 1;
    }
    const auto store = open(database);
    if (!store) return 1;
    try {
      std::cout << terminalReport(store->figures(), store->describe());
    } catch (const std::exception& e) {
      std::cerr << "collection server: cannot read " << store->describe() << ": " << e.what() << "\n";
      return 1;
    }
    return 0;
  }

  std::string host;
  int port = 0;
  if (!splitHostPort(listen, host, port)) {
    std::cerr << "collection server: --listen needs HOST:PORT, not \"" << listen << "\"\n";
    return 2;
  }
  options.bodyTimeout = std::chrono::milliseconds(static_cast<long long>(bodyTimeout * 1000));
  options.headerTimeout = std::chrono::milliseconds(static_cast<long long>(headerTimeout * 1000));
  options.maxConnections = connectionsWithinFileLimit(options.maxConnections);
  std::unique_ptr<SessionStore> store;
  if (!printOnly) {
    store = open(database);
    if (!store) return 1;
  }

  // SIGINT and SIGTERM end the server within 2 s: uploads being stored are finished and answered,
  // the ones still waiting are answered 503.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  CollectionService service(store.get(), options, std::cout);
  if (!service.bind(host, port)) {
    std::cerr << "collection server: cannot listen on " << listen << "\n";
    return 1;
  }
  const std::string address = (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
                              std::to_string(service.port());
  std::cout << "collection server listening on http://" << address << "/"
            << (store ? ", keeping uploads in " + store->describe() : " (printing only, keeping nothing)")
            << (options.fail ? " (failing)" : options.garbage ? " (answering garbage)" : "")
            << (options.delaySeconds > 0 ? " (answering after " + std::to_string(options.delaySeconds) + " s)" : "")
            << "\n"
            << std::flush;
  std::thread stopper([&] {
    int received = 0;
    sigwait(&signals, &received);
    service.stop();
  });
  const auto ended = service.run();
  // run() also returns when listening fails; wake the signal thread then.
  pthread_kill(stopper.native_handle(), SIGTERM);
  stopper.join();
  if (ended == CollectionService::Ended::NotStarted) {
    std::cerr << "collection server: cannot serve on " << address << "\n";
    return 1;
  }
  if (ended == CollectionService::Ended::WhileStoring) {
    // An upload is still in the database's hands: its transaction commits whole or not at all,
    // and the app, having no answer, sends it again.
    std::cout << std::flush;
    std::_Exit(0);
  }
  return 0;
}
