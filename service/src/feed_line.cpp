#include "feed_line.h"

#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>

namespace strikecount {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

bool ParseNumber(std::string_view s, double& v) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  return ec == std::errc() && end == s.data() + s.size() && std::isfinite(v);
}

FeedLine Error(std::string why) {
  FeedLine out;
  out.kind = FeedLine::Kind::kError;
  out.error = std::move(why);
  return out;
}

FeedLine Build(std::optional<TimeMs> time, std::optional<double> lat, std::optional<double> lon) {
  if (!time) return Error("time is neither ISO 8601 nor Unix seconds");
  FeedLine out;
  out.flash.time = *time;
  if (!lat && !lon) {
    out.kind = FeedLine::Kind::kHeartbeat;
    return out;
  }
  if (!lat || !lon) return Error("lat or lon missing or not a number");
  if (*lat < -90 || *lat > 90) return Error("lat outside -90..90");
  if (*lon < -180 || *lon > 180) return Error("lon outside -180..180");
  out.kind = FeedLine::Kind::kFlash;
  out.flash.lat = *lat;
  out.flash.lon = *lon;
  return out;
}

FeedLine ParseJsonLine(std::string_view line) {
  const auto doc = nlohmann::json::parse(line.begin(), line.end(), nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) return Error("not a JSON object");
  std::optional<TimeMs> time;
  std::optional<double> lat, lon;
  const auto t = doc.find("time");
  if (t == doc.end()) return Error("no \"time\"");
  if (t->is_string()) {
    time = ParseFeedTime(t->get_ref<const std::string&>());
  } else if (t->is_number()) {
    const double s = t->get<double>();
    if (std::isfinite(s) && std::fabs(s) < 1e11) time = static_cast<TimeMs>(std::llround(s * 1000));
  }
  for (auto [key, slot] : {std::pair{"lat", &lat}, std::pair{"lon", &lon}}) {
    const auto it = doc.find(key);
    if (it == doc.end()) continue;
    if (!it->is_number()) return Error(std::string(key) + " is not a number");
    const double v = it->get<double>();
    if (!std::isfinite(v)) return Error(std::string(key) + " is not finite");
    *slot = v;
  }
  return Build(time, lat, lon);
}

}  // namespace

std::optional<TimeMs> ParseFeedTime(std::string_view text) {
  text = Trim(text);
  if (auto iso = ParseIso8601(text)) return iso;
  double seconds;
  if (!ParseNumber(text, seconds) || std::fabs(seconds) >= 1e11) return std::nullopt;
  return static_cast<TimeMs>(std::llround(seconds * 1000));
}

FeedLine ParseFeedLine(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() == '#') return {};
  if (line.front() == '{') return ParseJsonLine(line);
  std::string_view fields[3];
  size_t count = 0, start = 0;
  while (true) {
    const size_t comma = line.find(',', start);
    if (count == 3) return Error("more than three fields");
    fields[count++] =
        Trim(line.substr(start, comma == std::string_view::npos ? line.npos : comma - start));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  if (count == 3 && fields[0] == "time" && fields[1] == "lat" && fields[2] == "lon") return {};
  if (count == 2) return Error("expected time,lat,lon");
  const auto time = ParseFeedTime(fields[0]);
  if (count == 1) return Build(time, std::nullopt, std::nullopt);
  double lat, lon;
  if (!ParseNumber(fields[1], lat) || !ParseNumber(fields[2], lon)) {
    return Error("lat or lon is not a number");
  }
  return Build(time, lat, lon);
}

}  // namespace strikecount
