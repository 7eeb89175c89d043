// The site table reader: the shipped table (the goal is well under 1 ms per lookup) and
// generated tables of 10,000 and 1,000,000 lines.
//
//   build/<dir>/bench/site_lookup_bench
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "location/site_table.h"

namespace {

std::string shippedTable() {
  const std::string path = std::string(STORMTALLY_SOURCE_DIR) + "/data/radars.gis";
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Lines like the shipped table's: a four-letter id, a name and two coordinates.
std::string generatedTable(long lines) {
  std::string table;
  table.reserve(static_cast<std::size_t>(lines) * 48);
  char line[96];
  for (long i = 0; i < lines; ++i) {
    const char id[5] = {static_cast<char>('a' + i % 26), static_cast<char>('a' + i / 26 % 26),
                        static_cast<char>('a' + i / 676 % 26),
                        static_cast<char>('a' + i / 17576 % 26), '\0'};
    const int n = std::snprintf(line, sizeof line, "%s|GENERATED SITE %ld|%.6f|%.6f\r\n", id, i,
                                20.0 + static_cast<double>(i % 4500) / 100.0,
                                -60.0 - static_cast<double>(i % 9000) / 100.0);
    table.append(line, static_cast<std::size_t>(n));
  }
  return table;
}

void run(benchmark::State& state, const std::string& table, const char* site) {
  std::string lat = "0";
  std::string lon = "0";
  for (auto _ : state) {
    stormtally::lookUpSite(table, site, lat, lon);
    benchmark::DoNotOptimize(lat.data());
    benchmark::DoNotOptimize(lon.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(table.size()));
}

void BM_ShippedTable(benchmark::State& state) {
  static const std::string table = shippedTable();
  if (table.empty()) {
    state.SkipWithError("data/radars.gis not found");
    return;
  }
  run(state, table, "KLSX");
}
BENCHMARK(BM_ShippedTable)->Unit(benchmark::kMicrosecond);

void BM_ShippedTableNoMatch(benchmark::State& state) {
  static const std::string table = shippedTable();
  if (table.empty()) {
    state.SkipWithError("data/radars.gis not found");
    return;
  }
  run(state, table, "XXXX");
}
BENCHMARK(BM_ShippedTableNoMatch)->Unit(benchmark::kMicrosecond);

void BM_GeneratedTable(benchmark::State& state) {
  const std::string table = generatedTable(state.range(0));
  // "BAAA" is the id of line 1 and of every 456,976th line after it.
  run(state, table, "BAAA");
  state.counters["lines"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_GeneratedTable)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

}  // namespace
