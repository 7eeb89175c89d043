// libFuzzer target: the count query parser and the request handler behind it must never crash,
// and whatever they accept must be a valid query.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "count_query.h"
#include "feed_line.h"
#include "strike_service.h"

using namespace strikecount;

namespace {

StrikeService& Service() {
  static StrikeService* service = [] {
    ServiceOptions options;
    options.clock.kind = ClockSetting::Kind::kFixed;
    options.clock.fixed = 1744030800000;
    options.wall_clock = [] { return TimeMs{1744030800000}; };
    auto* s = new StrikeService(options);
    s->Ingest({{1744030700000, 38.7, -90.7}, {1744030750000, -89.9, 179.9}}, 1744030800000);
    return s;
  }();
  return *service;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const CountQueryResult r = ParseCountQuery(input);
  if (r.query) {
    const CountQuery& q = *r.query;
    if (!(q.lat >= -90 && q.lat <= 90 && q.lon >= -180 && q.lon <= 180 && q.distance_miles > 0 &&
          q.distance_miles <= kMaxDistanceMiles)) {
      std::abort();
    }
    if (!r.error.empty()) std::abort();
  } else if (r.error.empty() || r.error.find('\n') != std::string::npos) {
    std::abort();
  }
  // The same bytes as a whole request target, and as a feed line.
  const HttpReply reply =
      Service().Handle("GET", "/counter/Strike_Counter.php?" + std::string(input));
  if (reply.status != (r.query ? 200 : 400)) std::abort();
  ParseFeedLine(input);
  return 0;
}
