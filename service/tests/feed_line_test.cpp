#include "feed_line.h"

#include <gtest/gtest.h>

namespace strikecount {
namespace {

using Kind = FeedLine::Kind;

TEST(FeedLine, ReadsCsvAndNdjsonFlashesAndHeartbeatsAndRefusesNonsense) {
  const TimeMs t = *ParseIso8601("2025-04-07T13:00:21.512Z");
  struct Case {
    const char* line;
    Kind kind;
    double lat = 0, lon = 0;
  } cases[] = {
      {"2025-04-07T13:00:21.512Z,31.25,-84.10", Kind::kFlash, 31.25, -84.10},
      {" 2025-04-07T13:00:21.512Z , 31.25 , -84.10 \r", Kind::kFlash, 31.25, -84.10},
      {"2025-04-07T15:00:21.512+02:00,31.25,-84.1", Kind::kFlash, 31.25, -84.1},
      {"1744030821.512,31.25,-84.1", Kind::kFlash, 31.25, -84.1},
      {"2025-04-07 13:00:21.512,3.125e1,-84.1", Kind::kFlash, 31.25, -84.1},
      {R"({"time":"2025-04-07T13:00:21.512Z","lat":31.25,"lon":-84.1})", Kind::kFlash, 31.25,
       -84.1},
      {R"({"lon":-84.1,"lat":31.25,"time":1744030821.512,"energy":3})", Kind::kFlash, 31.25, -84.1},
      {"2025-04-07T13:00:21.512Z", Kind::kHeartbeat},
      {R"({"time":"2025-04-07T13:00:21.512Z"})", Kind::kHeartbeat},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const FeedLine f = ParseFeedLine(c.line);
    ASSERT_EQ(f.kind, c.kind) << f.error;
    EXPECT_EQ(f.flash.time, t);
    if (c.kind == Kind::kFlash) {
      EXPECT_EQ(std::pair(f.flash.lat, f.flash.lon), std::pair(c.lat, c.lon));
    }
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
  const auto units = ParseCfTimeUnits("milliseconds since 2018-07-02 04:33:00.000");
  ASSERT_TRUE(units);
  EXPECT_EQ(units->ms_per_unit, 1);
  EXPECT_EQ(FormatIso8601(units->base), "2018-07-02T04:33:00.000Z");
  EXPECT_FALSE(ParseCfTimeUnits("fortnights since 2018-07-02 04:33:00.000"));
}

}  // namespace
}  // namespace strikecount
