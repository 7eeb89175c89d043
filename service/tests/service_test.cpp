// The service's answers, freshness rule and sources, without the network.
#include "strike_service.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "protocol/area_detail.h"
#include "sources.h"
#include "storm_simulator.h"
#include "test_support.h"

std::atomic<TimeMs> wall{kNow};  // the system clock of the services made by Live()

ServiceOptions Live(SourceKind source = SourceKind::kFeed, std::size_t max_flashes = 1000) {
  ServiceOptions options;
  options.source = source;
  options.max_flashes = max_flashes;
  options.wall_clock = [] { return wall.load(); };
  wall = kNow;
  return options;
}

TEST(StrikeService, CountsTheWindowNearThePointAndRefusesStaleData) {
  StrikeService s(Live());
  const std::string at_start = "/counter/Strike_Counter.php?lat=38.7&lon=-90.7&distance=1";
  EXPECT_EQ(Ask(s, kKlsx), "503 no data received yet from the feed source\n");
  s.Ingest({{kNow - 15 * kMsPerMinute, 38.7, -90.7},      // exactly at the window's start
            {kNow - 15 * kMsPerMinute - 1, 38.7, -90.7},  // just before it
            {kNow - kMsPerMinute, 39.0, -90.0},
            {kNow, 38.0, -91.0},                  // exactly now
            {kNow + 1, 38.0, -91.0},              // just after now
            {kNow - kMsPerMinute, 45.0, -90.0}},  // 438 miles away
           kNow + 1);
  // Times before 2000 or more than a day ahead are refused, and do not move the clock.
  s.Ingest({{kNow + 2 * 24 * 60 * kMsPerMinute, 38.7, -90.7}, {1000, 38.7, -90.7}},
           kNow + 2 * 24 * 60 * kMsPerMinute);
  EXPECT_EQ(s.metrics().DroppedFlashes(Metrics::Dropped::kImplausibleTime), 2u);
  EXPECT_EQ(Ask(s, kKlsx), "200 3");
  EXPECT_EQ(s.Handle("GET", kKlsx).content_type, "text/plain");
  EXPECT_EQ(Ask(s, at_start), "200 1");
  wall = kNow + 2 * kMsPerMinute;  // the window slides with the clock
  EXPECT_EQ(Ask(s, at_start) + ", " + Ask(s, kKlsx), "200 0, 200 3");
  s.Maintain();
  EXPECT_EQ(s.index().size(), 4u);
  wall = kNow + 1 + 5 * kMsPerMinute;  // exactly the limit: still fresh
  EXPECT_EQ(Ask(s, kKlsx), "200 3");
  wall += 1;  // the age shows that it is over the limit
  EXPECT_EQ(Ask(s, kKlsx), "503 data feed is stale: newest data is 300.001 s old (limit 300 s)\n");
  EXPECT_EQ(s.Handle("GET", "/healthz").status, 503);
  testing::internal::CaptureStderr();
  s.Maintain();
  // Old data arriving late does not make the feed fresh again; new data does.
  s.Ingest({{kNow - 20 * kMsPerMinute, 38.7, -90.7}}, kNow - 20 * kMsPerMinute);
  EXPECT_EQ(s.Handle("GET", kKlsx).status, 503);
  s.Maintain();
  s.Ingest({}, wall.load() - 1500);
  EXPECT_EQ(Ask(s, kKlsx), "200 3");
  s.Maintain();
  s.Maintain();
  // One line as the data goes stale, one as it is fresh again.
  EXPECT_EQ(
      std::regex_replace(testing::internal::GetCapturedStderr(), std::regex(".*Z "), ""),
      "WARN data feed is stale: newest data is 300.001 s old (limit 300 s); counts answer "
      "503 until newer data arrives\nINFO data feed is fresh again: newest data is 1.5 s old\n");
  wall += 10 * kMsPerMinute;  // bad input is still told as bad input while stale
  EXPECT_EQ(s.Handle("GET", "/counter/Strike_Counter.php?lat=1").status, 400);
}

// What a count with the request field says besides the count: "count previous nearest-age last".
std::string Extras(StrikeService& s, const std::string& target) {
  const HttpReply reply = s.Handle("GET", target, true);
  std::string block;
  for (const auto& [name, value] : reply.fields) block += name + ": " + value + "\n";
  const auto d = stormtally::wire::readDetailFields(block, std::stoull(reply.body));
  auto text = [](auto v) { return v ? std::to_string(*v) : std::string("-"); };
  return std::to_string(d->count) + " " + std::to_string(d->previousCount) + " " +
         text(d->nearest ? std::optional(d->nearest->ageSeconds) : std::nullopt) + " " +
         text(d->lastAgeSeconds);
}

TEST(StrikeService, FlashesLeaveTheCountWithTheWindowAndTheExtrasAfterAnHour) {
  ServiceOptions options = Live();
  options.stale_after = 0;
  StrikeService s(options);
  // Near KLSX: one in the window, one in the window before it (straight into the history), one
  // within the hour only, and one too old to keep.
  s.Ingest({{kNow - 2 * kMsPerMinute, 38.7, -90.7},
            {kNow - 20 * kMsPerMinute, 38.7, -90.7},
            {kNow - 50 * kMsPerMinute, 38.7, -90.7},
            {kNow - 61 * kMsPerMinute, 38.7, -90.7}},
           kNow);
  const std::tuple<TimeMs, const char*, const char*, std::size_t, std::size_t> steps[] = {
      // wall clock after kNow, plain answer, extras, flashes in the window and in the history
      {0, "200 1", "1 1 120 120", 1, 2},
      // the first has left the window, the third the hour
      {14 * kMsPerMinute, "200 0", "0 1 - 960", 0, 2},
      {53 * kMsPerMinute, "200 0", "0 0 - 3300", 0, 1},  // only it is left, 55 minutes old
      {58 * kMsPerMinute + 1, "200 0", "0 0 - -", 0, 0}};
  for (const auto& [after, plain, extras, in_window, in_history] : steps) {
    wall = kNow + after;
    s.Maintain();
    EXPECT_EQ(Ask(s, kKlsx) + ", " + Extras(s, kKlsx), std::string(plain) + ", " + extras);
    EXPECT_EQ(std::make_pair(s.index().size(), s.history().size()),
              std::make_pair(in_window, in_history));
  }
  EXPECT_EQ(s.metrics().DroppedFlashes(Metrics::Dropped::kOutsideWindow), 4u);
}

TEST(StrikeService, HealthMetricsAndTheCapSayWhatHappened) {
  StrikeService s(Live(SourceKind::kDemo, 100));
  std::vector<Flash> flashes;
  for (int i = 0; i < 150; ++i) flashes.push_back({kNow - 300000 + i / 3 * 1000, 38.7, -90.7});
  s.Ingest(flashes, kNow - 30 * kMsPerSecond);
  EXPECT_EQ(s.index().size(), 99u);  // the oldest whole seconds go
  s.metrics().RecordRequest(200, 0.0003);
  s.metrics().RecordRequest(400, 0.00002);
  EXPECT_EQ(s.Handle("GET", "/healthz").content_type, "application/json");
  const std::string all = Ask(s, "/healthz") + Ask(s, "/metrics");
  for (const char* needle :
       {"200 {", "\"simulated\":true", "\"flashes_held\":99",
        "strikecount_requests_total{status=\"400\"} 1\n",
        "strikecount_request_duration_seconds_bucket{le=\"5e-05\"} 1\n",
        "strikecount_request_duration_seconds_bucket{le=\"0.0005\"} 2\n",
        "strikecount_flashes_held 99\n", "strikecount_flashes_max 100\n",
        "strikecount_flashes_dropped_total{reason=\"cap\"} 51\n",
        "strikecount_newest_data_age_seconds 30\n", "strikecount_simulated 1\n"}) {
    EXPECT_NE(all.find(needle), std::string::npos) << needle;
  }
}

TEST(FeedSource, FollowsAGrowingFileThroughTruncationAndReplacement) {
  TempDir dir;
  const std::string path = dir / "strikes.csv";
  StrikeService s(Live());
  auto holds = [&](size_t n, const char* health = "") {  // n flashes, and /healthz says so
    auto done = [&] {
      return s.index().size() == n && Ask(s, "/healthz").find(health) != std::string::npos;
    };
    for (int i = 0; i < 500 && !done(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
  };
  auto append = [&](const std::string& text) { std::ofstream(path, std::ios::app) << text; };
  FeedSource source(s, path);
  source.Start();
  ASSERT_TRUE(holds(0, "cannot be opened"));
  append("time,lat,lon\n2025-04-07T12:59:00Z,38.7,-90.7\n1744030741,38.8,-90.6\n2025-04-07T12:59");
  ASSERT_TRUE(holds(2));
  append(":02Z,38.9,-90.5\nnot a line\n");  // the half line completes
  ASSERT_TRUE(holds(3, "bad line"));
  // An over-long line is dropped whole, the next one is read.
  append(std::string(10000, '7') + "\n{\"time\":1744030743,\"lat\":38.7,\"lon\":-90.7}\n");
  ASSERT_TRUE(holds(4));
  // Truncated and started again (copytruncate), then replaced by a new file (rename).
  WriteFile(path, "2025-04-07T12:59:04Z,38.7,-90.7\n");
  ASSERT_TRUE(holds(5));
  WriteFile(dir / "new.csv", "2025-04-07T12:59:05Z,38.7,-90.7\n2025-04-07T12:59:06Z\n");
  fs::rename(dir / "new.csv", path);
  ASSERT_TRUE(holds(6, "\"newest_data\":\"2025-04-07T12:59:06.000Z\""));
  source.Stop();
  EXPECT_EQ(Ask(s, kKlsx), "200 6");
}

TEST(StormSimulator, StormsNearThePointGiveACountThatMovesAtEveryRefresh) {
  StormSimulator sim(38.699, -90.683, 42, kNow), twin(38.699, -90.683, 42, kNow);  // same seed
  FlashIndex index;
  std::set<std::uint64_t> counts;
  for (TimeMs now = kNow + 15 * kMsPerMinute; counts.size() < 6; now += 2 * kMsPerMinute) {
    const std::vector<Flash> flashes = sim.Advance(now);
    ASSERT_EQ(twin.Advance(now).size(), flashes.size());  // the same weather
    index.Insert(flashes);
    const std::uint64_t n = index.Count(38.699, -90.683, 128, now - 15 * kMsPerMinute, now);
    ASSERT_TRUE(n > 0 && n < 5000 && counts.insert(n).second) << n;  // tens to a few thousand
  }
}
