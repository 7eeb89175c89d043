// SIMULATED thunderstorms for the demo source: a handful of storm cells near a point, each
// drifting with the upper wind and living through growth, maturity and decay, with flash rates
// of ordinary (a few per minute) to severe (over a hundred per minute) storms. A cell that dies
// or drifts away is replaced by a new one, so there is always weather to count.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "flash_index.h"
#include "time_util.h"

namespace strikecount {

class StormSimulator {
 public:
  static constexpr int kStorms = 6;
  static constexpr double kSpawnRadiusMiles = 150.0;
  static constexpr double kLeaveRadiusMiles = 250.0;

  // Storms start mid-life, so the first minutes already look like an afternoon of weather.
  StormSimulator(double lat, double lon, std::uint64_t seed, TimeMs start);

  // The flashes after the previous call's end (or start) up to and including `to`.
  std::vector<Flash> Advance(TimeMs to);

  struct Storm {
    double lat = 0, lon = 0;  // centre at `born`
    double north_kmh = 0, east_kmh = 0;
    TimeMs born = 0, life = 0;
    double peak_per_minute = 0;
    double spread_km = 0;
  };
  const std::vector<Storm>& storms() const { return storms_; }
  // Flashes per minute of a storm at time t.
  static double RatePerMinute(const Storm& storm, TimeMs t);
  // Centre of a storm at time t.
  static void Centre(const Storm& storm, TimeMs t, double& lat, double& lon);

 private:
  Storm NewStorm(TimeMs now, bool mid_life);

  double lat_, lon_;
  std::mt19937_64 rng_;
  TimeMs clock_;
  std::vector<Storm> storms_;
};

}  // namespace strikecount
