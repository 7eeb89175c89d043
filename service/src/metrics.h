// Counters the service exposes on /metrics in the Prometheus text format.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

namespace strikecount {

class Metrics {
 public:
  // Upper bounds of the latency histogram, in seconds.
  static constexpr std::array<double, 14> kLatencyBuckets = {
      0.00005, 0.0001, 0.00025, 0.0005, 0.001, 0.0025, 0.005,
      0.01,    0.025,  0.05,    0.1,    0.25,  0.5,    1.0};

  // Outcome of reading one GLM file.
  enum class GlmFile { kIngested, kEmpty, kCorrupt, kOtherPlatform, kDuplicate, kOld, kCount };
  // Why a flash was not taken in.
  enum class Dropped { kOutsideWindow, kImplausibleTime, kInvalid, kCap, kCount };

  void RecordRequest(int status, double seconds);
  void CountGlmFile(GlmFile outcome) { Add(glm_files_[static_cast<size_t>(outcome)], 1); }
  void CountDropped(Dropped why, std::uint64_t n) { Add(dropped_[static_cast<size_t>(why)], n); }
  void CountFeedLine(bool ok) { Add(ok ? feed_lines_ok_ : feed_lines_bad_, 1); }
  void CountIngested(std::uint64_t n) { Add(ingested_, n); }
  void ConnectionOpened() { connections_.fetch_add(1, std::memory_order_relaxed); }
  void ConnectionClosed() { connections_.fetch_sub(1, std::memory_order_relaxed); }

  // Counters, the histogram and process figures; the caller adds its gauges.
  std::string Render() const;

  std::uint64_t RequestsWithStatus(int status) const;
  std::uint64_t GlmFiles(GlmFile outcome) const {
    return glm_files_[static_cast<size_t>(outcome)].load(std::memory_order_relaxed);
  }
  std::uint64_t DroppedFlashes(Dropped why) const {
    return dropped_[static_cast<size_t>(why)].load(std::memory_order_relaxed);
  }

 private:
  static void Add(std::atomic<std::uint64_t>& c, std::uint64_t n) {
    c.fetch_add(n, std::memory_order_relaxed);
  }

  std::array<std::atomic<std::uint64_t>, 600> by_status_{};
  std::array<std::atomic<std::uint64_t>, kLatencyBuckets.size() + 1> latency_buckets_{};
  std::atomic<std::uint64_t> latency_count_{0};
  std::atomic<std::uint64_t> latency_sum_ns_{0};
  std::array<std::atomic<std::uint64_t>, static_cast<size_t>(GlmFile::kCount)> glm_files_{};
  std::array<std::atomic<std::uint64_t>, static_cast<size_t>(Dropped::kCount)> dropped_{};
  std::atomic<std::uint64_t> feed_lines_ok_{0}, feed_lines_bad_{0};
  std::atomic<std::uint64_t> ingested_{0};
  std::atomic<std::int64_t> connections_{0};
};

}  // namespace strikecount
