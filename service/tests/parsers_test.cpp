// The parsers of count queries, feed lines, times and clock settings.
#include <gtest/gtest.h>

#include "count_query.h"
#include "feed_line.h"
#include "test_support.h"

TEST(CountQuery, AcceptsTheWidgetsQueryAndRefusesBadInputWithAOneLineReason) {
  const std::pair<std::string, std::array<double, 3>> accepted[] = {
      {"lat=38.699&lon=-90.683&distance=128", {38.699, -90.683, 128}},
      {"&distance=128&&lon=-90.683&lat=38.699&_=17&", {38.699, -90.683, 128}},
      {"l%61t=38%2E699&lon=%2D90.683&distance=%31%32%38", {38.699, -90.683, 128}},
      {"lat=+1.5&lon=-0&distance=.5", {1.5, 0, 0.5}},  // '+' is a literal sign
      {"lat=90&lon=180&distance=1000", {90, 180, 1000}},
      {"lat=-90&lon=-180&distance=0.001", {-90, -180, 0.001}},
      {"lat=12.&lon=2&distance=0." + std::string(60, '0') + "1", {12, 2, 1e-61}},
      {"lat=1e-400&lon=.5e1&distance=2.5e-1", {0, 5, 0.25}}};
  for (const auto& [query, expected] : accepted) {
    const CountQueryResult r = ParseCountQuery(query);
    ASSERT_TRUE(r.query) << query << ": " << r.error;
    EXPECT_EQ((std::array{r.query->lat, r.query->lon, r.query->distance_miles}), expected) << query;
  }
  const std::string plain = " is not a number", range = " must lie between -",
                    q = "&lon=2&distance=",
                    distance = "distance must be greater than 0 and at most 1000 miles";
  const std::pair<std::string, std::string> refused[] = {
      {"", "missing key 'lat'"},
      {"lat=1&lon=2", "missing key 'distance'"},
      {"LAT=1" + q + "3", "missing key 'lat'"},
      {"lat=1&lat=1" + q + "3", "duplicate key 'lat'"},
      {"lat=1&l%6Fn=2" + q + "3", "duplicate key 'lon'"},
      {"lat" + q + "3", "'lat'" + plain},
      {"lat=1" + q + "3%00", "'distance'" + plain},
      {"lat=1" + q + std::string(65, '1'), "'distance'" + plain},
      {"lat=1%4" + q + "3", "malformed percent-encoding in 'lat'"},
      {"lat=%G1" + q + "3", "malformed percent-encoding in 'lat'"},
      {"lat=90.0001" + q + "3", "lat" + range + "90 and 90"},
      {"lat=-91" + q + "3", "lat" + range + "90 and 90"},
      {"lat=1&lon=180.5&distance=3", "lon" + range + "180 and 180"},
      {"lat=1" + q + "0", distance},
      {"lat=1" + q + "1000.01", distance},
      {"lat=1e400" + q + "3", "lat" + range + "90 and 90"}};
  for (const auto& [query, error] : refused) {
    const CountQueryResult r = ParseCountQuery(query);
    EXPECT_FALSE(r.query) << query;
    EXPECT_EQ(r.error, error) << query;
  }
  for (const char* value : {"", "1e", "1E+", "1D2", "e5", ".e1", "0x10", "nan", "inf", "%201", "1+",
                            "1.2.3", "--1", ".", "1,5"}) {
    EXPECT_EQ(ParseCountQuery("lat=" + std::string(value) + q + "3").error, "'lat'" + plain)
        << value;
  }
}

using Kind = FeedLine::Kind;

TEST(FeedLine, ReadsCsvAndNdjsonFlashesAndHeartbeatsAndRefusesNonsenseAndImpossibleTimes) {
  const TimeMs t = *ParseIso8601("2025-04-07T13:00:21.512Z");
  for (const char* line :
       {"2025-04-07T13:00:21.512Z,31.25,-84.10", " 2025-04-07T13:00:21.512Z , 31.25 , -84.1 \r",
        "2025-04-07T15:00:21.512+02:00,31.25,-84.1", "1744030821.512,31.25,-84.1",
        "2025-04-07 13:00:21.512,3.125e1,-84.1",
        R"({"time":"2025-04-07T13:00:21.512Z","lat":31.25,"lon":-84.1})",
        R"({"lon":-84.1,"lat":31.25,"time":1744030821.512,"energy":3})", "2025-04-07T13:00:21.512Z",
        R"({"time":"2025-04-07T13:00:21.512Z"})"}) {
    const FeedLine f = ParseFeedLine(line);
    const bool heartbeat = std::string_view(line).find("-84.1") == std::string_view::npos;
    EXPECT_EQ(f.kind, heartbeat ? Kind::kHeartbeat : Kind::kFlash) << line << f.error;
    EXPECT_EQ(f.flash.time, t) << line;
    if (heartbeat) continue;
    EXPECT_EQ(std::pair(f.flash.lat, f.flash.lon), std::pair(31.25, -84.1)) << line;
  }
  for (const char* skip : {"", "   ", "# a comment", "time,lat,lon"}) {
    EXPECT_EQ(ParseFeedLine(skip).kind, Kind::kSkip) << skip;
  }
  for (const char* bad :
       {"yesterday,1,2", "2025-04-07T13:00:21Z,north,2", "2025-04-07T13:00:21Z,1",
        "2025-04-07T13:00:21Z,1,2,3", "2025-04-07T13:00:21Z,91,2", "2025-04-07T13:00:21Z,1,181",
        "2025-02-30T00:00:00Z,1,2", "2025-04-07T13:00:21Z,nan,2", R"({"time":"x","lat":1,"lon":2})",
        R"({"lat":1,"lon":2})", R"({"time":1,"lat":"1","lon":2})", R"({"time":1,"lat":1})",
        "{not json", "[1,2,3]"}) {
    const FeedLine f = ParseFeedLine(bad);
    EXPECT_EQ(f.kind, Kind::kError) << bad;
    EXPECT_FALSE(f.error.empty()) << bad;
  }
  // Times and clock settings.
  for (const char* t : {"2020-12-31T23:59:59.999Z", "2024-02-29T00:00:00.000Z"}) {
    EXPECT_EQ(FormatIso8601(*ParseIso8601(t)), t);
  }
  EXPECT_EQ(*ParseIso8601("1970-01-01T00:00Z"), 0);
  for (const char* bad :
       {"2023-02-29T00:00:00Z", "2023-01-01T24:00:00Z", "2023-01-01T00:00Zjunk"}) {
    EXPECT_FALSE(ParseIso8601(bad)) << bad;
  }
  EXPECT_FALSE(ParseCfTimeUnits("fortnights since 2018-07-02 04:33:00.000"));
  EXPECT_EQ(ParseClockSetting("fixed:2025-04-07T13:00:00Z")->fixed, kNow);
  EXPECT_FALSE(ParseClockSetting("fixed:yesterday"));
  EXPECT_EQ(ParseClockSetting("from:2025-04-07T13:00:00Z")->kind, ClockSetting::Kind::kFrom);
}
