// libFuzzer target: the count query parser and the request handler behind it must never crash,
// and whatever they accept must be a valid query.
#include <cstdint>
#include <cstdlib>

#include "count_query.h"
#include "feed_line.h"
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
  ParseFeedLine(input);
  return 0;
}
