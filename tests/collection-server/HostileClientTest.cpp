// The collector facing clients that break the rules: malformed and oversized requests, slow and
// idle connections, too many connections from one address, a stop in the middle of it all, and
// uploads built to exhaust memory, the stack or the operator's terminal.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "CollectorHarness.h"
#include "Formatting.h"
#include "TerminalReport.h"
#include "UploadReport.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

int connectFrom(int port, const char* source) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  inet_pton(AF_INET, source, &local.sin_addr);
  bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Everything the server sends until it closes the connection or `limit` passes.
struct Reply {
  std::string text;
  bool closed = false;
  double seconds = 0;
  int statuses() const {
    int n = 0;
    for (size_t at = text.find("HTTP/1."); at != std::string::npos; at = text.find("HTTP/1.", at + 1)) ++n;
    return n;
  }
};

Reply readReply(int fd, milliseconds limit, Clock::time_point since = Clock::now()) {
  Reply reply;
  char buffer[4096];
  pollfd wait{fd, POLLIN, 0};
  while (Clock::now() - since < limit) {
    const int left = static_cast<int>(std::chrono::duration_cast<milliseconds>(limit - (Clock::now() - since)).count());
    if (poll(&wait, 1, std::max(left, 1)) <= 0) continue;
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
      reply.closed = true;
      break;
    }
    reply.text.append(buffer, static_cast<size_t>(n));
  }
  reply.seconds = std::chrono::duration<double>(Clock::now() - since).count();
  return reply;
}

std::string postHead(size_t length) {
  return "POST / HTTP/1.1\r\nHost: t\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
         std::to_string(length) + "\r\n\r\n";
}

class HostileClients : public SqliteCollectorTest {};

TEST_F(HostileClients, MalformedOrOversizedRequestsAreAnsweredAtOnceAndNothingElseIsRead) {
  ServiceOptions options;
  options.maxBodyBytes = 1000;
  RunningService service(store.get(), options);
  const std::string upload = uploadBody({{"1", "1700000000", "1700000600", {}}});
  const std::string second = uploadBody({{"2", "1700000000", "1700000600", {}}});
  const std::string chunk(600, 'x');
  struct Case {
    const char* what;
    std::string request;
    const char* status;  // of the one answer
  };
  const Case cases[] = {
      {"a negative length", "POST / HTTP/1.1\r\nHost: t\r\nContent-Length: -1\r\n\r\n", " 400 "},
      {"a length that is no number", "POST / HTTP/1.1\r\nHost: t\r\nContent-Length: 12abc\r\n\r\n", " 400 "},
      // No body follows: the answer must not wait for it.
      {"a declared length above the limit", postHead(100000000), " 413 "},
      {"a pipelined second upload", postHead(upload.size()) + upload + postHead(second.size()) + second, " 200 "},
      {"a chunked body past the limit, then what looks like a request",
       "POST / HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\n258\r\n" + chunk + "\r\n258\r\n" + chunk +
           "\r\n0\r\n\r\nPOST / HTTP/1.1\r\nHost: t\r\nContent-Length: " + std::to_string(second.size()) + "\r\n\r\n" +
           second,
       " 413 "},
  };
  for (const Case& c : cases) {
    const int fd = connectFrom(service.port(), "127.0.0.1");
    ASSERT_GE(fd, 0);
    send(fd, c.request.data(), c.request.size(), MSG_NOSIGNAL);
    const Reply reply = readReply(fd, milliseconds(3000));
    close(fd);
    EXPECT_NE(reply.text.find(c.status), std::string::npos) << c.what << ": " << reply.text;
    EXPECT_EQ(reply.text.find(" 200 ", reply.text.find(c.status) + 1), std::string::npos) << c.what;
    EXPECT_TRUE(reply.closed) << c.what << ": the connection should close after its one answer";
    EXPECT_LT(reply.seconds, 1.0) << c.what;
  }
  EXPECT_EQ(stored(), "1") << "only the first of the pipelined uploads";
}

TEST_F(HostileClients, ClientsThatDoNotSendInTimeAreDroppedWithoutHoldingUpOthers) {
  ServiceOptions options;
  options.headerTimeout = milliseconds(400);
  options.bodyTimeout = milliseconds(800);
  options.workers = 1;
  options.maxConnectionsPerAddress = 0;  // all from 127.0.0.1 here
  RunningService service(store.get(), options);
  const std::string upload = uploadBody({{"1", "1700000000", "1700000600", {}}});
  struct Case {
    const char* what;
    std::string first;  // sent at once; then one more byte every 100 ms
    const char* drip;
    double droppedBy;  // seconds
  };
  const Case cases[] = {
      {"idle", "", nullptr, 0.4},
      {"headers one byte at a time", "POST / HTTP/1.1\r\n", "X-Slow: aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", 0.4},
      {"a body one byte at a time", postHead(upload.size()), upload.c_str(), 0.8},
      {"a body on a GET one byte at a time", "GET / HTTP/1.1\r\nHost: t\r\nContent-Length: 40\r\n\r\n",
       "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb", 0.8},
  };
  struct Client {
    const Case* c;
    int fd;
    std::optional<double> closedAfter;
    std::string received;
  };
  std::vector<Client> clients;
  const auto started = Clock::now();
  for (const Case& c : cases) {
    for (int i = 0; i < 8; ++i) {
      const int fd = connectFrom(service.port(), "127.0.0.1");
      ASSERT_GE(fd, 0);
      send(fd, c.first.data(), c.first.size(), MSG_NOSIGNAL);
      clients.push_back({&c, fd, std::nullopt, ""});
    }
  }
  // With every worker's worth of connections taken by clients that are not sending, an upload
  // is still answered at once.
  const auto before = Clock::now();
  const auto answer = service.post(upload);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->body, "success");
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - before).count(), 1.0);

  for (size_t step = 0; step < 25; ++step) {
    for (Client& client : clients) {
      if (client.closedAfter) continue;
      if (client.c->drip && step < std::strlen(client.c->drip)) send(client.fd, client.c->drip + step, 1, MSG_NOSIGNAL);
      char buffer[512];
      const ssize_t n = recv(client.fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n > 0) client.received.append(buffer, static_cast<size_t>(n));
      if (n == 0 || (n < 0 && errno != EAGAIN)) {
        client.closedAfter = std::chrono::duration<double>(Clock::now() - started).count();
      }
    }
    std::this_thread::sleep_for(milliseconds(100));
  }
  for (Client& client : clients) {
    close(client.fd);
    ASSERT_TRUE(client.closedAfter) << client.c->what;
    EXPECT_LT(*client.closedAfter, client.c->droppedBy + 1.0) << client.c->what;
    EXPECT_EQ(client.received.find(" 200 "), std::string::npos) << client.c->what;
  }
  EXPECT_EQ(stored(), "1");
}

TEST_F(HostileClients, ConnectionsFromOneAddressAreCapped) {
  ServiceOptions options;
  options.maxConnectionsPerAddress = 4;
  RunningService service(store.get(), options);
  std::vector<int> held;
  for (int i = 0; i < 4; ++i) held.push_back(connectFrom(service.port(), "127.0.0.2"));
  std::this_thread::sleep_for(milliseconds(100));
  const int extra = connectFrom(service.port(), "127.0.0.2");
  const Reply refused = readReply(extra, milliseconds(1000));
  EXPECT_TRUE(refused.closed);
  EXPECT_LT(refused.seconds, 0.5);
  EXPECT_EQ(service.post(uploadBody({{"1", "1700000000", "1700000600", {}}}))->body, "success")
      << "another address is not held up";
  for (int fd : held) {
    EXPECT_FALSE(readReply(fd, milliseconds(50)).closed);
    close(fd);
  }
  close(extra);
}

TEST_F(HostileClients, StopReturnsWithinTwoSecondsWhateverTheClientsAreDoing) {
  struct Case {
    const char* what;
    double delaySeconds;  // an upload stays with a worker this long
    CollectionService::Ended ended;
  };
  for (const Case& c : {Case{"clients sending headers slowly", 0, CollectionService::Ended::Cleanly},
                        Case{"an upload still being answered", 3, CollectionService::Ended::WhileStoring}}) {
    std::ostringstream log;
    ServiceOptions options;
    options.delaySeconds = c.delaySeconds;
    CollectionService service(store.get(), options, log);
    ASSERT_TRUE(service.bind("127.0.0.1", 0));
    std::optional<CollectionService::Ended> ended;
    std::thread server([&] { ended = service.run(); });
    while (!service.running()) std::this_thread::sleep_for(milliseconds(5));
    std::vector<int> clients;
    for (int i = 0; i < 20; ++i) {
      clients.push_back(connectFrom(service.port(), "127.0.0.1"));
      send(clients.back(), "POST / HTTP/1.1\r\n", 17, MSG_NOSIGNAL);
    }
    std::thread uploader;
    if (c.delaySeconds > 0) {
      uploader = std::thread([&] {
        httplib::Client client("127.0.0.1", service.port());
        client.Post("/", uploadBody({{"1", "1700000000", "1700000600", {}}}), "application/x-www-form-urlencoded");
      });
      std::this_thread::sleep_for(milliseconds(300));
    }
    const auto stopping = Clock::now();
    service.stop();
    server.join();
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - stopping).count(), 2.0) << c.what;
    EXPECT_EQ(ended, c.ended) << c.what;
    if (uploader.joinable()) uploader.join();
    for (int fd : clients) close(fd);
  }
}

TEST(HostileUploads, AreRefusedBeforeTheyCostMoreThanTheirBody) {
  const std::string session = R"({"id":"1","time_started":"1700000000"})";
  std::string manySessions;
  for (int i = 0; i < 101; ++i) manySessions += (i ? "," : "") + session;
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  auto document = [](const std::string& beacons, const std::string& extra = "") {
    return R"({"iphone_id":"d","application_code":"a")" + extra + R"(,"beacons":[)" + beacons + "]}";
  };
  struct Case {
    const char* what;
    std::string document;
    const char* error;  // "" when accepted
    bool tooLarge;
  };
  const Case cases[] = {
      {"the app's own extra keys", document(R"({"id":"1","time_started":"1700000000","x":{"y":[1,null]}})"), "", false},
      {"more sessions than allowed", document(manySessions), "more than 100 sessions", true},
      {"a text above the cap", document(session, R"(,"device_model":")" + std::string(257, 'm') + "\""),
       "device_model is longer than 256 bytes", false},
      {"a text far above the cap", document(session, R"(,"device_model":")" + std::string(1 << 20, 'm') + "\""),
       "longer than 256 bytes", false},
      {"a number a megabyte long", document(session, R"(,"n":)" + std::string(1 << 20, '1')), "longer than 64", false},
      {"a value nested 100,000 deep", document(session, ",\"x\":" + deep), "nested too deeply", false},
      {"sessions that are numbers", document("0,0,0"), "beacons[0] is not an object", false},
  };
  for (const Case& c : cases) {
    std::string error;
    bool tooLarge = false;
    const auto upload = decodeUpload(c.document, error, &tooLarge);
    EXPECT_EQ(upload.has_value(), std::string(c.error).empty()) << c.what << ": " << error;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.what << ": " << error;
    EXPECT_EQ(tooLarge, c.tooLarge) << c.what;
  }
}

TEST(TerminalText, ShowsControlCharactersAndBrokenBytesAsEscapes) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain \xC3\xA9t\xC3\xA9 \xE2\x80\xA6", "plain \xC3\xA9t\xC3\xA9 \xE2\x80\xA6"},
      {"\x1b]0;owned\x07\x1b[2J", "\\x1b]0;owned\\x07\\x1b[2J"},
      {"8-bit CSI \xC2\x9B" "2J, NEL \xC2\x85, NBSP \xC2\xA0", "8-bit CSI \\u009b2J, NEL \\u0085, NBSP \xC2\xA0"},
      {"raw C1 byte \x9b, cut \xC3", "raw C1 byte \\x9b, cut \\xc3"},
      {"ESC in disguise \xE0\x80\x9B", "ESC in disguise \\xe0\\x80\\x9b"},
      {"a forged \\x1b", "a forged \\\\x1b"},
  };
  for (const auto& [text, shown] : cases) EXPECT_EQ(terminalText(text), shown);

  std::string error;
  const std::string upload = R"({"iphone_id":"\u001b[31m","application_code":"a\u009b2J","beacons":[]})";
  const auto report = describeUpload(upload, error);
  ASSERT_TRUE(report) << error;
  EXPECT_EQ(report->substr(0, report->find(':')), "application a\\u009b2J version  on , system , device \\x1b[31m");

  Figures figures;
  figures.machineTypes = {{"\x1b[2J\xC2\x9B" "0m", 1}};
  figures.latest = {{1700000000, std::nullopt, 1700000000, false, "app\x07", "1", "", "", 0}};
  const std::string text = terminalReport(figures, "test");
  EXPECT_NE(text.find("\\x1b[2J\\u009b0m"), std::string::npos) << text;
  EXPECT_NE(text.find("app\\x07"), std::string::npos) << text;
}

TEST(ShortenedText, CutsLongTextsAtACharacterWithAnEllipsis) {
  EXPECT_EQ(shortened("short", 10), "short");
  EXPECT_EQ(shortened("abcdefghijkl", 10), "abcdefghij\xE2\x80\xA6");
  EXPECT_EQ(shortened("\xC3\xA9\xC3\xA9\xC3\xA9", 2), "\xC3\xA9\xC3\xA9\xE2\x80\xA6");
}

}  // namespace
