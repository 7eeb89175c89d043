#include "flash_index.h"

#include <gtest/gtest.h>

#include <random>

#include "geo.h"

namespace strikecount {
namespace {

constexpr TimeMs kT0 = 1'700'000'000'000;

std::uint64_t BruteForce(const std::vector<Flash>& flashes, double lat, double lon, double miles,
                         TimeMs from, TimeMs to) {
  std::uint64_t n = 0;
  for (const Flash& f : flashes) {
    n += f.time >= from && f.time <= to &&
         GreatCircleMiles(lat, lon, f.lat, f.lon) <= miles + kEdgeToleranceMiles;
  }
  return n;
}

// Random flashes clustered around `centres`, plus a uniform sprinkle over the given box.
std::vector<Flash> RandomFlashes(std::mt19937_64& rng, size_t n, double lat_lo, double lat_hi,
                                 double lon_lo, double lon_hi) {
  std::uniform_real_distribution<double> u(0, 1);
  std::vector<Flash> out;
  for (size_t i = 0; i < n; ++i) {
    Flash f;
    f.time = kT0 + static_cast<TimeMs>(u(rng) * 20 * kMsPerMinute);
    f.lat = lat_lo + (lat_hi - lat_lo) * u(rng);
    double lon = lon_lo + (lon_hi - lon_lo) * u(rng);
    f.lon = std::remainder(lon, 360.0);
    out.push_back(f);
  }
  return out;
}

TEST(FlashIndex, MatchesBruteForceAnywhereOnTheGlobe) {
  struct Region {
    const char* name;
    double lat_lo, lat_hi, lon_lo, lon_hi;
  } regions[] = {
      {"contiguous US", 24, 50, -125, -66},
      {"antimeridian", -30, 30, 170, 190},  // lon wraps from 180 to -180
      {"north pole", 70, 90, -180, 180},
      {"south pole", -90, -70, -180, 180},
  };
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(0, 1);
  for (const Region& region : regions) {
    SCOPED_TRACE(region.name);
    const auto flashes =
        RandomFlashes(rng, 20000, region.lat_lo, region.lat_hi, region.lon_lo, region.lon_hi);
    FlashIndex index;
    index.Insert(flashes);
    ASSERT_EQ(index.size(), flashes.size());
    for (int q = 0; q < 150; ++q) {
      const double lat = region.lat_lo + (region.lat_hi - region.lat_lo) * u(rng);
      const double lon =
          std::remainder(region.lon_lo + (region.lon_hi - region.lon_lo) * u(rng), 360.0);
      const double miles = q % 10 == 0 ? 1000 : 1 + 400 * u(rng);
      const TimeMs from = kT0 + static_cast<TimeMs>(u(rng) * 10 * kMsPerMinute);
      const TimeMs to = from + 15 * kMsPerMinute;
      ASSERT_EQ(index.Count(lat, lon, miles, from, to),
                BruteForce(flashes, lat, lon, miles, from, to))
          << lat << "," << lon << " r=" << miles;
    }
  }
}

TEST(FlashIndex, CirclesAroundThePolesAndAcrossTheAntimeridian) {
  std::vector<Flash> flashes = {
      {kT0, 90, 0},     {kT0, 89.9, 179.9}, {kT0, 89.9, -45}, {kT0, -90, 12},   {kT0, -89.5, 100},
      {kT0, 0, 179.99}, {kT0, 0, -179.99},  {kT0, 0, 180},    {kT0, 0.1, -180}, {kT0, 10, 175},
  };
  FlashIndex index;
  index.Insert(flashes);
  struct Case {
    double lat, lon, miles;
  } cases[] = {{90, 0, 10},      {90, 123, 10}, {89.95, -170, 20}, {-90, 0, 40},
               {-89.9, 80, 100}, {0, 180, 2},   {0, -180, 2},      {0, 179.995, 1},
               {5, -178, 700},   {88, 0, 1000}, {-88, 90, 1000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.lat << "," << c.lon << " r=" << c.miles);
    EXPECT_EQ(index.Count(c.lat, c.lon, c.miles, kT0, kT0),
              BruteForce(flashes, c.lat, c.lon, c.miles, kT0, kT0));
  }
  EXPECT_EQ(index.Count(0, 180, 2, kT0, kT0), 3u);  // 179.99, -179.99 and 180; not 0.1,-180
  EXPECT_EQ(index.Count(90, 0, 10, kT0, kT0), 3u);
}

TEST(FlashIndex, AFlashExactlyOnTheRadiusCounts) {
  // One degree of longitude on the equator and one of latitude on a meridian.
  const double one_degree = kEarthRadiusMiles * kDegToRad;
  FlashIndex index;
  index.Insert({{kT0, 0, 1}, {kT0, 41, -90}});
  EXPECT_EQ(index.Count(0, 0, one_degree, kT0, kT0), 1u);
  EXPECT_EQ(index.Count(0, 0, one_degree - 1e-6, kT0, kT0), 0u);
  EXPECT_EQ(index.Count(40, -90, one_degree, kT0, kT0), 1u);
  EXPECT_EQ(index.Count(40, -90, one_degree - 1e-6, kT0, kT0), 0u);
  // The haversine distance of the pair is the radius used.
  const double d = GreatCircleMiles(38.699, -90.683, 39.5, -89.25);
  index.Insert({{kT0, 39.5, -89.25}});
  EXPECT_EQ(index.Count(38.699, -90.683, d, kT0, kT0), 1u);
}

TEST(FlashIndex, TheWindowIncludesBothEnds) {
  FlashIndex index;
  index.Insert({{kT0 - 1, 10, 10},
                {kT0, 10, 10},
                {kT0 + 500, 10, 10},
                {kT0 + 1000, 10, 10},
                {kT0 + 1001, 10, 10}});
  EXPECT_EQ(index.Count(10, 10, 1, kT0, kT0 + 1000), 3u);
  EXPECT_EQ(index.Count(10, 10, 1, kT0, kT0), 1u);
  EXPECT_EQ(index.Count(10, 10, 1, kT0 + 1, kT0 + 999), 1u);
  EXPECT_EQ(index.Count(10, 10, 1, kT0 + 1000, kT0), 0u);
}

TEST(FlashIndex, OutOfOrderInsertsStaySortedAndEvictionDropsOnlyTheOld) {
  FlashIndex index;
  index.Insert({{kT0 + 3000, 1, 1}, {kT0 + 1000, 1, 1}, {kT0 + 2000, 1, 1}, {kT0, 1, 1}});
  EXPECT_EQ(index.Count(1, 1, 1, kT0 + 1000, kT0 + 2000), 2u);
  EXPECT_EQ(index.OldestTime(), kT0);
  EXPECT_EQ(index.EvictBefore(kT0 + 2000), 2u);
  EXPECT_EQ(index.size(), 2u);
  EXPECT_EQ(index.OldestTime(), kT0 + 2000);
  EXPECT_EQ(index.EvictBefore(kT0), 0u);
  EXPECT_EQ(index.Count(1, 1, 1, kT0, kT0 + 5000), 2u);
  EXPECT_EQ(index.EvictBefore(kT0 + 10000), 2u);
  EXPECT_EQ(index.size(), 0u);
  EXPECT_FALSE(index.OldestTime());
}

TEST(FlashIndex, TheCapDropsTheOldestSeconds) {
  FlashIndex index;
  std::vector<Flash> flashes;
  for (int s = 0; s < 10; ++s) {
    for (int i = 0; i < 10; ++i) flashes.push_back({kT0 + s * 1000 + i, 5.0 + s, 5.0 + i});
  }
  index.Insert(flashes);
  EXPECT_EQ(index.EvictOldestBeyond(100), 0u);
  EXPECT_EQ(index.EvictOldestBeyond(75), 30u);  // whole seconds: three of them
  EXPECT_EQ(index.size(), 70u);
  EXPECT_EQ(index.OldestTime(), kT0 + 3000);
}

}  // namespace
}  // namespace strikecount
