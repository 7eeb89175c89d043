// libFuzzer target: the count query parser and the request handler behind it must never crash,
// and whatever they accept must be a valid query; the reader of a count's extras, which takes
// them from whatever a server sends, must never crash either, and its answer must hold in range.
#include <cstdint>
#include <cstdlib>

#include "count_query.h"
#include "feed_line.h"
#include "protocol/area_detail.h"
#include "strike_service.h"

using namespace strikecount;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static StrikeService* service = [] {
    ServiceOptions options;
    options.clock = {ClockSetting::Kind::kFixed, 1744030800000};
    auto* s = new StrikeService(options);
    s->Ingest({{1744030700000, 38.7, -90.7}, {1744030750000, -89.9, 179.9}}, 1744030800000);
    return s;
  }();
  const std::string input(reinterpret_cast<const char*>(data), size);
  const CountQueryResult r = ParseCountQuery(input);
  const CountQuery q = r.query.value_or(CountQuery{0, 0, 1});
  // Accepted: in range and no error; refused: one line saying why.
  if (r.query.has_value() != r.error.empty() || r.error.find('\n') != std::string::npos ||
      !(q.lat >= -90 && q.lat <= 90 && q.lon >= -180 && q.lon <= 180 && q.distance_miles > 0 &&
        q.distance_miles <= kMaxDistanceMiles)) {
    std::abort();
  }
  // The same bytes as a whole request target, and as a feed line.
  if (service->Handle("GET", "/counter/Strike_Counter.php?" + input).status !=
      (r.query ? 200 : 400))
    std::abort();
  if (service->Handle("GET", "/counter/Strike_Counter.php?" + input, true).status !=
          (r.query ? 200 : 400) ||
      service->Handle("GET", "/v1/area?" + input).status != (r.query ? 200 : 400))
    std::abort();
  ParseFeedLine(input);
  // The same bytes as the header block of a detailed answer.
  if (const auto d = stormtally::wire::readDetailFields(input, 7)) {
    if (d->count != 7 ||
        (d->nearest && !(d->nearest->miles >= 0 && d->nearest->bearing >= 0 &&
                         d->nearest->bearing < 360 && d->nearest->ageSeconds >= 0)))
      std::abort();
  }
  return 0;
}
