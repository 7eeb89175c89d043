// In-process benchmarks of the strike-count service: reading one GLM file into the index,
// counting with 100,000 and 1,000,000 flashes held (with warm caches and with cold), answering a
// count request plainly and with its extras over an hour of 1,000,000 flashes (no network, no TLS).
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <random>

#include "flash_index.h"
#include "glm_file.h"
#include "strike_service.h"

using namespace strikecount;

namespace {

const char* kGlmSamples[] = {
    "OR_GLM-L2-LCFA_G16_s20181830433000_e20181830433200_c20181830433231.nc",
    "OR_GLM-L2-LCFA_G16_s20233580057000_e20233580057200_c20233580057222.nc",
    "OR_GLM-L2-LCFA_G19_s20250971300200_e20250971300400_c20250971300420.nc",
};

// Reading, decoding and indexing one granule: what the service does when a file arrives (the
// reader program runs once per file), and the same read in-process for comparison.
template <bool kIsolated>
void BM_IngestGlmFile(benchmark::State& state) {
  const std::string path = std::string(STORMTALLY_SHARED_DATA) + "/" + kGlmSamples[state.range(0)];
  if (!std::filesystem::exists(path)) {
    state.SkipWithError("reference data absent");
    return;
  }
  const std::string reader = DefaultGlmReaderProgram();
  size_t flashes = 0;
  for (auto _ : state) {
    const GlmReadResult r = kIsolated ? ReadGlmFileIsolated(path, reader) : ReadGlmFile(path);
    ServiceOptions options;
    options.clock.kind = ClockSetting::Kind::kNewestData;
    StrikeService service(options);
    service.Ingest(r.granule->flashes, r.granule->end);
    flashes = service.index().size();
    benchmark::DoNotOptimize(flashes);
  }
  state.SetLabel(std::filesystem::path(path).filename().string().substr(15, 19) + ", " +
                 std::to_string(flashes) + " flashes");
}
BENCHMARK_TEMPLATE(BM_IngestGlmFile, true)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_IngestGlmFile, false)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

constexpr TimeMs kEnd = 1744030800000;

// Clustered flashes over the contiguous US, their times spread over `span` ms before kEnd.
std::vector<Flash> Flashes(size_t n, TimeMs span) {
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> u(0, 1);
  std::normal_distribution<double> g(0, 1);
  std::vector<std::pair<double, double>> storms;
  for (int i = 0; i < 200; ++i) storms.emplace_back(24.5 + 25 * u(rng), -124.8 + 58 * u(rng));
  std::vector<Flash> flashes;
  for (size_t i = 0; i < n; ++i) {
    const auto& s = storms[i % storms.size()];
    const bool clustered = u(rng) < 0.85;
    const double lat = clustered ? s.first + 0.3 * g(rng) : 24.5 + 25 * u(rng);
    const double lon = clustered ? s.second + 0.4 * g(rng) : -124.8 + 58 * u(rng);
    flashes.push_back({kEnd - static_cast<TimeMs>(u(rng) * static_cast<double>(span)), lat, lon});
  }
  return flashes;
}

// A point over the contiguous US and a radius of 5-250 miles.
struct Query {
  double lat, lon, miles;
};
Query RandomQuery(std::mt19937_64& rng) {
  std::uniform_real_distribution<double> u(0, 1);
  return {24.5 + 25 * u(rng), -124.8 + 58 * u(rng), 5 + 245 * u(rng)};
}

FlashIndex& IndexWith(size_t n) {
  static std::map<size_t, std::unique_ptr<FlashIndex>> cache;
  auto& slot = cache[n];
  if (!slot) {
    slot = std::make_unique<FlashIndex>();
    slot->Insert(Flashes(n, 899000));
  }
  return *slot;
}

void BM_Count(benchmark::State& state) {
  FlashIndex& index = IndexWith(static_cast<size_t>(state.range(0)));
  std::mt19937_64 rng(2);
  std::uint64_t total = 0;
  for (auto _ : state) {
    const Query q = RandomQuery(rng);
    total += index.Count(q.lat, q.lon, q.miles, kEnd - 900000, kEnd);
  }
  benchmark::DoNotOptimize(total);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Count)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMicrosecond);

// The same count as the service meets it: between two requests TLS, the network and the client
// touch other memory and push the index out of the processor's caches, here 256 KiB of it
// (which brought the count as near its cost in the service as any). Only the count is timed.
void BM_CountColdCaches(benchmark::State& state) {
  FlashIndex& index = IndexWith(static_cast<size_t>(state.range(0)));
  std::vector<unsigned char> other(64 << 20);
  std::size_t at = 0;
  std::mt19937_64 rng(2);
  std::uint64_t total = 0;
  for (auto _ : state) {
    for (std::size_t i = 0; i < 256 * 1024; i += 64, at = (at + 64) % other.size()) ++other[at];
    const Query q = RandomQuery(rng);
    const auto start = std::chrono::steady_clock::now();
    total += index.Count(q.lat, q.lon, q.miles, kEnd - 900000, kEnd);
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  benchmark::DoNotOptimize(total);
  benchmark::DoNotOptimize(other.data());
}
BENCHMARK(BM_CountColdCaches)->Arg(1'000'000)->UseManualTime()->Unit(benchmark::kMicrosecond);

// A count request answered plainly (0) and with its extras (1), over an hour of flashes.
void BM_Answer(benchmark::State& state) {
  static StrikeService* service = [] {
    ServiceOptions options;
    options.clock = {ClockSetting::Kind::kFixed, kEnd};
    options.max_flashes = 2'000'000;
    auto* s = new StrikeService(options);
    s->Ingest(Flashes(1'000'000, 3'599'000), kEnd);
    return s;
  }();
  std::mt19937_64 rng(2);
  std::vector<std::string> targets;
  for (int i = 0; i < 4096; ++i) {
    const Query q = RandomQuery(rng);
    targets.push_back("/counter/Strike_Counter.php?lat=" + std::to_string(q.lat) +
                      "&lon=" + std::to_string(q.lon) + "&distance=" + std::to_string(q.miles));
  }
  std::size_t i = 0, bytes = 0;
  for (auto _ : state) {
    bytes += service->Handle("GET", targets[i++ % targets.size()], state.range(0) == 1).body.size();
  }
  benchmark::DoNotOptimize(bytes);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Answer)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
