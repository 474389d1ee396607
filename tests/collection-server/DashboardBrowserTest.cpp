// The dashboard in a real browser (Debian's headless chromium): it loads without a console
// message, and its numbers are the ones sent.
#include <gtest/gtest.h>

#include <fstream>

#include "ChildProcess.h"
#include "CollectorHarness.h"
#include "TempDir.h"

namespace {

TEST(DashboardInBrowser, LoadsCleanlyAndShowsTheNumbersSent) {
  if (!ChildProcess::available("chromium")) GTEST_SKIP() << "no chromium here; scripts/install-deps installs it";
  std::string skip;
  const auto database = TestDatabase::create("sqlite", skip);
  const auto store = database->store();
  RunningService service(store.get());
  // Sent twice: the page counts it once. A name that would run script if it were not escaped.
  const std::string body = uploadBody({{"7", "1700000000", "1700000090", {{"1", "<script>console.error('injected')</script>", "1700000001", ""}}},
                                       {"8", "1700000100", "1700000130", {{"2", "menu", "1700000101", ""}}},
                                       {"9", "1700000200", "1700000250", {{"3", "menu", "1700000201", ""}}}});
  ASSERT_EQ(service.post(body)->body, "success");
  ASSERT_EQ(service.post(body)->body, "success");

  TempDir profile;
  const std::string output = profile.file("chromium.log");
  {
    ChildProcess browser({"chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                          "--disable-background-networking", "--disable-component-update", "--disable-sync",
                          "--user-data-dir=" + profile.file("profile"), "--enable-logging=stderr", "--v=0",
                          "--dump-dom", "http://127.0.0.1:" + std::to_string(service.port()) + "/"},
                         {}, output);
    ASSERT_EQ(browser.wait(120).value_or(-1), 0) << readTextFile(output);
  }
  const std::string log = readTextFile(output);
  // The page has no script: any console line is a fault (a blocked load, an error, injected code).
  EXPECT_EQ(log.find(":CONSOLE"), std::string::npos) << log;
  for (const char* shown : {"id=\"sessions\">3<", "id=\"sub-sessions\">3<", "id=\"median\">50 s<",
                            "<td>menu</td><td class=\"n\">2</td>", "&lt;script&gt;console.error('injected')&lt;/script&gt;",
                            "<title>2023-11-14: 3 session(s)</title>"}) {
    EXPECT_NE(log.find(shown), std::string::npos) << shown << " in\n" << log;
  }
}

}  // namespace
