// The refresh cycle on the simulated clock: two 60-second waits after every query, then a
// fresh lookup and query; nothing at all until the user starts it.
#include <gtest/gtest.h>

#include "fake_desktop.h"
#include "location/site_lookup.h"
#include "query/request_url.h"

namespace stormtally::testing {
namespace {

constexpr std::uint64_t kSecond = 1000, kMinute = 60 * kSecond, kHour = 60 * kMinute;
constexpr std::uint64_t kCycle = 2 * kMinute;
using Times = std::vector<std::uint64_t>;

struct CycleHarness : Harness {
  explicit CycleHarness(std::uint64_t requestMs = 0) {
    desktop.files[kSiteTableName] = "klsx||38.6986|-90.6828\r\nktlx||35.3334|-97.2778\r\n";
    answerWith("7", 200, requestMs);
  }
  void pressEnter() {
    int key = kEnterKey;
    widget.siteBoxKeyPress(key);
  }
  Times requestTimes() const {
    Times times;
    for (const auto& r : desktop.requests) times.push_back(r.atMs);
    return times;
  }
};

// Each query starts 120 s after the previous one ended, to the millisecond, all day long,
// whatever the service answers; once it answers again, the next query shows its count. A
// missing table keeps the coordinates the lookup has. A count in the body of an error answer is
// no count either.
TEST(RefreshCycle, QueriesEveryTwoMinutesAfterTheLastRequestEndedWithoutDrift) {
  // clang-format off
  const std::tuple<int, const char*, std::uint64_t, const char*, bool> cases[] = {
      {200, "7", 750, "7", false}, {0, "", 0, "--", false}, {0, "", kRequestTimeoutMs, "--", false},
      {500, "5", 40, "--", false}, {200, "<html>", 40, "--", false}, {200, "7", 0, "7", true}};
  // clang-format on
  for (const auto& [status, body, requestMs, caption, tableMissing] : cases) {
    CycleHarness h(requestMs);
    if (tableMissing) h.desktop.files.clear();
    h.desktop.advance(5 * kSecond);
    h.pressEnter();
    h.answerWith(body, status, requestMs);
    h.desktop.advance(24 * kHour);
    const Times times = h.requestTimes();
    ASSERT_EQ(times.size(), 1 + (24 * kHour + requestMs) / (kCycle + requestMs)) << caption;
    for (std::size_t k = 0; k < times.size(); ++k) {
      ASSERT_EQ(times[k], 5 * kSecond + k * (kCycle + requestMs)) << "query " << k;
    }
    EXPECT_EQ(h.desktop.requests.back().url,
              tableMissing ? buildRequestUrl(kTestService, "38.699", "-90.683", "128")
                           : buildRequestUrl(kTestService, "38.6986", "-90.6828", "128"));
    EXPECT_EQ(h.c.tstrikes.caption(), caption);
    h.answerWith("3", 200, 0);
    h.desktop.advance(kCycle + requestMs);
    EXPECT_EQ(h.c.tstrikes.caption(), "3");
  }
}

// Enter at any point of either wait queries at once and restarts the two minutes.
TEST(RefreshCycle, EnterDuringAWaitQueriesAtOnceAndRestartsTheTwoMinutes) {
  for (std::uint64_t afterRequest : {kSecond, kMinute - 1, kMinute + 1, kCycle - 1}) {
    CycleHarness h(300);
    h.pressEnter();
    h.desktop.advance(afterRequest);
    const std::uint64_t enterAt = h.desktop.nowMs, endedAt = enterAt + 300;
    h.pressEnter();
    h.desktop.runUntil(endedAt + kCycle - 1);
    EXPECT_EQ(h.requestTimes(), (Times{0, enterAt})) << "the old schedule must not fire";
    h.desktop.runUntil(endedAt + kCycle);
    EXPECT_EQ(h.requestTimes(), (Times{0, enterAt, endedAt + kCycle}));
  }
}

// Command1 pressed by the user during the second wait leaves both timers on; update then
// ticks first, on its old schedule, and switches the Timer1 the press started off. Pressed
// during the first wait it does not restart Timer1's interval; pressed while idle it starts
// the cycle.
TEST(RefreshCycle, Command1PressedByTheUserKeepsTheSchedule) {
  CycleHarness h;
  h.pressEnter();
  h.desktop.advance(90 * kSecond);
  h.widget.command1Pressed();
  h.desktop.runUntil(2 * kCycle);
  EXPECT_EQ(h.requestTimes(), (Times{0, 90 * kSecond, kCycle, 2 * kCycle}));
  CycleHarness idle;
  idle.widget.command1Pressed();
  idle.desktop.advance(30 * kSecond);
  idle.widget.command1Pressed();
  idle.desktop.runUntil(kCycle);
  EXPECT_EQ(idle.requestTimes(), (Times{0, 30 * kSecond, kCycle}));
}

// Hours of radar viewers and typing bring no lookup and no query until the user acts.
TEST(RefreshCycle, NeverQueriesWithoutAUserAction) {
  CycleHarness h;
  h.desktop.windows = {{"KTLX - GRLevel3 2.00", {}}, {"KEAX - GR2Analyst 2.80", {}}};
  h.desktop.advance(3 * kHour);
  h.widget.siteBoxEdited("KTLX");
  h.desktop.advance(3 * kHour);
  EXPECT_TRUE(h.desktop.requests.empty());
  EXPECT_EQ(std::count(h.desktop.log.begin(), h.desktop.log.end(), "read(radars.gis)"), 0);
}

}  // namespace
}  // namespace stormtally::testing
