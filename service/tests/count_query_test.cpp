#include "count_query.h"

#include <gtest/gtest.h>

namespace strikecount {
namespace {

TEST(CountQuery, AcceptsTheWidgetsQueryAndItsEncodedForms) {
  struct Case {
    const char* query;
    double lat, lon, distance;
  } cases[] = {
      {"lat=38.699&lon=-90.683&distance=128", 38.699, -90.683, 128},
      {"distance=128&lon=-90.683&lat=38.699", 38.699, -90.683, 128},  // any order
      {"lat=38%2E699&lon=%2D90.683&distance=%31%32%38", 38.699, -90.683, 128},
      {"l%61t=1&lon=2&distance=3", 1, 2, 3},            // an encoded key
      {"lat=+1.5&lon=-0&distance=.5", 1.5, 0, 0.5},     // '+' is a literal sign
      {"lat=90&lon=180&distance=1000", 90, 180, 1000},  // every bound included
      {"lat=-90&lon=-180&distance=0.001", -90, -180, 0.001},
      {"lat=1&lon=2&distance=3&_=1700000000", 1, 2, 3},  // unknown keys are ignored
      {"&lat=1&&lon=2&distance=3&", 1, 2, 3},            // empty pairs too
      {"lat=12.&lon=2&distance=3", 12, 2, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    const CountQueryResult r = ParseCountQuery(c.query);
    ASSERT_TRUE(r.query.has_value()) << r.error;
    EXPECT_DOUBLE_EQ(r.query->lat, c.lat);
    EXPECT_DOUBLE_EQ(r.query->lon, c.lon);
    EXPECT_DOUBLE_EQ(r.query->distance_miles, c.distance);
  }
}

TEST(CountQuery, RefusesBadInputWithAOneLineReason) {
  struct Case {
    const char* query;
    const char* reason;
  } cases[] = {
      {"", "missing key 'lat'"},
      {"lat=1&lon=2", "missing key 'distance'"},
      {"LAT=1&lon=2&distance=3", "missing key 'lat'"},
      {"lat=1&lat=1&lon=2&distance=3", "duplicate key 'lat'"},
      {"lat=1&l%6Fn=2&lon=2&distance=3", "duplicate key 'lon'"},
      {"lat=&lon=2&distance=3", "'lat' is not a plain decimal number"},
      {"lat&lon=2&distance=3", "'lat' is not a plain decimal number"},
      {"lat=1e1&lon=2&distance=3", "'lat' is not a plain decimal number"},
      {"lat=0x10&lon=2&distance=3", "'lat' is not a plain decimal number"},
      {"lat=nan&lon=2&distance=3", "'lat' is not a plain decimal number"},
      {"lat=inf&lon=2&distance=3", "'lat' is not a plain decimal number"},
      {"lat=%201&lon=2&distance=3", "'lat' is not a plain decimal number"},  // " 1"
      {"lat=1+&lon=2&distance=3", "'lat' is not a plain decimal number"},
      {"lat=1.2.3&lon=2&distance=3", "'lat' is not a plain decimal number"},
      {"lat=--1&lon=2&distance=3", "'lat' is not a plain decimal number"},
      {"lat=.&lon=2&distance=3", "'lat' is not a plain decimal number"},
      {"lat=1,5&lon=2&distance=3", "'lat' is not a plain decimal number"},
      {"lat=1&lon=2&distance=3%00", "'distance' is not a plain decimal number"},
      {"lat=1%&lon=2&distance=3", "malformed percent-encoding in 'lat'"},
      {"lat=1%4&lon=2&distance=3", "malformed percent-encoding in 'lat'"},
      {"lat=%G1&lon=2&distance=3", "malformed percent-encoding in 'lat'"},
      {"lat=90.0001&lon=2&distance=3", "lat must lie between -90 and 90"},
      {"lat=-91&lon=2&distance=3", "lat must lie between -90 and 90"},
      {"lat=1&lon=180.5&distance=3", "lon must lie between -180 and 180"},
      {"lat=1&lon=2&distance=0", "distance must be greater than 0 and at most 1000 miles"},
      {"lat=1&lon=2&distance=-5", "distance must be greater than 0 and at most 1000 miles"},
      {"lat=1&lon=2&distance=1000.01", "distance must be greater than 0 and at most 1000 miles"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    const CountQueryResult r = ParseCountQuery(c.query);
    EXPECT_FALSE(r.query.has_value());
    EXPECT_EQ(r.error, c.reason);
    EXPECT_EQ(r.error.find('\n'), std::string::npos);
  }
}

TEST(CountQuery, OverlongNumbersAreRefused) {
  const std::string digits(65, '1');
  EXPECT_FALSE(ParseCountQuery("lat=1&lon=2&distance=" + digits).query);
  double v;
  EXPECT_TRUE(ParsePlainDecimal("0." + std::string(60, '0') + "1", v));
}

}  // namespace
}  // namespace strikecount
