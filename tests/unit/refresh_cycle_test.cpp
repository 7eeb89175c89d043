// The refresh cycle on the simulated clock: two 60-second waits after every query, then a
// fresh lookup and query; nothing at all until the user starts it.
#include <gtest/gtest.h>

#include "fake_desktop.h"
#include "location/site_lookup.h"
#include "protocol/wire_contract.h"

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
              tableMissing ? wire::countUrl(kTestService, "38.699", "-90.683", "128")
                           : wire::countUrl(kTestService, "38.6986", "-90.6828", "128"));
    EXPECT_EQ(h.c.tstrikes.caption(), caption);
    h.answerWith("3", 200, 0);
    h.desktop.advance(kCycle + requestMs);
    EXPECT_EQ(h.c.tstrikes.caption(), "3");
  }
}

// The user's second action, at any point of either wait: Enter queries at once and restarts the
// two minutes, so the old schedule never fires. Command1 during the second wait leaves both
// timers on; update then ticks first, on its old schedule, and switches off the Timer1 the
// press started. Command1 during the first wait does not restart Timer1's interval.
TEST(RefreshCycle, TheUsersActionsDuringTheWaits) {
  constexpr std::uint64_t C = kCycle, S = kSecond;
  // clang-format off
  const std::tuple<bool, bool, std::uint64_t, Times> cases[] = {  // first, second by Enter?
      {true, true, S, {0, S, S + C}}, {true, true, 60 * S - 1, {0, 60 * S - 1, 60 * S - 1 + C}},
      {true, true, 60 * S + 1, {0, 60 * S + 1, 60 * S + 1 + C}},
      {true, true, C - 1, {0, C - 1, 2 * C - 1}},
      {true, false, 90 * S, {0, 90 * S, C, 2 * C}}, {false, false, 30 * S, {0, 30 * S, C}}};
  // clang-format on
  for (const auto& [firstEnter, secondEnter, at, times] : cases) {
    CycleHarness h;
    firstEnter ? h.pressEnter() : h.widget.command1Pressed();
    h.desktop.advance(at);
    secondEnter ? h.pressEnter() : h.widget.command1Pressed();
    h.desktop.runUntil(times.back());
    EXPECT_EQ(h.requestTimes(), times) << at;
  }
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
