// The refresh cycle on the simulated clock: two 60-second waits after every query, then a
// fresh lookup and query; nothing at all until the user starts it.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/lifecycle.h"
#include "fake_desktop.h"
#include "location/site_lookup.h"
#include "query/refresh_cycle.h"
#include "query/request_url.h"

namespace stormtally::testing {
namespace {

constexpr std::uint64_t kSecond = 1000;
constexpr std::uint64_t kMinute = 60 * kSecond;
constexpr std::uint64_t kHour = 60 * kMinute;
constexpr std::uint64_t kCycle = 2 * kMinute;

const std::string kTable =
    "klsx|ST LOUIS|38.698611|-90.682778\r\n"
    "ktlx|OKLAHOMA CITY|35.333361|-97.277761\r\n";

const std::string kKlsxUrl = buildRequestUrl(kTestService, "38.698611", "-90.682778", "128");
const std::string kKtlxUrl = buildRequestUrl(kTestService, "35.333361", "-97.277761", "128");

struct CycleHarness : Harness {
  explicit CycleHarness(std::uint64_t requestMs = 0) {
    desktop.files[kSiteTableName] = kTable;
    answerWith("7", 200, requestMs);
  }
  void pressEnter() {
    int key = kEnterKey;
    widget.siteBoxKeyPress(key);
  }
  std::vector<std::uint64_t> requestTimes() const {
    std::vector<std::uint64_t> times;
    for (const auto& r : desktop.requests) times.push_back(r.atMs);
    return times;
  }
  std::pair<bool, bool> timers() const { return {c.Timer1.enabled(), c.update.enabled()}; }
};

const std::pair<bool, bool> kIdle{false, false};
const std::pair<bool, bool> kFirstWait{true, false};
const std::pair<bool, bool> kSecondWait{false, true};
const std::pair<bool, bool> kBothOn{true, true};

// Each query starts 120 s after the previous one ended, to the millisecond, all day long.
TEST(RefreshCycle, QueriesEveryTwoMinutesAfterTheLastRequestEndedWithoutDrift) {
  constexpr std::uint64_t kRequestMs = 750;
  CycleHarness h(kRequestMs);
  h.desktop.advance(5 * kSecond);
  h.pressEnter();
  const std::uint64_t first = h.desktop.nowMs - kRequestMs;
  h.desktop.advance(24 * kHour);

  const std::vector<std::uint64_t> times = h.requestTimes();
  ASSERT_EQ(times.size(), 1 + (24 * kHour - kRequestMs) / (kCycle + kRequestMs));
  for (std::size_t k = 0; k < times.size(); ++k) {
    ASSERT_EQ(times[k], first + k * (kCycle + kRequestMs)) << "query " << k;
    ASSERT_EQ(h.desktop.requests[k].url, kKlsxUrl);
  }
  EXPECT_EQ(h.c.tstrikes.caption(), "7");
}

struct EnterDuringWait {
  const char* name;
  std::uint64_t afterRequest;  // time from the end of the first request to Enter
  std::pair<bool, bool> stateAtEnter;
};

const EnterDuringWait kEnterCases[] = {
    {"FirstWaitEarly", 1 * kSecond, kFirstWait},
    {"FirstWaitLate", kMinute - 1, kFirstWait},
    {"SecondWaitEarly", kMinute + 1, kSecondWait},
    {"SecondWaitLate", kCycle - 1, kSecondWait},
};

void PrintTo(const EnterDuringWait& c, std::ostream* os) {
  *os << c.name;
}

class RefreshCycleEnter : public ::testing::TestWithParam<EnterDuringWait> {};

TEST_P(RefreshCycleEnter, QueriesAtOnceAndRestartsTheTwoMinutes) {
  constexpr std::uint64_t kRequestMs = 300;
  CycleHarness h(kRequestMs);
  h.pressEnter();
  h.desktop.advance(GetParam().afterRequest);
  ASSERT_EQ(h.timers(), GetParam().stateAtEnter);

  const std::uint64_t enterAt = h.desktop.nowMs;
  h.pressEnter();
  EXPECT_EQ(h.timers(), kFirstWait);
  const std::uint64_t endedAt = enterAt + kRequestMs;

  h.desktop.runUntil(endedAt + kCycle - 1);
  EXPECT_EQ(h.requestTimes(), (std::vector<std::uint64_t>{0, enterAt}))
      << "the old schedule must not fire";
  h.desktop.runUntil(endedAt + kCycle);
  EXPECT_EQ(h.requestTimes(), (std::vector<std::uint64_t>{0, enterAt, endedAt + kCycle}));
}

INSTANTIATE_TEST_SUITE_P(Waits, RefreshCycleEnter, ::testing::ValuesIn(kEnterCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Command1 pressed by the user during the second wait leaves both timers on; update then
// ticks first, on its old schedule, and the cycle is back in the first wait.
TEST(RefreshCycle, Command1DuringTheSecondWaitReachesBothOnAndRecovers) {
  CycleHarness h;
  h.pressEnter();
  h.desktop.advance(90 * kSecond);
  ASSERT_EQ(h.timers(), kSecondWait);

  h.widget.command1Pressed();
  EXPECT_EQ(h.timers(), kBothOn);
  EXPECT_EQ(h.requestTimes(), (std::vector<std::uint64_t>{0, 90 * kSecond}));

  h.desktop.runUntil(kCycle);
  EXPECT_EQ(h.timers(), kFirstWait);
  EXPECT_EQ(h.requestTimes(), (std::vector<std::uint64_t>{0, 90 * kSecond, kCycle}));
  // The Timer1 that the press started was switched off by the lookup: no stray tick.
  h.desktop.runUntil(2 * kCycle);
  EXPECT_EQ(h.requestTimes(), (std::vector<std::uint64_t>{0, 90 * kSecond, kCycle, 2 * kCycle}));
}

// A press of Command1 while Timer1 already runs does not restart its interval, so the cycle
// keeps its schedule; pressed while idle, it starts the cycle.
TEST(RefreshCycle, Command1DuringTheFirstWaitOrIdle) {
  CycleHarness h;
  h.widget.command1Pressed();
  EXPECT_EQ(h.timers(), kFirstWait);
  h.desktop.advance(30 * kSecond);
  h.widget.command1Pressed();
  EXPECT_EQ(h.timers(), kFirstWait);
  h.desktop.runUntil(kCycle);
  EXPECT_EQ(h.requestTimes(), (std::vector<std::uint64_t>{0, 30 * kSecond, kCycle}));
}

// The cycle's states are the pair of enabled flags; each tick moves them as below.
TEST(RefreshCycle, TicksMoveTheTimerPair) {
  struct Transition {
    const char* name;
    std::pair<bool, bool> from;
    bool updateTicks;  // else Timer1 ticks
    std::pair<bool, bool> to;
    bool switchPressed;
  };
  const Transition transitions[] = {
      {"FirstWaitTimer1", kFirstWait, false, kSecondWait, false},
      {"BothOnTimer1First", kBothOn, false, kSecondWait, false},
      {"SecondWaitUpdate", kSecondWait, true, kIdle, true},
      {"BothOnUpdateFirst", kBothOn, true, kIdle, true},
  };
  for (const Transition& t : transitions) {
    FakeDesktop desktop;
    Controls c;
    Lifecycle lifecycle(c, desktop);
    RefreshCycle cycle(c, lifecycle);
    std::pair<bool, bool> atSwitch{};
    bool pressed = false;
    c.switch_.onClick([&] {
      pressed = true;
      atSwitch = {c.Timer1.enabled(), c.update.enabled()};
    });
    c.Timer1.setEnabled(t.from.first);
    c.update.setEnabled(t.from.second);

    t.updateTicks ? cycle.update_Timer() : cycle.Timer1_Timer();

    EXPECT_EQ(std::make_pair(c.Timer1.enabled(), c.update.enabled()), t.to) << t.name;
    EXPECT_EQ(pressed, t.switchPressed) << t.name;
    if (pressed) {
      EXPECT_EQ(atSwitch, kIdle) << t.name << ": both off before switch";
    }
    // Every tick keeps the window on top first.
    ASSERT_FALSE(desktop.log.empty()) << t.name;
    EXPECT_EQ(desktop.log.front().rfind("SetWindowPos(TOPMOST", 0), 0u) << t.name;
  }
}

struct FailingService {
  const char* name;
  std::function<void(Harness&)> setUp;
  std::uint64_t requestMs;
};

const FailingService kFailures[] = {
    {"Unreachable", [](Harness& h) { h.failWith("connection refused", 0); }, 0},
    {"TimesOut", [](Harness& h) { h.failWith("timed out", kRequestTimeoutMs); }, kRequestTimeoutMs},
    // A count in the body of an error answer is no count either.
    {"ServerError", [](Harness& h) { h.answerWith("5", 500, 40); }, 40},
    {"NotANumber", [](Harness& h) { h.answerWith("<html>busy</html>", 200, 40); }, 40},
};

void PrintTo(const FailingService& c, std::ostream* os) {
  *os << c.name;
}

class RefreshCycleFailure : public ::testing::TestWithParam<FailingService> {};

TEST_P(RefreshCycleFailure, KeepsTheCycleGoingAndShowsNoCount) {
  CycleHarness h;
  h.answerWith("12", 200, 0);
  h.pressEnter();
  ASSERT_EQ(h.c.tstrikes.caption(), "12");

  GetParam().setUp(h);
  h.desktop.advance(kHour);
  const std::uint64_t step = kCycle + GetParam().requestMs;
  const std::vector<std::uint64_t> times = h.requestTimes();
  ASSERT_EQ(times.size(), 1 + (kHour - kCycle) / step + 1);
  for (std::size_t k = 1; k < times.size(); ++k) {
    EXPECT_EQ(times[k], kCycle + (k - 1) * step) << "query " << k;
  }
  EXPECT_EQ(h.c.tstrikes.caption(), "--");
  EXPECT_TRUE(h.c.Timer1.enabled() || h.c.update.enabled());

  // Once the service answers again, the next query shows its count.
  h.answerWith("3", 200, 0);
  h.desktop.advance(kCycle + GetParam().requestMs);
  EXPECT_EQ(h.c.tstrikes.caption(), "3");
}

INSTANTIATE_TEST_SUITE_P(Failures, RefreshCycleFailure, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

// Without a table the lookup keeps the coordinates it has and the cycle does not stall.
TEST(RefreshCycle, MissingTableKeepsTheCycleGoing) {
  CycleHarness h;
  h.desktop.files.clear();
  h.pressEnter();
  h.desktop.advance(10 * kMinute);
  const std::string startUrl = buildRequestUrl(kTestService, "38.699", "-90.683", "128");
  ASSERT_EQ(h.desktop.requests.size(), 6u);
  for (const auto& r : h.desktop.requests) EXPECT_EQ(r.url, startUrl);
}

// A site that reaches the box during a wait (as the viewer scan writes it) is looked up and
// queried at the end of the second wait, not before.
TEST(RefreshCycle, SiteWrittenDuringAWaitIsUsedAtTheNextPass) {
  CycleHarness h;
  h.pressEnter();
  h.desktop.advance(30 * kSecond);
  h.c.Nexrad_Site.setText("KTLX");
  h.desktop.runUntil(kCycle - 1);
  ASSERT_EQ(h.desktop.requests.size(), 1u);
  h.desktop.runUntil(kCycle);
  ASSERT_EQ(h.desktop.requests.size(), 2u);
  EXPECT_EQ(h.desktop.requests[0].url, kKlsxUrl);
  EXPECT_EQ(h.desktop.requests[1].url, kKtlxUrl);
  EXPECT_FALSE(h.c.Nexrad_Site.visible());
}

// Hours of running with radar viewers open and the site box edited: no lookup, no query,
// until the user acts.
TEST(RefreshCycle, NeverQueriesWithoutAUserAction) {
  CycleHarness h;
  h.desktop.windows = {{"KTLX - GRLevel3 2.00", {}},
                       {"Untitled - Notepad", {}},
                       {"KEAX - GR2Analyst 2.80", {}},
                       {"KLSX - GRLevel2", {}}};
  h.desktop.advance(3 * kHour);
  h.widget.siteBoxEdited("KTLX");
  h.desktop.advance(3 * kHour);

  EXPECT_TRUE(h.desktop.requests.empty());
  for (const std::string& entry : h.desktop.log) {
    ASSERT_NE(entry, "read(radars.gis)");
  }
  EXPECT_EQ(h.timers(), kIdle);
  EXPECT_EQ(h.c.ID_LAT.text(), "38.699");
  EXPECT_EQ(h.c.tstrikes.caption(), "0000");
  EXPECT_TRUE(h.c.Timer2.enabled()) << "the viewer scan runs all the while";
}

}  // namespace
}  // namespace stormtally::testing
