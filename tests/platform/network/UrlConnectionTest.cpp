#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <thread>

#include "TestServers.h"
#include "platform/RunLoop.h"
#include "platform/NSURLConnection.h"

namespace {

double seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double threadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Writes down every callback, and on which thread it came.
class Recorder : public NSURLConnectionDelegate {
 public:
  void connectionDidReceiveResponse(NSURLConnection*, const NSURLResponse& response) override {
    note("response " + std::to_string(response.statusCode));
  }
  void connectionDidReceiveData(NSURLConnection*, const std::string& data) override {
    body += data;
    if (events.empty() || events.back() != "data") note("data");
  }
  void connectionDidFailWithError(NSURLConnection*, const NSError& failure) override {
    error = failure;
    note("fail");
  }
  void connectionDidFinishLoading(NSURLConnection*) override { note("finish"); }

  bool done() const { return !events.empty() && (events.back() == "fail" || events.back() == "finish"); }
  std::vector<std::string> events;
  std::string body;
  NSError error;
  bool offThread = false;

 private:
  void note(std::string event) {
    if (std::this_thread::get_id() != loopThread) offThread = true;
    events.push_back(std::move(event));
  }
  std::thread::id loopThread = std::this_thread::get_id();
};

NSMutableURLRequest post(const std::string& hostAndPort, std::string body, double timeout) {
  NSMutableURLRequest request("http://" + hostAndPort + "/");
  request.setHTTPMethod("POST");
  request.setHTTPBody(std::move(body));
  request.setTimeoutInterval(timeout);
  return request;
}

}  // namespace

TEST(UrlConnection, AsynchronousExchangeCallsBackInOrderOnTheLoop) {
  FakeCollectionServer server;
  server.answer(201, std::string(100000, 'z'));  // several pieces of body
  platform::RunLoop loop;
  Recorder recorder;
  auto connection = NSURLConnection::initWithRequest(post(server.hostAndPort(), "beacons=x%26y", 5), &recorder, loop);
  EXPECT_TRUE(recorder.events.empty());  // nothing happens until the loop runs
  ASSERT_TRUE(loop.runUntil([&] { return recorder.done(); }, 10));
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"response 201", "data", "finish"}));
  EXPECT_EQ(recorder.body, std::string(100000, 'z'));
  EXPECT_FALSE(recorder.offThread);
  EXPECT_TRUE(connection->isFinished());
  ASSERT_EQ(server.requestCount(), 1u);
  EXPECT_EQ(server.requests()[0].body, "beacons=x%26y");
  EXPECT_EQ(server.requests()[0].beacons, "x&y");
  EXPECT_EQ(server.requests()[0].contentType, "application/x-www-form-urlencoded");
}

TEST(UrlConnection, AsynchronousFailuresAreReported) {
  platform::RunLoop loop;
  Recorder refused;
  auto first = NSURLConnection::initWithRequest(post("127.0.0.1:" + std::to_string(closedPort()), "b", 5), &refused, loop);
  ASSERT_TRUE(loop.runUntil([&] { return refused.done(); }, 10));
  EXPECT_EQ(refused.events, std::vector<std::string>{"fail"});
  EXPECT_EQ(refused.error.code, 7);  // could not connect

  SilentServer silent;
  Recorder timedOut;
  const double start = seconds();
  auto second = NSURLConnection::initWithRequest(post(silent.hostAndPort(), "b", 0.3), &timedOut, loop);
  ASSERT_TRUE(loop.runUntil([&] { return timedOut.done(); }, 10));
  EXPECT_EQ(timedOut.events, std::vector<std::string>{"fail"});
  EXPECT_EQ(timedOut.error.code, 28);  // timed out
  EXPECT_LT(seconds() - start, 3.0);
  EXPECT_FALSE(timedOut.error.localizedDescription.empty());
}

TEST(UrlConnection, CancelledConnectionIsSilentAndLeavesTheLoopEmpty) {
  FakeCollectionServer server;
  server.answer(200, "success", 0.3);
  platform::RunLoop loop;
  loop.useVirtualTime();
  Recorder recorder;
  auto connection = NSURLConnection::initWithRequest(post(server.hostAndPort(), "b", 5), &recorder, loop);
  loop.runOnce(0);
  connection->cancel();
  // In virtual time the loop returns once nothing is left: no fd source or timer of the cancelled
  // exchange may stay behind. The real-time guard only stops a hang.
  const double start = seconds();
  loop.runUntil([&] { return seconds() - start > 10; }, 1e12);
  EXPECT_LT(seconds() - start, 10);
  EXPECT_TRUE(recorder.events.empty());
}

TEST(UrlConnection, VirtualTimeLoopStillCompletesTheExchange) {
  FakeCollectionServer server;
  server.answer(200, "success", 0.3);  // real seconds, while the loop races through virtual ones
  platform::RunLoop loop;
  loop.useVirtualTime();
  int ticks = 0;
  loop.addTimer(1.0 / 24, 1.0 / 24, [&] { ++ticks; });
  Recorder recorder;
  auto connection = NSURLConnection::initWithRequest(post(server.hostAndPort(), "b", 10), &recorder, loop);
  const double start = seconds();
  loop.runUntil([&] { return recorder.done() || seconds() - start > 20; }, 1e12);
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"response 200", "data", "finish"}));
  EXPECT_EQ(recorder.body, "success");
  EXPECT_GT(ticks, 24);  // the loop's clock did not wait for the network
}

TEST(UrlConnection, WaitingForAnAnswerInRealTimeDoesNotSpin) {
  FakeCollectionServer server;
  server.answer(200, "success", 1.0);
  platform::RunLoop loop;
  Recorder recorder;
  auto connection = NSURLConnection::initWithRequest(post(server.hostAndPort(), "b", 10), &recorder, loop);
  const double cpuBefore = threadCpuSeconds();
  const double start = seconds();
  ASSERT_TRUE(loop.runUntil([&] { return recorder.done(); }, 10));
  EXPECT_GE(seconds() - start, 0.9);
  EXPECT_LT(threadCpuSeconds() - cpuBefore, 0.25) << "the loop burnt CPU while waiting";
}

TEST(UrlConnection, SynchronousRequestReturnsAnyAnsweredBodyAndNoneOnFailure) {
  FakeCollectionServer server;
  server.answer(500, "broken");
  NSURLResponse response;
  EXPECT_EQ(NSURLConnection::sendSynchronousRequest(post(server.hostAndPort(), "a=1", 5), &response), "broken");
  EXPECT_EQ(response.statusCode, 500);

  NSError error;
  EXPECT_FALSE(NSURLConnection::sendSynchronousRequest(
      post("127.0.0.1:" + std::to_string(closedPort()), "a=1", 5), nullptr, &error));
  EXPECT_EQ(error.code, 7);
  EXPECT_FALSE(NSURLConnection::sendSynchronousRequest(post("not a url", "a=1", 5), nullptr, &error));
}

TEST(UrlConnection, ABodyPastTheRequestsLimitFailsTheExchange) {
  FakeCollectionServer server;
  server.answerEndlessly();
  NSMutableURLRequest request = post(server.hostAndPort(), "b", 3);
  request.setMaximumResponseLength(4096);

  platform::RunLoop loop;
  Recorder recorder;
  auto connection = NSURLConnection::initWithRequest(request, &recorder, loop);
  ASSERT_TRUE(loop.runUntil([&] { return recorder.done(); }, 10));
  EXPECT_EQ(recorder.events.back(), "fail");
  EXPECT_EQ(recorder.error.code, 23);  // refused by the writer, not timed out
  EXPECT_LE(recorder.body.size(), 4096u);

  NSError error;
  EXPECT_FALSE(NSURLConnection::sendSynchronousRequest(request, nullptr, &error));
  EXPECT_EQ(error.code, 23);
  EXPECT_NE(error.localizedDescription.find("4096 bytes"), std::string::npos) << error.localizedDescription;
}
