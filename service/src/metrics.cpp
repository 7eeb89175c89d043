#include "metrics.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <fstream>

namespace strikecount {
namespace {

void Line(std::string& out, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void Line(std::string& out, const char* fmt, ...) {
  char buf[512];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, args);
  va_end(args);
  out += buf;
  out += '\n';
}

unsigned long long U(std::uint64_t v) {
  return static_cast<unsigned long long>(v);
}

}  // namespace

void Metrics::RecordRequest(int status, double seconds) {
  if (status < 100 || status >= static_cast<int>(by_status_.size())) status = 500;
  Add(by_status_[static_cast<size_t>(status)], 1);
  size_t bucket = 0;
  while (bucket < kLatencyBuckets.size() && seconds > kLatencyBuckets[bucket]) ++bucket;
  Add(latency_buckets_[bucket], 1);
  Add(latency_count_, 1);
  Add(latency_sum_ns_, static_cast<std::uint64_t>(seconds > 0 ? seconds * 1e9 : 0));
}

std::uint64_t Metrics::RequestsWithStatus(int status) const {
  if (status < 0 || status >= static_cast<int>(by_status_.size())) return 0;
  return by_status_[static_cast<size_t>(status)].load(std::memory_order_relaxed);
}

std::string Metrics::Render() const {
  std::string out;
  Line(out, "# HELP strikecount_requests_total HTTP requests answered, by status code.");
  Line(out, "# TYPE strikecount_requests_total counter");
  for (size_t s = 100; s < by_status_.size(); ++s) {
    const auto n = by_status_[s].load(std::memory_order_relaxed);
    if (n == 0 && s != 200) continue;
    Line(out, "strikecount_requests_total{status=\"%zu\"} %llu", s, U(n));
  }

  Line(out,
       "# HELP strikecount_request_duration_seconds Time from a complete request to its "
       "answer being ready.");
  Line(out, "# TYPE strikecount_request_duration_seconds histogram");
  std::uint64_t cumulative = 0;
  for (size_t i = 0; i < kLatencyBuckets.size(); ++i) {
    cumulative += latency_buckets_[i].load(std::memory_order_relaxed);
    Line(out, "strikecount_request_duration_seconds_bucket{le=\"%g\"} %llu", kLatencyBuckets[i],
         U(cumulative));
  }
  cumulative += latency_buckets_[kLatencyBuckets.size()].load(std::memory_order_relaxed);
  Line(out, "strikecount_request_duration_seconds_bucket{le=\"+Inf\"} %llu", U(cumulative));
  Line(out, "strikecount_request_duration_seconds_sum %.9f",
       static_cast<double>(latency_sum_ns_.load(std::memory_order_relaxed)) / 1e9);
  Line(out, "strikecount_request_duration_seconds_count %llu",
       U(latency_count_.load(std::memory_order_relaxed)));

  static const char* kGlmNames[] = {"ingested",       "empty",     "corrupt",
                                    "other_platform", "duplicate", "older_than_window"};
  Line(out, "# HELP strikecount_glm_files_total GLM files looked at, by outcome.");
  Line(out, "# TYPE strikecount_glm_files_total counter");
  for (size_t i = 0; i < glm_files_.size(); ++i) {
    Line(out, "strikecount_glm_files_total{result=\"%s\"} %llu", kGlmNames[i],
         U(glm_files_[i].load(std::memory_order_relaxed)));
  }
  static const char* kDropNames[] = {"outside_window", "implausible_time", "invalid", "cap"};
  Line(out,
       "# HELP strikecount_flashes_dropped_total Flashes not taken in or pushed out, by reason.");
  Line(out, "# TYPE strikecount_flashes_dropped_total counter");
  for (size_t i = 0; i < dropped_.size(); ++i) {
    Line(out, "strikecount_flashes_dropped_total{reason=\"%s\"} %llu", kDropNames[i],
         U(dropped_[i].load(std::memory_order_relaxed)));
  }
  Line(out, "# HELP strikecount_flashes_ingested_total Flashes taken into the index.");
  Line(out, "# TYPE strikecount_flashes_ingested_total counter");
  Line(out, "strikecount_flashes_ingested_total %llu",
       U(ingested_.load(std::memory_order_relaxed)));
  Line(out, "# HELP strikecount_feed_lines_total Lines read from the strike feed, by result.");
  Line(out, "# TYPE strikecount_feed_lines_total counter");
  Line(out, "strikecount_feed_lines_total{result=\"ok\"} %llu",
       U(feed_lines_ok_.load(std::memory_order_relaxed)));
  Line(out, "strikecount_feed_lines_total{result=\"bad\"} %llu",
       U(feed_lines_bad_.load(std::memory_order_relaxed)));
  Line(out, "# HELP strikecount_open_connections Client connections open now.");
  Line(out, "# TYPE strikecount_open_connections gauge");
  Line(out, "strikecount_open_connections %lld",
       static_cast<long long>(connections_.load(std::memory_order_relaxed)));

  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) == 0) {
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    Line(out, "# HELP process_cpu_seconds_total User and system CPU time spent, in seconds.");
    Line(out, "# TYPE process_cpu_seconds_total counter");
    Line(out, "process_cpu_seconds_total %.3f", cpu);
  }
  std::ifstream statm("/proc/self/statm");
  long long pages_total = 0, pages_resident = 0;
  if (statm >> pages_total >> pages_resident) {
    Line(out, "# HELP process_resident_memory_bytes Resident memory size in bytes.");
    Line(out, "# TYPE process_resident_memory_bytes gauge");
    Line(out, "process_resident_memory_bytes %lld", pages_resident * sysconf(_SC_PAGESIZE));
  }
  return out;
}

}  // namespace strikecount
