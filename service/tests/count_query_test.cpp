#include "count_query.h"

#include <gtest/gtest.h>

namespace strikecount {
namespace {

TEST(CountQuery, AcceptsTheWidgetsQueryAndRefusesBadInputWithAOneLineReason) {
  struct Case {
    std::string query;
    const char* error;  // "" when accepted
    double lat = 0, lon = 0, distance = 0;
  } cases[] = {
      {"lat=38.699&lon=-90.683&distance=128", "", 38.699, -90.683, 128},
      {"&distance=128&&lon=-90.683&lat=38.699&_=17&", "", 38.699, -90.683, 128},
      {"l%61t=38%2E699&lon=%2D90.683&distance=%31%32%38", "", 38.699, -90.683, 128},
      {"lat=+1.5&lon=-0&distance=.5", "", 1.5, 0, 0.5},  // '+' is a literal sign
      {"lat=90&lon=180&distance=1000", "", 90, 180, 1000},
      {"lat=-90&lon=-180&distance=0.001", "", -90, -180, 0.001},
      {"lat=12.&lon=2&distance=0." + std::string(60, '0') + "1", "", 12, 2, 1e-61},
      {"", "missing key 'lat'"},
      {"lat=1&lon=2", "missing key 'distance'"},
      {"LAT=1&lon=2&distance=3", "missing key 'lat'"},
      {"lat=1&lat=1&lon=2&distance=3", "duplicate key 'lat'"},
      {"lat=1&l%6Fn=2&lon=2&distance=3", "duplicate key 'lon'"},
      {"lat&lon=2&distance=3", "'lat' is not a plain decimal number"},
      {"lat=1&lon=2&distance=3%00", "'distance' is not a plain decimal number"},
      {"lat=1&lon=2&distance=" + std::string(65, '1'), "'distance' is not a plain decimal number"},
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
    EXPECT_EQ(r.error, c.error);
    ASSERT_EQ(r.query.has_value(), *c.error == 0);
    if (!r.query) continue;
    EXPECT_DOUBLE_EQ(r.query->lat, c.lat);
    EXPECT_DOUBLE_EQ(r.query->lon, c.lon);
    EXPECT_DOUBLE_EQ(r.query->distance_miles, c.distance);
  }
  for (const char* value :
       {"", "1e1", "0x10", "nan", "inf", "%201", "1+", "1.2.3", "--1", ".", "1,5"}) {
    EXPECT_EQ(ParseCountQuery("lat=" + std::string(value) + "&lon=2&distance=3").error,
              "'lat' is not a plain decimal number")
        << value;
  }
}

}  // namespace
}  // namespace strikecount
