// The widget and the service hold one wire contract: every place the widget can be asked for
// travels through the widget's own request and comes out of the service's parser as the
// same numbers, or is refused with a line that names the key.
#include <gtest/gtest.h>

#include <array>

#include "count_query.h"
#include "fake_desktop.h"
#include "location/number_text.h"
#include "protocol/area_detail.h"

namespace stormtally::testing {
namespace {

// Places typed into the custom-location prompts, and the line of a refusal ("" for none).
TEST(WireContract, EveryPlaceTheWidgetSendsReadsBackAsTheSameNumbers) {
  const std::array<const char*, 4> rows[] = {
      {"0.00005", "-0.00001", "5", ""},  // tiny magnitudes go out in exponent form
      {"1e-300", "-4.9406564584124654e-324", "1", ""},
      {"-0", "-0.0", "248", ""},
      {"90", "-180", "1", ""},
      {"-90", "180", "248", ""},  // the poles, the antimeridian
      {"-89.9999999999999", "179.999999999999", "247.999999999999", ""},
      {"38.6986111111111", "-90.6827777777778", "128", ""},
      {"1e20", "0", "5", "lat must lie between -90 and 90"},  // huge magnitudes are refused
      {"0", "-1.7976931348623157e308", "5", "lon must lie between -180 and 180"},
      {"90.0000000000001", "0", "5", "lat must lie between -90 and 90"}};
  for (const auto& [lat, lon, radius, refused] : rows) {
    Harness h;
    h.desktop.answers = {lat, lon, radius};
    for (std::uint64_t at : {10000, 10300}) h.desktop.runUntil(at), h.widget.captionReleased(2);
    const std::string& url = h.desktop.requests.at(0).url;
    const auto read = strikecount::ParseCountQuery(url.substr(url.find('?') + 1));
    EXPECT_EQ(read.error, refused) << url;
    if (!read.query) continue;
    EXPECT_EQ((std::array{read.query->lat, read.query->lon, read.query->distance_miles}),
              (std::array{*answerValue(lat), *answerValue(lon), *answerValue(radius)}))
        << url;
  }
}

// The extras the service writes read back as they were written; a block that lacks a field
// every detailed answer has, or holds one that does not read, is a peer that knows only the
// count.
TEST(WireContract, TheExtrasOfACountReadBackOrNotAtAll) {
  wire::AreaDetail full;
  full.previousCount = 17;
  full.windowSeconds = 900;
  full.nearest = wire::NearestFlash{23.44, 45, 120};
  full.lastAgeSeconds = 720;
  full.newestData = "2025-04-07T13:00:20Z";
  std::string block = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n";
  for (const auto& [name, value] : wire::detailFields(full)) block += name + ":  " + value + "\r\n";
  const auto read = wire::readDetailFields(block, 42);
  ASSERT_TRUE(read && read->nearest && read->lastAgeSeconds);
  EXPECT_EQ(std::tuple(read->count, read->previousCount, read->windowSeconds, read->nearest->miles,
                       read->nearest->bearing, read->nearest->ageSeconds, *read->lastAgeSeconds,
                       read->lookbackSeconds, read->newestData),
            std::tuple(42u, 17u, 900, 23.4, 45, 120, 720, 3600, full.newestData));

  const std::pair<std::string, bool> rows[] = {
      {"strikes-window: 900\nSTRIKES-PREVIOUS-COUNT: 3\nStrikes-Lookback: 3600\n", true},
      {"Strikes-Window: 900\nStrikes-Previous-Count: 3\n", false},  // no lookback
      {"Strikes-Window: 900\nStrikes-Previous-Count: -3\nStrikes-Lookback: 3600", false},
      {"Strikes-Window: 9e2\nStrikes-Previous-Count: 3.5\nStrikes-Lookback: 3600", false},
      {"Strikes-Window: 900\nStrikes-Previous-Count: 3\nStrikes-Lookback: 3600\n"
       "Strikes-Nearest-Miles: 2\nStrikes-Nearest-Bearing: 360\nStrikes-Nearest-Age: 1",
       false},
      {"Strikes-Window: 900\nStrikes-Previous-Count: 3\nStrikes-Lookback: 3600\n"
       "Strikes-Last-Age: soon",
       false},
      {"Content-Type: text/plain\r\n", false},
  };
  for (const auto& [fields, reads] : rows) {
    EXPECT_EQ(wire::readDetailFields(fields, 1).has_value(), reads) << fields;
  }
}

TEST(WireContract, CompassPointsAndTrends) {
  const std::pair<double, std::string_view> points[] = {
      {0, "N"},     {11.24, "N"}, {11.25, "NNE"}, {45, "NE"},   {180, "S"},
      {258.8, "W"}, {-90, "W"},   {348.75, "N"},  {359.9, "N"}, {720 + 135, "SE"}};
  for (const auto& [bearing, word] : points)
    EXPECT_EQ(wire::compassPoint(bearing), word) << bearing;
  using T = wire::Trend;
  const std::tuple<std::uint64_t, std::uint64_t, T> trends[] = {
      {0, 0, T::Steady},   {1, 0, T::Steady},    {2, 0, T::Rising},    {0, 2, T::Falling},
      {42, 17, T::Rising}, {100, 91, T::Steady}, {100, 89, T::Rising}, {89, 100, T::Falling}};
  for (const auto& [now, before, trend] : trends) EXPECT_EQ(wire::trendOf(now, before), trend);
}

}  // namespace
}  // namespace stormtally::testing
