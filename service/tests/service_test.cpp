// The service's answers, freshness rule and sources, without the network.
#include "strike_service.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "geo.h"
#include "sources.h"
#include "storm_simulator.h"
#include "test_support.h"

namespace strikecount {
namespace {

using testing_support::TempDir;

const TimeMs kNow = *ParseIso8601("2025-04-07T13:00:00Z");
const char* kKlsx = "/counter/Strike_Counter.php?lat=38.699&lon=-90.683&distance=128";

struct LiveService {
  explicit LiveService(SourceKind source = SourceKind::kFeed) {
    ServiceOptions options;
    options.source = source;
    options.wall_clock = [this] { return wall.load(); };
    service = std::make_unique<StrikeService>(options);
  }
  std::atomic<TimeMs> wall{kNow};
  std::unique_ptr<StrikeService> service;
};

TEST(StrikeService, CountsTheLastFifteenMinutesNearThePoint) {
  LiveService live;
  StrikeService& s = *live.service;
  s.Ingest({{kNow - 15 * kMsPerMinute, 38.7, -90.7},      // exactly at the window's start
            {kNow - 15 * kMsPerMinute - 1, 38.7, -90.7},  // just before it
            {kNow - kMsPerMinute, 39.0, -90.0},
            {kNow, 38.0, -91.0},                  // exactly now
            {kNow - kMsPerMinute, 45.0, -90.0}},  // 438 miles away
           kNow);
  const HttpReply reply = s.Handle("GET", kKlsx);
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.content_type, "text/plain");
  EXPECT_EQ(reply.body, "3");
  // The window slides with the clock.
  live.wall = kNow + 2 * kMsPerMinute;
  EXPECT_EQ(s.Handle("GET", kKlsx).body, "2");
  s.Maintain();
  EXPECT_EQ(s.index().size(), 3u);
}

TEST(StrikeService, AStaleOrSilentFeedIsNotCalmWeather) {
  LiveService live;
  StrikeService& s = *live.service;
  HttpReply reply = s.Handle("GET", kKlsx);
  EXPECT_EQ(reply.status, 503);
  EXPECT_EQ(reply.body, "no data received yet from the feed source\n");
  s.Ingest({}, kNow - 10 * kMsPerSecond);  // a heartbeat: data up to 10 s ago, no lightning
  EXPECT_EQ(s.Handle("GET", kKlsx).body, "0");
  live.wall = kNow + 5 * kMsPerMinute - 10 * kMsPerSecond;  // exactly the limit: still fresh
  EXPECT_EQ(s.Handle("GET", kKlsx).status, 200);
  live.wall += 1;
  reply = s.Handle("GET", kKlsx);
  EXPECT_EQ(reply.status, 503);
  EXPECT_EQ(reply.body, "data feed is stale: newest data is 300 s old (limit 300 s)\n");
  EXPECT_EQ(s.Handle("GET", "/healthz").status, 503);
  // Old data arriving late does not make the feed fresh again; new data does.
  s.Ingest({{kNow - 20 * kMsPerMinute, 38.7, -90.7}}, kNow - 20 * kMsPerMinute);
  EXPECT_EQ(s.Handle("GET", kKlsx).status, 503);
  s.Ingest({}, live.wall.load());
  EXPECT_EQ(s.Handle("GET", kKlsx).status, 200);
  // Bad input is still told as bad input while stale.
  live.wall += 10 * kMsPerMinute;
  EXPECT_EQ(s.Handle("GET", "/counter/Strike_Counter.php?lat=1").status, 400);
}

TEST(StrikeService, ReplayClocksNeverGoStale) {
  ServiceOptions options;
  options.clock = *ParseClockSetting("newest-data");
  options.wall_clock = [] { return kNow + 365LL * 24 * 60 * kMsPerMinute; };
  StrikeService s(options);
  s.Ingest({{kNow - 20 * kMsPerMinute, 38.7, -90.7}, {kNow - 10 * kMsPerMinute, 38.7, -90.7}},
           kNow);
  EXPECT_EQ(s.Now(), kNow);
  EXPECT_EQ(s.Handle("GET", kKlsx).body, "1");
  EXPECT_FALSE(ParseClockSetting("fixed:yesterday"));
  EXPECT_EQ(ParseClockSetting("fixed:2025-04-07T13:00:00Z")->fixed, kNow);
}

TEST(StrikeService, ImplausibleTimesDoNotDragTheClock) {
  ServiceOptions options;
  options.clock.kind = ClockSetting::Kind::kNewestData;
  options.wall_clock = [] { return kNow; };
  StrikeService s(options);
  s.Ingest({{kNow - kMsPerMinute, 38.7, -90.7}}, kNow);
  s.Ingest({{kNow + 400LL * 24 * 60 * kMsPerMinute, 38.7, -90.7}, {1000, 38.7, -90.7}},
           kNow + 400LL * 24 * 60 * kMsPerMinute);
  EXPECT_EQ(s.Now(), kNow);
  EXPECT_EQ(s.Handle("GET", kKlsx).body, "1");
  EXPECT_EQ(s.metrics().DroppedFlashes(Metrics::Dropped::kImplausibleTime), 2u);
}

TEST(StrikeService, TheCapKeepsTheNewestAndSaysSo) {
  ServiceOptions options;
  options.max_flashes = 100;
  options.wall_clock = [] { return kNow; };
  StrikeService s(options);
  std::vector<Flash> flashes;
  for (int i = 0; i < 150; ++i) flashes.push_back({kNow - 300000 + i * 1000, 38.7, -90.7});
  s.Ingest(flashes, kNow);
  EXPECT_EQ(s.index().size(), 100u);
  EXPECT_EQ(s.metrics().DroppedFlashes(Metrics::Dropped::kCap), 50u);
  const std::string metrics = s.Handle("GET", "/metrics").body;
  EXPECT_NE(metrics.find("strikecount_flashes_max 100\n"), std::string::npos);
  EXPECT_NE(metrics.find("strikecount_flashes_dropped_total{reason=\"cap\"} 50\n"),
            std::string::npos);
}

TEST(StrikeService, OtherPathsAndMethods) {
  LiveService live;
  StrikeService& s = *live.service;
  s.Ingest({}, kNow);
  struct Case {
    const char* method;
    const char* target;
    int status;
  } cases[] = {
      {"GET", "/", 404},
      {"GET", "/counter/strike_counter.php?lat=1&lon=2&distance=3", 404},
      {"GET", "/counter/Strike_Counter.php/x?lat=1&lon=2&distance=3", 404},
      {"GET", "/counter/Strike_Counter.php", 400},
      {"POST", kKlsx, 405},
      {"HEAD", kKlsx, 200},
      {"GET", "/healthz", 200},
      {"GET", "/metrics", 200},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(s.Handle(c.method, c.target).status, c.status) << c.method << " " << c.target;
  }
}

TEST(StrikeService, HealthAndMetricsDescribeTheService) {
  LiveService live(SourceKind::kDemo);
  StrikeService& s = *live.service;
  s.Ingest({{kNow - kMsPerMinute, 38.7, -90.7}}, kNow - 30 * kMsPerSecond);
  const HttpReply health = s.Handle("GET", "/healthz");
  EXPECT_EQ(health.content_type, "application/json");
  EXPECT_NE(health.body.find("\"simulated\":true"), std::string::npos);
  EXPECT_NE(health.body.find("SIMULATED"), std::string::npos);
  EXPECT_NE(health.body.find("\"flashes_held\":1"), std::string::npos);
  s.Handle("GET", kKlsx);
  s.metrics().RecordRequest(200, 0.0003);
  s.metrics().RecordRequest(400, 0.00002);
  const std::string m = s.Handle("GET", "/metrics").body;
  for (const char* needle :
       {"strikecount_requests_total{status=\"200\"} 1\n",
        "strikecount_requests_total{status=\"400\"} 1\n",
        "strikecount_request_duration_seconds_bucket{le=\"5e-05\"} 1\n",
        "strikecount_request_duration_seconds_bucket{le=\"0.0005\"} 2\n",
        "strikecount_request_duration_seconds_count 2\n", "strikecount_flashes_held 1\n",
        "strikecount_newest_data_age_seconds 30\n", "strikecount_simulated 1\n",
        "# TYPE strikecount_request_duration_seconds histogram\n"}) {
    EXPECT_NE(m.find(needle), std::string::npos) << needle;
  }
}

// ---------------------------------------------------------------------------------------------
// The feed source, on a real file that grows, is cut short and is replaced.

bool WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 500 && !done(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

void Append(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "a");
  std::fputs(text.c_str(), f);
  std::fclose(f);
}

TEST(FeedSource, FollowsAGrowingFileThroughTruncationAndReplacement) {
  TempDir dir;
  const std::string path = dir / "strikes.csv";
  LiveService live;
  StrikeService& s = *live.service;
  FeedSource source(s, path);
  source.Start();
  ASSERT_TRUE(WaitFor([&] {
    return s.Handle("GET", "/healthz").body.find("cannot be opened") != std::string::npos;
  }));

  Append(path,
         "time,lat,lon\n2025-04-07T12:59:00Z,38.7,-90.7\n2025-04-07T12:59:01Z,38.8,-90.6\n2025-04-"
         "07T12:59");
  ASSERT_TRUE(WaitFor([&] { return s.index().size() == 2; }));
  Append(path, ":02Z,38.9,-90.5\nnot a line\n");  // the half line completes
  ASSERT_TRUE(WaitFor([&] { return s.index().size() == 3; }));
  EXPECT_TRUE(WaitFor(
      [&] { return s.Handle("GET", "/healthz").body.find("bad line") != std::string::npos; }));

  // An over-long line is dropped whole, the next one is read.
  Append(path, std::string(10000, '7') +
                   "\n{\"time\":\"2025-04-07T12:59:03Z\",\"lat\":38.7,\"lon\":-90.7}\n");
  ASSERT_TRUE(WaitFor([&] { return s.index().size() == 4; }));

  // Truncated and started again (log rotation with copytruncate).
  testing_support::WriteFile(path, "2025-04-07T12:59:04Z,38.7,-90.7\n");
  ASSERT_TRUE(WaitFor([&] { return s.index().size() == 5; }));
  // Replaced by a new file (rename into place).
  testing_support::WriteFile(dir / "new.csv",
                             "2025-04-07T12:59:05Z,38.7,-90.7\n2025-04-07T12:59:06Z\n");
  std::filesystem::rename(dir / "new.csv", path);
  ASSERT_TRUE(WaitFor([&] { return s.index().size() == 6; }));
  ASSERT_TRUE(WaitFor([&] { return s.NewestData() == *ParseIso8601("2025-04-07T12:59:06Z"); }));
  source.Stop();
  EXPECT_EQ(s.Handle("GET", kKlsx).body, "6");
}

// ---------------------------------------------------------------------------------------------
TEST(StormSimulator, SeveralStormsNearThePointWithChangingCounts) {
  const double lat = 38.699, lon = -90.683;
  StormSimulator sim(lat, lon, 42, kNow - 15 * kMsPerMinute);
  FlashIndex index;
  index.Insert(sim.Advance(kNow));
  std::set<std::uint64_t> counts;
  for (int minute = 0; minute <= 10; minute += 2) {
    const TimeMs now = kNow + minute * kMsPerMinute;
    index.Insert(sim.Advance(now));
    counts.insert(index.Count(lat, lon, 128, now - 15 * kMsPerMinute, now));
    int near = 0;
    for (const auto& storm : sim.storms()) {
      double clat, clon;
      StormSimulator::Centre(storm, now, clat, clon);
      near += GreatCircleMiles(lat, lon, clat, clon) <= StormSimulator::kLeaveRadiusMiles;
    }
    EXPECT_GE(near, 3);
  }
  EXPECT_GE(counts.size(), 5u);  // the count moves from one refresh to the next
  EXPECT_GT(*counts.begin(), 0u);
  // Ordinary to severe storms: tens to a few thousand flashes in 15 minutes within 128 miles.
  EXPECT_LT(*counts.rbegin(), 5000u);
  // The same seed gives the same weather.
  StormSimulator a(lat, lon, 7, kNow), b(lat, lon, 7, kNow);
  const auto fa = a.Advance(kNow + kMsPerMinute), fb = b.Advance(kNow + kMsPerMinute);
  ASSERT_EQ(fa.size(), fb.size());
  for (size_t i = 0; i < fa.size(); ++i) EXPECT_EQ(fa[i].time, fb[i].time);
}

}  // namespace
}  // namespace strikecount
