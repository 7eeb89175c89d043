// The widget and the service hold one wire contract: every place the widget can be asked for
// travels through the widget's own request and comes out of the service's parser as the
// same numbers, or is refused with a line that names the key.
#include <gtest/gtest.h>

#include <array>

#include "count_query.h"
#include "fake_desktop.h"
#include "location/number_text.h"

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

}  // namespace
}  // namespace stormtally::testing
