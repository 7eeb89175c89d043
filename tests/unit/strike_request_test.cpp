// The strike-count request: the address it builds, how the answer becomes the caption, and
// what it leaves behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <sstream>

#include "fake_desktop.h"
#include "protocol/wire_contract.h"
#include "query/count_text.h"

namespace stormtally::testing {
namespace {

const std::string kPathAndQuery = std::string(kTestService) + "/counter/Strike_Counter.php?";

TEST(RequestUrl, EncodesEveryValueSoNoneCanChangeTheQuery) {
  // clang-format off
  const std::array<const char*, 4> cases[] = {
      {"38.699", "-90.683", "128", "lat=38.699&lon=-90.683&distance=128"},
      {"", "", "", "lat=&lon=&distance="},
      {"1&lon=2", "#x", "5 0", "lat=1%26lon%3D2&lon=%23x&distance=5%200"},
      {"+1", "a/b?c", "~_.-", "lat=%2B1&lon=a%2Fb%3Fc&distance=~_.-"},
      {"\xC3\xA9", "%", "\r\n", "lat=%C3%A9&lon=%25&distance=%0D%0A"}};
  // clang-format on
  for (const auto& [lat, lon, distance, query] : cases) {
    EXPECT_EQ(wire::countUrl(kTestService, lat, lon, distance), kPathAndQuery + query);
  }
  EXPECT_EQ(wire::countUrl("https://h:8443/", "1", "2", "3"),
            "https://h:8443/counter/Strike_Counter.php?lat=1&lon=2&distance=3");
}

// 9223372036854775807 is 2^63 as a double: its floor does not fit.
TEST(CountText, BodyToCaption) {
  // clang-format off
  const std::pair<const char*, const char*> counts[] = {
      {"17", "17"}, {"17.9", "17"}, {"-2.5", "-3"}, {" 42 ", "42"}, {"42\r\n", "42"},
      {"\t0\n", "0"}, {"-0", "0"}, {"-0.1", "-1"}, {"+5", "5"}, {"1e3", "1000"}, {"2.5E+1", "25"},
      {".5", "0"}, {"5.", "5"}, {"0017", "17"}, {"1e18", "1000000000000000000"},
      {"-9223372036854775808", "-9223372036854775808"},
      {"9223372036854774784", "9223372036854774784"}};
  for (const char* body : {"abc", "", "   ", "12 apples", "12,5", "1 2", "1e300", "-1e19", "1e400",
                           "1e-400", "inf", "nan", "0x10", "1e", "-", ".", "<html>503</html>",
                           "9223372036854775807"}) {
    EXPECT_EQ(countFromBody(body), std::nullopt) << '"' << body << '"';
  }
  // clang-format on
  for (const auto& [body, caption] : counts) EXPECT_EQ(countFromBody(body), caption) << body;
}

// Before it asks, the request keeps the window on top, parks the keyboard focus and repaints;
// while the answer is out the count stays, the status says so and the first wait has not begun.
TEST(Command1, AsksForTheCurrentModesLocationAndShowsTheFlooredCountWhenTheAnswerIsIn) {
  Harness h;
  std::vector<std::string> logAtGet;
  h.answerWith("17.9", 200, 10000);
  h.desktop.onRequest = [&] { logAtGet = std::exchange(h.desktop.log, {}); };
  h.c.Command1.press();
  const std::string url = kPathAndQuery + "lat=38.699&lon=-90.683&distance=128";
  EXPECT_EQ(logAtGet, (std::vector<std::string>{"on top", "focus", "repaint", "GET " + url}));
  h.desktop.advance(9999);
  EXPECT_EQ(std::make_pair(h.c.tstrikes.caption(), h.c.Timer1.enabled()),
            std::make_pair(std::string("0000"), false));
  EXPECT_EQ(h.widget.statusText(), "KLSX, within 128 mi\nasking strikes.test\u2026");
  h.desktop.advance(1);
  EXPECT_EQ(h.c.tstrikes.caption(), "17");
  EXPECT_TRUE(h.c.Timer1.enabled());  // the custom location's address is custom_location_test's
  h.desktop.pointerOnWindow = true;   // a raise now would only keep the tooltip from showing
  h.desktop.log.clear();
  h.c.Command1.press();
  EXPECT_EQ(logAtGet, (std::vector<std::string>{"focus", "repaint", "GET " + url}));
}

// One request at a time: a new one ends the one out, and only the latest one's answer changes
// the count, however late or out of order the others arrive; none does once the program has
// ended. Each step, then the caption after it and "+" when Timer1 is on: "ask" presses
// Command1, a digit delivers that request's answer (the request's number), "none" asks with no
// address (the mode flag neither 0 nor 1), "end" closes the widget.
TEST(Command1, OnlyTheLatestRequestsAnswerChangesTheCount) {
  for (const char* run :
       {"ask 0000 ask 0000 1 0000 2 2+", "ask 0000 ask 0000 2 2+ 1 2+", "ask 0000 1 1+ ask 1 1 1",
        "ask 0000 none --+ 1 --+", "ask 0000 end 0000 1 0000"}) {
    Harness h;
    std::istringstream steps(run);
    for (std::string step, shown; steps >> step >> shown;) {
      if (step == "ask" || step == "none") {
        h.c.USR.setValue(step == "ask" ? 0 : 2);
        h.c.Timer1.setEnabled(false);
        h.c.Command1.press();
      }
      if (step == "end") h.widget.closeRequested();
      if (std::isdigit(step[0]))
        h.desktop.deliver(std::stoul(step) - 1, {true, 200, step, FailureKind::None, 0, ""});
      EXPECT_EQ(h.c.tstrikes.caption() + (h.c.Timer1.enabled() ? "+" : ""), shown) << run;
    }
    EXPECT_EQ(h.desktop.cancels, std::string(run).find("none") != std::string::npos) << run;
  }
}

// Which bodies are no count is CountText's table, and the words for each failure are
// StatusText's; the cycle's failures over time are refresh_cycle_test's; no address is the
// latest request's test's. Each failure says why, and tells the debugger.
TEST(Command1, EveryFailureShowsDashesSaysWhyAndStillStartsTheFirstWait) {
  // clang-format off
  const std::pair<int, const char*> rows[] = {{0, "cannot connect to strikes.test"},
      {503, "HTTP status 503: 0"}, {200, "is not a number: abc"}};
  // clang-format on
  for (const auto& [status, why] : rows) {
    Harness h;
    h.answerWith("41");
    h.c.Command1.press();  // a good count first: a failure must not keep it
    h.settle();
    h.c.Timer1.setEnabled(false);
    h.answerWith(status == 200 ? "abc" : "0", status);
    h.c.Command1.press();
    h.settle();
    EXPECT_EQ(h.c.tstrikes.caption(), "--") << status;
    EXPECT_TRUE(h.c.Timer1.enabled()) << status;
    EXPECT_EQ(h.desktop.requests.size(), 2u) << status;
    EXPECT_NE(h.widget.statusText().find(why), std::string::npos) << h.widget.statusText();
    EXPECT_THAT(h.desktop.debugLines, ::testing::ElementsAre(::testing::HasSubstr(why)));
  }
}

}  // namespace
}  // namespace stormtally::testing
