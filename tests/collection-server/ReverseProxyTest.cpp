// The deployment the documentation gives: the collector on loopback behind nginx with TLS,
// started from the shipped site file with a certificate made for the test.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>

#include "ChildProcess.h"
#include "CollectorHarness.h"
#include "TempDir.h"

namespace {

int freePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

void replace(std::string& text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
}

bool run(const std::vector<std::string>& argv, const std::string& log) {
  ChildProcess program(argv, {}, log);
  return program.wait(60).value_or(-1) == 0;
}

TEST(ReverseProxy, UploadsArriveThroughNginxWithTls) {
  for (const char* program : {"nginx", "openssl", "curl"}) {
    if (!ChildProcess::available(program) && !std::ifstream(std::string("/usr/sbin/") + program)) {
      GTEST_SKIP() << "no " << program << " here; scripts/install-deps installs it";
    }
  }
  std::string skip;
  const auto database = TestDatabase::create("sqlite", skip);
  const auto store = database->store();
  ServiceOptions options;
  options.maxConnectionsPerAddress = 0;
  RunningService collector(store.get(), options);

  TempDir dir;
  ASSERT_TRUE(run({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                   "-keyout", dir.file("key.pem"), "-out", dir.file("cert.pem"), "-days", "1", "-subj",
                   "/CN=collector.example.org", "-addext", "subjectAltName=DNS:collector.example.org"},
                  dir.file("openssl.log")))
      << readTextFile(dir.file("openssl.log"));
  const int http = freePort();
  const int https = freePort();
  std::string site = readTextFile(QB_NGINX_SITE);
  replace(site, "listen 80;", "listen 127.0.0.1:" + std::to_string(http) + ";");
  replace(site, "listen 443 ssl;", "listen 127.0.0.1:" + std::to_string(https) + " ssl;");
  replace(site, "/etc/ssl/certs/quibblers-collector.pem", dir.file("cert.pem"));
  replace(site, "/etc/ssl/private/quibblers-collector.key", dir.file("key.pem"));
  replace(site, "server 127.0.0.1:8787;", "server 127.0.0.1:" + std::to_string(collector.port()) + ";");
  std::ofstream(dir.file("site.conf")) << site;
  const std::string temp = dir.file("");
  std::ofstream(dir.file("nginx.conf"))
      << (geteuid() == 0 ? "user root;\n" : "") << "daemon off;\nworker_processes 1;\npid " << dir.file("nginx.pid")
      << ";\nerror_log " << dir.file("error.log") << ";\nevents {}\nhttp {\naccess_log off;\nclient_body_temp_path "
      << temp << ";\nproxy_temp_path " << temp << ";\nfastcgi_temp_path " << temp << ";\nuwsgi_temp_path " << temp
      << ";\nscgi_temp_path " << temp << ";\ninclude " << dir.file("site.conf") << ";\n}\n";
  ASSERT_TRUE(run({"nginx", "-t", "-p", dir.file(""), "-c", dir.file("nginx.conf")}, dir.file("check.log")))
      << readTextFile(dir.file("check.log")) << site;
  ChildProcess nginx({"nginx", "-p", dir.file(""), "-c", dir.file("nginx.conf")}, {}, dir.file("nginx.log"));

  std::ofstream(dir.file("upload")) << uploadBody({{"1", "1700000000", "1700000600", {{"1", "menu", "1700000010", ""}}}});
  std::ofstream(dir.file("large")) << std::string(9 * 1024 * 1024, 'x');
  struct Case {
    const char* what;
    std::string url;
    std::vector<std::string> request;
    std::string answer;  // status and body, as curl writes them
  };
  const std::string tls = "https://collector.example.org:" + std::to_string(https) + "/";
  const Case cases[] = {
      {"an upload over TLS", tls, {"--data-binary", "@" + dir.file("upload")}, "200 success"},
      {"the same upload over plain HTTP", "http://127.0.0.1:" + std::to_string(http) + "/",
       {"--data-binary", "@" + dir.file("upload")}, "200 success"},
      {"a body above the limit", tls, {"--data-binary", "@" + dir.file("large")}, "413 "},
      {"another path", tls + "admin", {}, "404 "},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv = {"curl", "-s", "-m", "20", "--cacert", dir.file("cert.pem"), "--resolve",
                                     "collector.example.org:" + std::to_string(https) + ":127.0.0.1", "-o",
                                     dir.file("body"), "-w", "%{http_code} ", c.url};
    argv.insert(argv.end(), c.request.begin(), c.request.end());
    std::string answer;
    for (int attempt = 0; attempt < 50; ++attempt) {  // nginx takes a moment to listen
      run(argv, dir.file("status"));
      answer = readTextFile(dir.file("status"));
      if (answer.rfind("000", 0) != 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ((answer + readTextFile(dir.file("body"))).substr(0, c.answer.size()), c.answer)
        << c.what << "\n" << readTextFile(dir.file("error.log"));
  }
  EXPECT_EQ(database->rows("SELECT COUNT(*) FROM session")[0], "1") << "stored once";
  EXPECT_EQ(nginx.stop(SIGTERM, 10), 0);
}

}  // namespace
