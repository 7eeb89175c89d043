#include "strike_service.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "log.h"
#include "protocol/area_detail.h"

namespace strikecount {
namespace {

// No lightning data predates the satellites; a time far ahead of the system clock is a broken
// clock upstream. Either would otherwise drag the "newest data" clock along.
constexpr TimeMs kEarliestPlausible = 946684800000;  // 2000-01-01
constexpr TimeMs kFutureAllowance = 24 * 60 * kMsPerMinute;

const char* SourceName(SourceKind kind) {
  switch (kind) {
    case SourceKind::kGlm:
      return "glm";
    case SourceKind::kFeed:
      return "feed";
    case SourceKind::kDemo:
      return "demo";
  }
  return "?";
}

const char* ClockName(ClockSetting::Kind kind) {
  switch (kind) {
    case ClockSetting::Kind::kSystem:
      return "system";
    case ClockSetting::Kind::kFixed:
      return "fixed";
    case ClockSetting::Kind::kNewestData:
      return "newest-data";
    case ClockSetting::Kind::kFrom:
      return "from";
  }
  return "?";
}

// Milliseconds as seconds, to the millisecond where it is not whole: "300.001", "300".
std::string Seconds(TimeMs ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", static_cast<double>(ms) / kMsPerSecond);
  std::string s = text;
  s.erase(s.find_last_not_of('0') + 1);
  if (s.back() == '.') s.pop_back();
  return s;
}

HttpReply Text(int status, std::string body) {
  HttpReply reply;
  reply.status = status;
  reply.body = std::move(body);
  return reply;
}

}  // namespace

std::optional<ClockSetting> ParseClockSetting(std::string_view text) {
  ClockSetting setting;
  if (text == "system") return setting;
  if (text == "newest-data") {
    setting.kind = ClockSetting::Kind::kNewestData;
    return setting;
  }
  for (const auto& [prefix, kind] :
       {std::pair{std::string_view("fixed:"), ClockSetting::Kind::kFixed},
        std::pair{std::string_view("from:"), ClockSetting::Kind::kFrom}}) {
    if (text.substr(0, prefix.size()) != prefix) continue;
    const auto t = ParseIso8601(text.substr(prefix.size()));
    if (!t) return std::nullopt;
    setting.kind = kind;
    setting.fixed = *t;
    return setting;
  }
  return std::nullopt;
}

namespace {
// A "from" clock runs like the system clock from the time it names.
ServiceOptions StartClock(ServiceOptions options) {
  if (options.clock.kind == ClockSetting::Kind::kFrom) {
    const auto wall = options.wall_clock;
    const TimeMs shift = options.clock.fixed - wall();
    options.wall_clock = [wall, shift] { return wall() + shift; };
  }
  return options;
}
}  // namespace

StrikeService::StrikeService(ServiceOptions options) : options_(StartClock(std::move(options))) {}

std::optional<TimeMs> StrikeService::NewestData() const {
  const TimeMs t = newest_data_.load();
  return t == kNone ? std::nullopt : std::optional<TimeMs>(t);
}

TimeMs StrikeService::Now() const {
  switch (options_.clock.kind) {
    case ClockSetting::Kind::kFixed:
      return options_.clock.fixed;
    case ClockSetting::Kind::kNewestData:
      return NewestData().value_or(options_.wall_clock());
    case ClockSetting::Kind::kSystem:
    case ClockSetting::Kind::kFrom:
      break;
  }
  return options_.wall_clock();
}

void StrikeService::Ingest(const std::vector<Flash>& flashes, std::optional<TimeMs> data_time) {
  std::lock_guard<std::mutex> guard(ingest_mutex_);
  const TimeMs wall = options_.wall_clock();
  const TimeMs latest_plausible = wall + kFutureAllowance;
  auto plausible = [&](TimeMs t) { return t >= kEarliestPlausible && t <= latest_plausible; };

  TimeMs newest = newest_data_.load();
  if (data_time && plausible(*data_time)) newest = std::max(newest, *data_time);
  for (const Flash& f : flashes) {
    if (plausible(f.time)) newest = std::max(newest, f.time);
  }
  newest_data_.store(newest);
  last_arrival_.store(wall);

  // Flashes of the window go where counts look, older ones that are still kept straight to
  // the history.
  const TimeMs now = Now(), cutoff = now - options_.window, horizon = now - Retention();
  std::vector<Flash> keep, old;
  keep.reserve(flashes.size());
  std::uint64_t implausible = 0, outside = 0, invalid = 0;
  for (const Flash& f : flashes) {
    if (!plausible(f.time)) {
      ++implausible;
    } else if (!(f.lat >= -90 && f.lat <= 90 && f.lon >= -180 && f.lon <= 180)) {
      ++invalid;
    } else if (f.time < horizon) {
      ++outside;
    } else {
      (f.time < cutoff ? old : keep).push_back(f);
    }
  }
  metrics_.CountDropped(Metrics::Dropped::kImplausibleTime, implausible);
  metrics_.CountDropped(Metrics::Dropped::kInvalid, invalid);
  metrics_.CountDropped(Metrics::Dropped::kOutsideWindow, outside);
  recent_.Insert(keep);
  KeepInHistory(old, cutoff);
  metrics_.CountIngested(keep.size() + old.size());
  EvictAndCap(now);
}

void StrikeService::KeepInHistory(const std::vector<Flash>& flashes, TimeMs before) {
  if (flashes.empty()) return;
  // Set first, so that a count that no longer finds the flashes in recent_ looks for them.
  moved_before_.store(std::max(moved_before_.load(), before));
  history_.Insert(flashes);
}

TimeMs StrikeService::Retention() const {
  return std::max<TimeMs>(stormtally::wire::kLookbackSeconds * kMsPerSecond, 2 * options_.window);
}

// Moves what has left the window into the history, drops what is older than kept, and keeps
// the flashes held within the cap, the oldest going first.
void StrikeService::EvictAndCap(TimeMs now) {
  const TimeMs cutoff = now - options_.window;
  std::vector<Flash> moved;
  recent_.EvictBefore(cutoff, &moved);
  KeepInHistory(moved, cutoff);
  metrics_.CountDropped(Metrics::Dropped::kOutsideWindow, history_.EvictBefore(now - Retention()));

  const std::size_t max = options_.max_flashes, in_window = recent_.size();
  const std::size_t capped = history_.EvictOldestBeyond(in_window < max ? max - in_window : 0) +
                             recent_.EvictOldestBeyond(max);
  if (capped > 0) {
    metrics_.CountDropped(Metrics::Dropped::kCap, capped);
    LogWarning("flash cap of " + std::to_string(max) + " reached: dropped the " +
               std::to_string(capped) + " oldest flashes; counts now miss them");
  }
}

void StrikeService::Maintain() {
  std::lock_guard<std::mutex> guard(ingest_mutex_);
  EvictAndCap(Now());
  // Going stale and coming back are logged once each, so that the log tells when counts were
  // refused even if nobody asked meanwhile.
  std::string reason;
  const auto newest = NewestData();
  const bool stale = newest && !Fresh(&reason);
  if (stale != stale_) {
    stale_ = stale;
    if (stale) {
      LogWarning(reason + "; counts answer 503 until newer data arrives");
    } else {
      LogInfo("data feed is fresh again: newest data is " +
              Seconds(options_.wall_clock() - *newest) + " s old");
    }
  }
}

void StrikeService::ReportSourceProblem(std::string message) {
  const TimeMs wall = options_.wall_clock();
  std::lock_guard<std::mutex> guard(problem_mutex_);
  // A source that keeps failing the same way is logged once a minute, not at every poll.
  if (message != last_problem_ || last_problem_logged_ == kNone ||
      wall - last_problem_logged_ >= kMsPerMinute) {
    LogWarning(message);
    last_problem_logged_ = wall;
  }
  last_problem_ = std::move(message);
  last_problem_time_ = wall;
}

bool StrikeService::Fresh(std::string* reason) const {
  const auto newest = NewestData();
  if (!newest) {
    if (reason)
      *reason =
          std::string("no data received yet from the ") + SourceName(options_.source) + " source";
    return false;
  }
  const bool runs = options_.clock.kind == ClockSetting::Kind::kSystem ||
                    options_.clock.kind == ClockSetting::Kind::kFrom;
  if (!runs || options_.stale_after <= 0) return true;
  const TimeMs age = options_.wall_clock() - *newest;
  if (age > options_.stale_after) {
    if (reason) {
      *reason = "data feed is stale: newest data is " + Seconds(age) + " s old (limit " +
                Seconds(options_.stale_after) + " s)";
    }
    return false;
  }
  return true;
}

HttpReply StrikeService::Handle(std::string_view method, std::string_view target, bool detail) {
  if (method != "GET" && method != "HEAD") {
    HttpReply reply = Text(405, "only GET and HEAD are served\n");
    reply.fields = {{"Allow", "GET, HEAD"}};
    return reply;
  }
  const size_t question = target.find('?');
  const std::string_view path = target.substr(0, question);
  const std::string_view query =
      question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
  if (path == stormtally::wire::kCountPath) return Count(query, detail);
  if (path == stormtally::wire::kAreaPath) return AreaJson(query);
  if (path == "/healthz") return Health();
  if (path == "/metrics") return RenderMetrics();
  return Text(404, "not found\n");
}

struct StrikeService::Area {
  stormtally::wire::AreaDetail detail;
  std::optional<Flash> nearest;  // where the nearest flash is
};

std::uint64_t StrikeService::CountWindow(const CountQuery& q, TimeMs from, TimeMs to) const {
  std::uint64_t n = recent_.Count(q.lat, q.lon, q.distance_miles, from, to);
  if (from < moved_before_.load(std::memory_order_relaxed))
    n += history_.Count(q.lat, q.lon, q.distance_miles, from, to);
  return n;
}

std::optional<HttpReply> StrikeService::Admit(std::string_view query, CountQuery& q,
                                              TimeMs& now) const {
  const CountQueryResult parsed = ParseCountQuery(query);
  if (!parsed.query) return Text(400, parsed.error + "\n");
  std::string reason;
  if (!Fresh(&reason)) return Text(503, reason + "\n");
  q = *parsed.query;
  now = Now();
  return std::nullopt;
}

HttpReply StrikeService::Count(std::string_view query, bool detail) {
  CountQuery q;
  TimeMs now;
  if (auto refusal = Admit(query, q, now)) return *refusal;
  if (!detail) return Text(200, std::to_string(CountWindow(q, now - options_.window, now)));
  const Area area = Detail(q, now);
  HttpReply reply = Text(200, std::to_string(area.detail.count));
  reply.fields = stormtally::wire::detailFields(area.detail);
  return reply;
}

// The extras of a count at `now`, from both indexes: the count itself, that of the window
// before, the nearest flash in the window and the age of the newest within the look-back.
StrikeService::Area StrikeService::Detail(const CountQuery& q, TimeMs now) const {
  const TimeMs window = options_.window, lookback = Retention();
  Area area;
  stormtally::wire::AreaDetail& d = area.detail;
  d.count = CountWindow(q, now - window, now);
  d.previousCount = CountWindow(q, now - 2 * window, now - window - 1);
  d.windowSeconds = window / kMsPerSecond;
  d.lookbackSeconds = lookback / kMsPerSecond;
  d.newestData = FormatIso8601(NewestData().value_or(now));
  // The history holds only flashes older than moved_before_: it is asked for the nearest flash
  // only when the window reaches back past that, and for the newest only when the window's
  // index has none as new.
  const TimeMs moved_before = moved_before_.load(std::memory_order_relaxed);
  area.nearest = recent_.Nearest(q.lat, q.lon, q.distance_miles, now - window, now);
  if (now - window < moved_before) {
    const UnitVector center = ToUnitVector(q.lat, q.lon);
    auto chord2 = [&](const Flash& f) { return ChordSquared(center, ToUnitVector(f.lat, f.lon)); };
    const auto f = history_.Nearest(q.lat, q.lon, q.distance_miles, now - window, now);
    if (f && (!area.nearest || chord2(*f) < chord2(*area.nearest) ||
              (chord2(*f) == chord2(*area.nearest) && f->time > area.nearest->time)))
      area.nearest = f;
  }
  std::optional<TimeMs> newest =
      recent_.Newest(q.lat, q.lon, q.distance_miles, now - lookback, now);
  if (!newest || *newest < moved_before) {
    const auto t = history_.Newest(q.lat, q.lon, q.distance_miles, now - lookback, now);
    if (t) newest = std::max(newest.value_or(*t), *t);
  }
  if (newest) d.lastAgeSeconds = (now - *newest) / kMsPerSecond;
  if (const auto& f = area.nearest) {
    const double miles = GreatCircleMiles(q.lat, q.lon, f->lat, f->lon);
    const int bearing =
        static_cast<int>(std::lround(InitialBearingDegrees(q.lat, q.lon, f->lat, f->lon))) % 360;
    d.nearest = stormtally::wire::NearestFlash{std::round(miles * 10) / 10, bearing,
                                               (now - f->time) / kMsPerSecond};
  }
  return area;
}

HttpReply StrikeService::AreaJson(std::string_view query) {
  CountQuery q;
  TimeMs now;
  if (auto refusal = Admit(query, q, now)) return *refusal;
  const Area area = Detail(q, now);
  const stormtally::wire::AreaDetail& d = area.detail;
  nlohmann::ordered_json doc;
  doc["count"] = d.count;
  doc["previous_count"] = d.previousCount;
  doc["trend"] = stormtally::wire::trendWord(stormtally::wire::trendOf(d.count, d.previousCount));
  doc["window_seconds"] = d.windowSeconds;
  doc["newest_data"] = d.newestData;
  doc["nearest"] = nullptr;
  if (d.nearest) {
    doc["nearest"] = {{"distance_miles", d.nearest->miles},
                      {"bearing_degrees", d.nearest->bearing},
                      {"compass", stormtally::wire::compassPoint(d.nearest->bearing)},
                      {"age_seconds", d.nearest->ageSeconds},
                      {"time", FormatIso8601(area.nearest->time)},
                      {"lat", area.nearest->lat},
                      {"lon", area.nearest->lon}};
  }
  doc["last_flash_age_seconds"] = nullptr;
  if (d.lastAgeSeconds) doc["last_flash_age_seconds"] = *d.lastAgeSeconds;
  doc["lookback_seconds"] = d.lookbackSeconds;
  doc["lat"] = q.lat;
  doc["lon"] = q.lon;
  doc["distance_miles"] = q.distance_miles;
  HttpReply reply;
  reply.content_type = "application/json";
  reply.body = doc.dump() + "\n";
  return reply;
}

HttpReply StrikeService::Health() {
  std::string reason;
  const bool fresh = Fresh(&reason);
  const auto newest = NewestData();
  const TimeMs now = Now();
  nlohmann::json doc;
  doc["status"] = fresh ? "ok" : "unavailable";
  if (!fresh) doc["reason"] = reason;
  doc["source"] = SourceName(options_.source);
  doc["source_detail"] = options_.source_detail;
  doc["simulated"] = options_.source == SourceKind::kDemo;
  if (options_.source == SourceKind::kDemo) {
    doc["notice"] = "SIMULATED lightning from the demo source, not real data";
  }
  doc["clock"] = ClockName(options_.clock.kind);
  doc["now"] = FormatIso8601(now);
  doc["window_minutes"] = static_cast<double>(options_.window) / kMsPerMinute;
  doc["flashes_held"] = FlashesHeld();
  doc["max_flashes"] = options_.max_flashes;
  if (newest) {
    doc["newest_data"] = FormatIso8601(*newest);
    doc["newest_data_age_seconds"] = static_cast<double>(now - *newest) / 1000.0;
  }
  {
    std::lock_guard<std::mutex> guard(problem_mutex_);
    if (!last_problem_.empty()) {
      doc["last_problem"] = last_problem_;
      doc["last_problem_at"] = FormatIso8601(last_problem_time_);
    }
  }
  HttpReply reply;
  reply.status = fresh ? 200 : 503;
  reply.content_type = "application/json";
  reply.body = doc.dump() + "\n";
  return reply;
}

HttpReply StrikeService::RenderMetrics() {
  std::string out = metrics_.Render();
  char buf[256];
  auto gauge = [&](const char* name, const char* help, double value) {
    std::snprintf(buf, sizeof buf, "# HELP %s %s\n# TYPE %s gauge\n%s %.10g\n", name, help, name,
                  name, value);
    out += buf;
  };
  const auto newest = NewestData();
  const TimeMs last = last_arrival_.load();
  const double nan = std::nan("");
  gauge("strikecount_flashes_held", "Flashes held now, in the window and older.",
        static_cast<double>(FlashesHeld()));
  gauge("strikecount_flashes_max", "Cap on flashes held; beyond it the oldest are dropped.",
        static_cast<double>(options_.max_flashes));
  gauge("strikecount_window_seconds", "Counting window.",
        static_cast<double>(options_.window) / 1000.0);
  gauge("strikecount_newest_data_age_seconds",
        "Age of the newest data (flash or GLM file end) by the service clock.",
        newest ? static_cast<double>(Now() - *newest) / 1000.0 : nan);
  gauge("strikecount_last_arrival_age_seconds", "Wall-clock time since a source last delivered.",
        last == kNone ? nan : static_cast<double>(options_.wall_clock() - last) / 1000.0);
  gauge("strikecount_fresh", "1 when counts are served, 0 when answering 503 (stale or no data).",
        Fresh(nullptr) ? 1.0 : 0.0);
  gauge("strikecount_simulated", "1 when the demo source feeds SIMULATED lightning.",
        options_.source == SourceKind::kDemo ? 1.0 : 0.0);
  HttpReply reply;
  reply.content_type = "text/plain; version=0.0.4";
  reply.body = std::move(out);
  return reply;
}

}  // namespace strikecount
