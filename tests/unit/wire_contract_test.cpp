// The widget and the service hold one wire contract: every place the widget can be asked for
// travels through the widget's own request and comes out of the service's parser as the
// same numbers, or is refused with a line that names the key.
#include <gtest/gtest.h>

#include "count_query.h"
#include "fake_desktop.h"
#include "location/number_text.h"

namespace stormtally::testing {
namespace {

// A place typed into the custom-location prompts: what the service reads, or why it refuses.
struct Row {
  const char *lat, *lon, *radius;
  const char* refused;  // nullptr: accepted
};

TEST(WireContract, EveryPlaceTheWidgetSendsReadsBackAsTheSameNumbers) {
  // clang-format off
  const Row rows[] = {
      {"0.00005", "-0.00001", "5", nullptr},  // tiny magnitudes go out in exponent form
      {"1e-300", "-4.9406564584124654e-324", "1", nullptr},
      {"-0", "-0.0", "248", nullptr},  // negative zero
      {"90", "-180", "1", nullptr}, {"-90", "180", "248", nullptr},  // the poles, the antimeridian
      {"-89.9999999999999", "179.999999999999", "247.999999999999", nullptr},
      {"38.6986111111111", "-90.6827777777778", "128", nullptr},
      {"1e20", "0", "5", "lat must lie between -90 and 90"},  // huge magnitudes are refused
      {"0", "-1.7976931348623157e308", "5", "lon must lie between -180 and 180"},
      {"90.0000000000001", "0", "5", "lat must lie between -90 and 90"}};
  // clang-format on
  for (const Row& row : rows) {
    Harness h;
    h.desktop.answers = {row.lat, row.lon, row.radius};
    for (std::uint64_t at : {10000, 10300})
      h.desktop.runUntil(at), h.widget.captionReleased(kRightButton);
    ASSERT_EQ(h.desktop.requests.size(), 1u) << row.lat;
    const std::string& url = h.desktop.requests[0].url;
    const strikecount::CountQueryResult read =
        strikecount::ParseCountQuery(url.substr(url.find('?') + 1));
    if (row.refused) {
      EXPECT_EQ(read.error, row.refused) << url;
      continue;
    }
    ASSERT_TRUE(read.query) << url << ": " << read.error;
    EXPECT_EQ(read.query->lat, *answerValue(row.lat)) << url;
    EXPECT_EQ(read.query->lon, *answerValue(row.lon)) << url;
    EXPECT_EQ(read.query->distance_miles, *answerValue(row.radius)) << url;
  }
}

}  // namespace
}  // namespace stormtally::testing
