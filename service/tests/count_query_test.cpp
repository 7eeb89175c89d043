#include "count_query.h"

#include <gtest/gtest.h>

#include "test_support.h"

TEST(CountQuery, AcceptsTheWidgetsQueryAndRefusesBadInputWithAOneLineReason) {
  const std::pair<std::string, std::array<double, 3>> accepted[] = {
      {"lat=38.699&lon=-90.683&distance=128", {38.699, -90.683, 128}},
      {"&distance=128&&lon=-90.683&lat=38.699&_=17&", {38.699, -90.683, 128}},
      {"l%61t=38%2E699&lon=%2D90.683&distance=%31%32%38", {38.699, -90.683, 128}},
      {"lat=+1.5&lon=-0&distance=.5", {1.5, 0, 0.5}},  // '+' is a literal sign
      {"lat=90&lon=180&distance=1000", {90, 180, 1000}},
      {"lat=-90&lon=-180&distance=0.001", {-90, -180, 0.001}},
      {"lat=12.&lon=2&distance=0." + std::string(60, '0') + "1", {12, 2, 1e-61}}};
  for (const auto& [query, expected] : accepted) {
    const CountQueryResult r = ParseCountQuery(query);
    ASSERT_TRUE(r.query) << query << ": " << r.error;
    EXPECT_EQ((std::array{r.query->lat, r.query->lon, r.query->distance_miles}), expected) << query;
  }
  const std::string plain = " is not a plain decimal number", range = " must lie between -",
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
      {"lat=1" + q + "1000.01", distance}};
  for (const auto& [query, error] : refused) {
    const CountQueryResult r = ParseCountQuery(query);
    EXPECT_FALSE(r.query) << query;
    EXPECT_EQ(r.error, error) << query;
  }
  for (const char* value :
       {"", "1e1", "0x10", "nan", "inf", "%201", "1+", "1.2.3", "--1", ".", "1,5"}) {
    EXPECT_EQ(ParseCountQuery("lat=" + std::string(value) + q + "3").error, "'lat'" + plain)
        << value;
  }
}
