// Data for the strike-count benchmark, and the check that the service and PostGIS agree.
//
//   service_benchdata flashes N SEED END_ISO WINDOW_MIN > flashes.csv   epoch_s,lat,lon
//   service_benchdata queries N SEED > queries.csv                      id,lat,lon,miles
//   service_benchdata check flashes.csv queries.csv service.txt [postgis.txt]
//
// Flashes lie over the contiguous US, most of them in storm clusters, their first events spread
// over the window that ends at END. Queries are random points over the same area with radii of
// 5-250 miles. The check counts by brute force (haversine, 3958.8 mi sphere) and compares.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "geo.h"
#include "time_util.h"

using namespace strikecount;

namespace {

constexpr double kLatLo = 24.5, kLatHi = 49.4, kLonLo = -124.8, kLonHi = -66.9;

struct Point {
  double lat, lon;
};
struct Query {
  int id;
  double lat, lon, miles;
};

int Flashes(long n, unsigned seed, const char* end_text, double window_min) {
  const auto end = ParseIso8601(end_text);
  if (!end) return std::fprintf(stderr, "bad END time\n"), 2;
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(0, 1);
  std::normal_distribution<double> g(0, 1);
  std::vector<Point> storms;
  for (int i = 0; i < 200; ++i) {
    storms.push_back({kLatLo + (kLatHi - kLatLo) * u(rng), kLonLo + (kLonHi - kLonLo) * u(rng)});
  }
  const double window_ms = window_min * 60000.0 - 1000.0;
  for (long i = 0; i < n; ++i) {
    double lat, lon;
    if (u(rng) < 0.85) {
      const Point& s = storms[static_cast<size_t>(u(rng) * static_cast<double>(storms.size()))];
      lat = s.lat + 0.3 * g(rng);
      lon = s.lon + 0.3 * g(rng) / std::cos(s.lat * kDegToRad);
    } else {
      lat = kLatLo + (kLatHi - kLatLo) * u(rng);
      lon = kLonLo + (kLonHi - kLonLo) * u(rng);
    }
    lat = std::clamp(lat, kLatLo, kLatHi);
    lon = std::clamp(lon, kLonLo, kLonHi);
    const TimeMs t = *end - static_cast<TimeMs>(u(rng) * window_ms);
    std::printf("%lld.%03lld,%.5f,%.5f\n", static_cast<long long>(t / 1000),
                static_cast<long long>(t % 1000), lat, lon);
  }
  return 0;
}

int Queries(long n, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(0, 1);
  for (long i = 1; i <= n; ++i) {
    std::printf("%ld,%.5f,%.5f,%.3f\n", i, kLatLo + (kLatHi - kLatLo) * u(rng),
                kLonLo + (kLonHi - kLonLo) * u(rng), 5 + 245 * u(rng));
  }
  return 0;
}

std::vector<long> ReadCounts(const char* path) {
  std::vector<long> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    const size_t comma = line.find(',');  // "id,count" or just "count"
    out.push_back(std::atol(line.c_str() + (comma == std::string::npos ? 0 : comma + 1)));
  }
  return out;
}

int Check(const char* flashes_path, const char* queries_path, const char* service_path,
          const char* postgis_path) {
  std::vector<Point> flashes;
  {
    std::ifstream in(flashes_path);
    std::string line;
    while (std::getline(in, line)) {
      double t, lat, lon;
      if (std::sscanf(line.c_str(), "%lf,%lf,%lf", &t, &lat, &lon) == 3)
        flashes.push_back({lat, lon});
    }
  }
  std::sort(flashes.begin(), flashes.end(),
            [](const Point& a, const Point& b) { return a.lat < b.lat; });
  std::vector<Query> queries;
  {
    std::ifstream in(queries_path);
    std::string line;
    Query q;
    while (std::getline(in, line)) {
      if (std::sscanf(line.c_str(), "%d,%lf,%lf,%lf", &q.id, &q.lat, &q.lon, &q.miles) == 4)
        queries.push_back(q);
    }
  }
  const std::vector<long> service = ReadCounts(service_path);
  const std::vector<long> postgis = postgis_path ? ReadCounts(postgis_path) : std::vector<long>();
  // PostGIS and this service compute the same great circle with different formulas; they may
  // disagree only on flashes within rounding distance of the edge. 1e-6 mi is 1.6 mm, some
  // thousand times the rounding of either formula and far below the data's 1 m grid.
  const double knife = 1e-6;
  size_t service_bad = 0, postgis_bad = 0, postgis_knife = 0, compared = 0;
  for (size_t i = 0; i < service.size() && i < queries.size(); ++i) {
    const Query& q = queries[i];
    const double dlat = q.miles / kEarthRadiusMiles / kDegToRad + 1e-6;
    auto lo = std::lower_bound(flashes.begin(), flashes.end(), q.lat - dlat,
                               [](const Point& p, double v) { return p.lat < v; });
    long inside = 0, edge = 0;
    for (auto it = lo; it != flashes.end() && it->lat <= q.lat + dlat; ++it) {
      const double d = GreatCircleMiles(q.lat, q.lon, it->lat, it->lon);
      inside += d <= q.miles + kEdgeToleranceMiles;
      edge += std::fabs(d - q.miles) <= knife;
    }
    ++compared;
    if (service[i] != inside) {
      if (++service_bad <= 5)
        std::fprintf(stderr, "query %d: service %ld, brute force %ld\n", q.id, service[i], inside);
    }
    if (i < postgis.size() && postgis[i] != inside) {
      if (std::labs(postgis[i] - inside) <= edge) {
        ++postgis_knife;
      } else if (++postgis_bad <= 5) {
        std::fprintf(stderr, "query %d: PostGIS %ld, brute force %ld\n", q.id, postgis[i], inside);
      }
    }
  }
  std::printf("compared %zu queries: service differs from brute force in %zu", compared,
              service_bad);
  if (postgis_path) {
    std::printf("; PostGIS differs in %zu (+%zu explained by flashes within %.0e mi of the edge)",
                postgis_bad, postgis_knife, knife);
  }
  std::printf("\n");
  return service_bad == 0 && postgis_bad == 0 && compared > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string cmd = argc > 1 ? argv[1] : "";
  if (cmd == "flashes" && argc == 6)
    return Flashes(std::atol(argv[2]), static_cast<unsigned>(std::atol(argv[3])), argv[4],
                   std::atof(argv[5]));
  if (cmd == "queries" && argc == 4)
    return Queries(std::atol(argv[2]), static_cast<unsigned>(std::atol(argv[3])));
  if (cmd == "check" && (argc == 5 || argc == 6))
    return Check(argv[2], argv[3], argv[4], argc == 6 ? argv[5] : nullptr);
  std::fprintf(stderr,
               "usage: service_benchdata flashes N SEED END_ISO WINDOW_MIN | queries N SEED |\n"
               "       check FLASHES QUERIES SERVICE_COUNTS [POSTGIS_COUNTS]\n");
  return 2;
}
