// The collector's HTTP side: what it reads from a request, the limits on bodies, and the page.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "CollectorHarness.h"

namespace {

TEST(UploadBody, TheDocumentArrivesWhetherFormEncodedOrSentAsItIs) {
  struct Case {
    const char* body;
    std::optional<std::string> document;
  };
  const Case cases[] = {
      {R"(beacons={"a":"x&y+z%"})", R"({"a":"x&y+z%"})"},
      {"beacons=%7B%22a%22%3A%22x%26y%2Bz%25%C3%A9%22%7D", "{\"a\":\"x&y+z%\xC3\xA9\"}"},
      {"beacons=%7B%7D&other=1", "{}"},
      {"beacons=%7B%2", std::nullopt},
      {"beacons=%7G", std::nullopt},
      {"other=%7B%7D", std::nullopt},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(uploadDocument(c.body, error), c.document) << c.body;
    EXPECT_EQ(error.empty(), c.document.has_value()) << c.body;
  }
}

class Limits : public SqliteCollectorTest {};

TEST_F(Limits, ABodyAboveTheLimitIsRefusedWith413) {
  ServiceOptions options;
  const std::string body = uploadBody({{"1", "1700000000", "1700000600", {{"1", std::string(200, 'x'), "1700000010", ""}}}});
  options.maxBodyBytes = body.size() - 1;
  RunningService service(store.get(), options);
  httplib::Client client("127.0.0.1", service.port());
  // With its length declared, and in chunks of unknown total length.
  const auto declared = client.Post("/", body, "application/x-www-form-urlencoded");
  const auto chunked = client.Post(
      "/",
      [&](size_t offset, httplib::DataSink& sink) {
        if (offset < body.size()) {
          sink.write(body.data() + offset, std::min<size_t>(100, body.size() - offset));
        } else {
          sink.done();
        }
        return true;
      },
      "application/x-www-form-urlencoded");
  for (const auto* answer : {&declared, &chunked}) {
    ASSERT_TRUE(*answer);
    EXPECT_EQ((*answer)->status, 413);
  }
  EXPECT_EQ(stored(), "0");
  options.maxBodyBytes = body.size();
  RunningService roomy(store.get(), options);
  EXPECT_EQ(roomy.post(body)->body, "success");
}

// Sends a POST whose body comes `piece` bytes at a time, one piece every `pause`, stopping once
// the server answers or hangs up; the answer's status line, or "" when there is none.
std::string postSlowly(int port, const std::string& body, size_t piece, std::chrono::milliseconds pause) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return "cannot connect";
  }
  const std::string head = "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  send(fd, head.data(), head.size(), MSG_NOSIGNAL);
  pollfd wait{fd, POLLIN, 0};
  for (size_t sent = 0; sent < body.size() && poll(&wait, 1, static_cast<int>(pause.count())) == 0;) {
    const size_t n = piece == 0 ? 0 : std::min(piece, body.size() - sent);
    if (n > 0 && send(fd, body.data() + sent, n, MSG_NOSIGNAL) < 0) break;
    sent += n;
    if (piece == 0 && poll(&wait, 1, 30000) >= 0) break;  // stalled: wait for the server to give up
  }
  std::string answer;
  char buffer[256];
  timeval limit{30, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
  if (n > 0) answer.assign(buffer, static_cast<size_t>(n));
  close(fd);
  return answer.substr(0, answer.find("\r\n"));
}

TEST_F(Limits, ABodyThatComesTooSlowlyTimesOutAndNothingIsKept) {
  ServiceOptions options;
  options.readTimeout = std::chrono::milliseconds(300);
  options.bodyTimeout = std::chrono::milliseconds(600);
  RunningService service(store.get(), options);
  const std::string body = uploadBody({{"1", "1700000000", "1700000600", {}}});
  struct Case {
    const char* what;
    size_t piece;  // 0: the body never comes
    std::chrono::milliseconds pause;
  };
  for (const Case& c : {Case{"stalled", 0, std::chrono::milliseconds(50)},
                        Case{"trickling", 1, std::chrono::milliseconds(50)}}) {
    const std::string status = postSlowly(service.port(), body, c.piece, c.pause);
    EXPECT_TRUE(status.empty() || status.find(" 408 ") != std::string::npos) << c.what << ": " << status;
  }
  EXPECT_EQ(stored(), "0");
  EXPECT_EQ(postSlowly(service.port(), body, body.size(), std::chrono::milliseconds(1)), "HTTP/1.1 200 OK");
}

TEST_F(Limits, ThePageShowsTheAppsTextsAsTextOnly) {
  TestDevice device;
  device.model = "<b>bold</b>";
  device.version = "1\"2'3&4";
  RunningService service(store.get());
  ASSERT_EQ(service.post(uploadBody({{"1", "1700000000", "1700000600",
                                      {{"1", "<script>console.error(1)</script>", "1700000010", ""}}}},
                                    device))
                ->body,
            "success");
  httplib::Client client("127.0.0.1", service.port());
  const auto page = client.Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_EQ(page->body.find("<script"), std::string::npos);
  EXPECT_EQ(page->body.find("<b>"), std::string::npos);
  for (const char* shown : {"&lt;script&gt;console.error(1)&lt;/script&gt;", "&lt;b&gt;bold&lt;/b&gt;",
                            "1&quot;2&#39;3&amp;4"}) {
    EXPECT_NE(page->body.find(shown), std::string::npos) << shown;
  }
  EXPECT_NE(page->get_header_value("Content-Security-Policy").find("default-src 'none'"), std::string::npos);
}

}  // namespace
