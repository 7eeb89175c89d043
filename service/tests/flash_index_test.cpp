#include "flash_index.h"

#include <gtest/gtest.h>

#include "test_support.h"

#include <random>

constexpr TimeMs kT0 = 1'700'000'000'000;

// The count, the nearest flash's time (the newer of two equally near) and the newest time.
std::tuple<std::uint64_t, std::optional<TimeMs>, std::optional<TimeMs>> BruteForce(
    const std::vector<Flash>& flashes, double lat, double lon, double miles, TimeMs from,
    TimeMs to) {
  std::uint64_t n = 0;
  std::optional<TimeMs> nearest, newest;
  double best = 0;
  for (const Flash& f : flashes) {
    const double d = GreatCircleMiles(lat, lon, f.lat, f.lon);
    if (f.time < from || f.time > to || d > miles + kEdgeToleranceMiles) continue;
    ++n;
    if (!nearest || d < best || (d == best && f.time > *nearest)) best = d, nearest = f.time;
    newest = std::max(newest.value_or(f.time), f.time);
  }
  return {n, nearest, newest};
}

auto Indexed(const FlashIndex& index, double lat, double lon, double miles, TimeMs from,
             TimeMs to) {
  const std::optional<Flash> nearest = index.Nearest(lat, lon, miles, from, to);
  return std::make_tuple(index.Count(lat, lon, miles, from, to),
                         nearest ? std::optional<TimeMs>(nearest->time) : std::nullopt,
                         index.Newest(lat, lon, miles, from, to));
}

TEST(FlashIndex, MatchesBruteForceAnywhereOnTheGlobe) {
  // The contiguous US, across the antimeridian (lon wraps from 180 to -180), both poles.
  const double regions[][4] = {
      {24, 50, -125, -66}, {-30, 30, 170, 190}, {70, 90, -180, 180}, {-90, -70, -180, 180}};
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(0, 1);
  for (const auto& [lat_lo, lat_hi, lon_lo, lon_hi] : regions) {
    auto lat = [&] { return lat_lo + (lat_hi - lat_lo) * u(rng); };
    auto lon = [&] { return std::remainder(lon_lo + (lon_hi - lon_lo) * u(rng), 360.0); };
    std::vector<Flash> flashes(20000);
    for (Flash& f : flashes) f = {kT0 + static_cast<TimeMs>(u(rng) * 1'200'000), lat(), lon()};
    FlashIndex index;
    index.Insert(flashes);
    for (int q = 0; q < 150; ++q) {
      const double qlat = lat(), qlon = lon(), miles = q % 10 == 0 ? 1000 : 1 + 400 * u(rng);
      // Every fourth window holds all the flashes, the others cut into the cells.
      const TimeMs from = q % 4 ? kT0 + static_cast<TimeMs>(u(rng) * 600'000) : kT0;
      const TimeMs to = from + (q % 4 ? 900'000 : 1'200'000);
      ASSERT_EQ(Indexed(index, qlat, qlon, miles, from, to),
                BruteForce(flashes, qlat, qlon, miles, from, to))
          << qlat << "," << qlon << " r=" << miles;
    }
  }
}

TEST(FlashIndex, RadiusEdgesAntimeridianAndBothEndsOfTheWindow) {
  // Flashes one degree from (0,0) and (-40,-90), near the antimeridian, and at (10,10) around a
  // window of one second.
  const std::vector<Flash> flashes = {
      {kT0, 0, 1},       {kT0, -41, -90},     {kT0, 39.5, -89.25},  {kT0, 0, 179.99},
      {kT0, 0, -179.99}, {kT0, 0, 180},       {kT0, 0.1, -180},     {kT0 - 1, 10, 10},
      {kT0, 10, 10},     {kT0 + 500, 10, 10}, {kT0 + 1000, 10, 10}, {kT0 + 1001, 10, 10}};
  FlashIndex index;
  index.Insert(flashes);
  const double on = kEarthRadiusMiles * kDegToRad, off = on - 1e-6;
  const double pair = GreatCircleMiles(38.699, -90.683, 39.5, -89.25);
  // Exactly on the radius, and just inside: counted, and so nearest and newest.
  EXPECT_EQ(Indexed(index, 0, 0, on, kT0, kT0), std::make_tuple(1u, kT0, kT0));
  EXPECT_EQ(Indexed(index, 0, 0, off, kT0, kT0), std::make_tuple(0u, std::nullopt, std::nullopt));
  EXPECT_EQ(index.Count(-40, -90, on, kT0, kT0), 1u);
  EXPECT_EQ(index.Count(-40, -90, off, kT0, kT0), 0u);
  EXPECT_EQ(index.Count(38.699, -90.683, pair, kT0, kT0), 1u);
  EXPECT_EQ(index.Count(0, 180, 2, kT0, kT0), 3u);  // 179.99, -179.99 and 180; not 0.1,-180
  EXPECT_EQ(index.Count(10, 10, 1, kT0, kT0 + 1000), 3u);
  EXPECT_EQ(Indexed(index, 10, 10, 1, kT0 + 1, kT0 + 999),
            std::make_tuple(1u, kT0 + 500, kT0 + 500));
  // Of five flashes at one place, all equally near, the newest is the nearest.
  EXPECT_EQ(index.Nearest(10, 10, 1, kT0 - 1, kT0 + 1001)->time, kT0 + 1001);
  // Moved out with their positions: what another index needs to hold them.
  std::vector<Flash> evicted;
  EXPECT_EQ(index.EvictBefore(kT0 + 1, &evicted), 9u);
  EXPECT_EQ(std::make_tuple(evicted.size(), evicted[0].lat, evicted[0].lon, index.size()),
            std::make_tuple(9u, -41.0, -90.0, 3u));
}

TEST(FlashIndex, FlashesAHairInsideOrOutsideTheRadiusCountAsTheyLie) {
  // Rings of flashes from a millionth of a mile to a tenth of a mile inside and outside the
  // radius, at random bearings: where a quick check cannot tell, the count must decide in full
  // precision. Small and large circles; at the equator, mid-latitudes, the antimeridian and a pole.
  const double centers[][2] = {{0, 0}, {38.7, -90.7}, {-12, 179.9}, {89.9, 45}};
  const double radii[] = {0.5, 5, 60, 250, 2500};
  const double hairs[] = {1e-6, 1e-5, 1e-4, 1e-3, 1e-2, 1e-1};
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> u(0, 1);
  for (const auto& [lat, lon] : centers) {
    for (double miles : radii) {
      std::vector<Flash> flashes;
      for (int i = 0; i < 600; ++i) {
        // Each at its own distance, so that the nearest is one flash.
        const double hair = hairs[i % 6] * (i % 12 < 6 ? -1 : 1) * (1 + u(rng));
        const double d = (miles + hair) / kEarthRadiusMiles, bearing = 2 * kPi * u(rng);
        const double p = lat * kDegToRad;
        const double p2 =
            std::asin(std::sin(p) * std::cos(d) + std::cos(p) * std::sin(d) * std::cos(bearing));
        const double l2 =
            lon * kDegToRad + std::atan2(std::sin(bearing) * std::sin(d) * std::cos(p),
                                         std::cos(d) - std::sin(p) * std::sin(p2));
        flashes.push_back({kT0 + i, p2 / kDegToRad, std::remainder(l2 / kDegToRad, 360.0)});
      }
      FlashIndex index;
      index.Insert(flashes);
      // The whole of each cell, and a window that cuts into them.
      for (const auto& [from, to] : {std::pair{kT0, kT0 + 599}, std::pair{kT0 + 150, kT0 + 449}}) {
        ASSERT_EQ(Indexed(index, lat, lon, miles, from, to),
                  BruteForce(flashes, lat, lon, miles, from, to))
            << lat << "," << lon << " r=" << miles << " from +" << from - kT0;
      }
    }
  }
}
