#include "feed_line.h"

#include <gtest/gtest.h>

#include "test_support.h"

using Kind = FeedLine::Kind;

TEST(FeedLine, ReadsCsvAndNdjsonFlashesAndHeartbeatsAndRefusesNonsense) {
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
}

TEST(Iso8601, RoundTripsAndRejectsImpossibleDates) {
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
}
