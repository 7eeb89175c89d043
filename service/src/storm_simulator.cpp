#include "storm_simulator.h"

#include <algorithm>
#include <cmath>

#include "geo.h"

namespace strikecount {
namespace {

constexpr double kKmPerDegreeLat = 111.2;
constexpr double kKmPerMile = 1.609344;
constexpr TimeMs kStep = kMsPerSecond;

}  // namespace

StormSimulator::StormSimulator(double lat, double lon, std::uint64_t seed, TimeMs start)
    : lat_(lat), lon_(lon), rng_(seed), clock_(start) {
  for (int i = 0; i < kStorms; ++i) storms_.push_back(NewStorm(start, true));
}

StormSimulator::Storm StormSimulator::NewStorm(TimeMs now, bool mid_life) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  Storm s;
  // Somewhere within the spawn radius, uniformly over the area.
  const double r_km = kSpawnRadiusMiles * kKmPerMile * std::sqrt(unit(rng_));
  const double bearing = 2 * kPi * unit(rng_);
  double lat = lat_ + r_km * std::cos(bearing) / kKmPerDegreeLat;
  lat = std::clamp(lat, -89.0, 89.0);
  const double lon =
      lon_ + r_km * std::sin(bearing) / (kKmPerDegreeLat * std::cos(lat * kDegToRad));
  // Mid-latitude cells mostly move toward the east and north-east at 15-60 km/h.
  const double speed = 15 + 45 * unit(rng_);
  const double heading = (20 + 100 * unit(rng_)) * kDegToRad;
  s.north_kmh = speed * std::cos(heading);
  s.east_kmh = speed * std::sin(heading);
  s.life = static_cast<TimeMs>((40 + 110 * unit(rng_)) * kMsPerMinute);
  const TimeMs age = mid_life ? static_cast<TimeMs>(unit(rng_) * static_cast<double>(s.life)) : 0;
  s.born = now - age;
  // Ordinary cells flash a few times a minute, strong ones tens; one in ten is severe.
  s.peak_per_minute = unit(rng_) < 0.1 ? 60 + 90 * unit(rng_) : 2 * std::pow(20.0, unit(rng_));
  s.spread_km = 3 + 7 * unit(rng_);
  // Place the birth point so that the storm is at (lat, lon) now.
  const double hours = static_cast<double>(age) / (60.0 * kMsPerMinute);
  s.lat = lat - s.north_kmh * hours / kKmPerDegreeLat;
  s.lon = lon - s.east_kmh * hours / (kKmPerDegreeLat * std::cos(lat * kDegToRad));
  return s;
}

double StormSimulator::RatePerMinute(const Storm& s, TimeMs t) {
  if (t < s.born || t > s.born + s.life) return 0.0;
  const double phase =
      std::sin(kPi * static_cast<double>(t - s.born) / static_cast<double>(s.life));
  return s.peak_per_minute * phase * phase;
}

void StormSimulator::Centre(const Storm& s, TimeMs t, double& lat, double& lon) {
  const double hours = static_cast<double>(t - s.born) / (60.0 * kMsPerMinute);
  lat = std::clamp(s.lat + s.north_kmh * hours / kKmPerDegreeLat, -89.9, 89.9);
  lon = s.lon + s.east_kmh * hours / (kKmPerDegreeLat * std::cos(lat * kDegToRad));
  lon = std::remainder(lon, 360.0);
}

std::vector<Flash> StormSimulator::Advance(TimeMs to) {
  std::vector<Flash> out;
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::normal_distribution<double> gauss(0.0, 1.0);
  while (clock_ < to) {
    const TimeMs step_end = std::min(to, clock_ + kStep);
    const double minutes = static_cast<double>(step_end - clock_) / kMsPerMinute;
    for (Storm& s : storms_) {
      double clat, clon;
      Centre(s, clock_, clat, clon);
      if (clock_ > s.born + s.life ||
          GreatCircleMiles(lat_, lon_, clat, clon) > kLeaveRadiusMiles) {
        s = NewStorm(clock_, false);
        continue;
      }
      const double expected = RatePerMinute(s, clock_) * minutes;
      if (!(expected > 0)) continue;
      std::poisson_distribution<int> flashes(expected);
      for (int n = flashes(rng_); n > 0; --n) {
        const TimeMs t =
            clock_ + 1 +
            static_cast<TimeMs>(unit(rng_) * static_cast<double>(step_end - clock_ - 1));
        const double dn = gauss(rng_) * s.spread_km, de = gauss(rng_) * s.spread_km;
        Flash f;
        f.time = t;
        f.lat = std::clamp(clat + dn / kKmPerDegreeLat, -90.0, 90.0);
        f.lon = std::remainder(clon + de / (kKmPerDegreeLat * std::cos(clat * kDegToRad)), 360.0);
        out.push_back(f);
      }
    }
    clock_ = step_end;
  }
  return out;
}

}  // namespace strikecount
