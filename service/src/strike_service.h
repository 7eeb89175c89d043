// The strike-count service without its network front: what it holds, how it answers.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "count_query.h"
#include "flash_index.h"
#include "metrics.h"
#include "time_util.h"

namespace strikecount {

// Where "now" comes from. Replays of old files and tests need a clock that can be set.
// kFrom is the system clock set back or forward so that it reads `fixed` at start-up: it runs
// and goes stale like the system clock, over old files (rehearsals of a live feed).
struct ClockSetting {
  enum class Kind { kSystem, kFixed, kNewestData, kFrom };
  Kind kind = Kind::kSystem;
  TimeMs fixed = 0;
};
// "system", "newest-data", "fixed:<ISO 8601>" or "from:<ISO 8601>".
std::optional<ClockSetting> ParseClockSetting(std::string_view text);

enum class SourceKind { kGlm, kFeed, kDemo };

struct ServiceOptions {
  SourceKind source = SourceKind::kGlm;
  std::string source_detail;  // for /healthz and logs, e.g. "G19 files in /srv/glm"
  TimeMs window = 15 * kMsPerMinute;
  TimeMs stale_after = 5 * kMsPerMinute;  // 0: never answer "stale"
  ClockSetting clock;
  std::size_t max_flashes = 2'000'000;
  std::function<TimeMs()> wall_clock = SystemNowMs;  // the system clock; tests set their own
};

struct HttpReply {
  int status = 200;
  std::string content_type = "text/plain";
  std::string body;
  std::vector<std::pair<std::string, std::string>> fields;  // more response header fields
};

class StrikeService {
 public:
  explicit StrikeService(ServiceOptions options);

  // A batch from a source. `data_time` tells how far the source has delivered (the end of a GLM
  // file, the time of a feed line), also when the batch is empty.
  void Ingest(const std::vector<Flash>& flashes, std::optional<TimeMs> data_time);

  // Moves flashes that have left the window out of the counting index, drops those older than
  // Retention(), and logs the data going stale or fresh again. Called about once a second.
  void Maintain();

  // Answers one request. `target` is the raw request target (path and query); `detail`: the
  // client sent the request field stormtally::wire::kDetailField with the value 1.
  HttpReply Handle(std::string_view method, std::string_view target, bool detail = false);

  // A source's trouble (a corrupt file, a lost feed), shown on /healthz until the next one.
  void ReportSourceProblem(std::string message);

  TimeMs Now() const;
  // How far the sources have delivered, if they have delivered anything.
  std::optional<TimeMs> NewestData() const;
  // Whether counts can be trusted now; `reason` says why not.
  bool Fresh(std::string* reason) const;

  // How long flashes are kept: the look-back of the last flash's age (an hour), or two windows
  // when that is longer, so that the window before the present one can be counted.
  TimeMs Retention() const;
  std::size_t FlashesHeld() const { return recent_.size() + history_.size(); }

  Metrics& metrics() { return metrics_; }
  // The flashes of the window, which the count reads, and those older, up to Retention().
  const FlashIndex& index() const { return recent_; }
  const FlashIndex& history() const { return history_; }
  const ServiceOptions& options() const { return options_; }

 private:
  struct Area;
  Area Detail(const CountQuery& q, TimeMs now) const;
  std::uint64_t CountWindow(const CountQuery& q, TimeMs from, TimeMs to) const;
  void EvictAndCap(TimeMs now);
  // Puts flashes older than `before` into history_, where counts reaching back past it look.
  void KeepInHistory(const std::vector<Flash>& flashes, TimeMs before);
  // Reads a count or area query into `q` and takes the time; or the 400 or 503 that answers it.
  std::optional<HttpReply> Admit(std::string_view query, CountQuery& q, TimeMs& now) const;
  HttpReply Count(std::string_view query, bool detail);
  HttpReply AreaJson(std::string_view query);
  HttpReply Health();
  HttpReply RenderMetrics();

  static constexpr TimeMs kNone = INT64_MIN;

  const ServiceOptions options_;
  // Each flash is held once: in recent_ while it may be counted, then in history_. A flash in
  // history_ is older than moved_before_, so a count of the window seldom needs to look there.
  FlashIndex recent_, history_;
  std::atomic<TimeMs> moved_before_{INT64_MIN};
  Metrics metrics_;
  std::mutex ingest_mutex_;
  std::atomic<TimeMs> newest_data_{kNone};   // by data time
  std::atomic<TimeMs> last_arrival_{kNone};  // by wall clock
  mutable std::mutex problem_mutex_;
  std::string last_problem_;
  TimeMs last_problem_time_ = kNone;
  TimeMs last_problem_logged_ = kNone;
  bool stale_ = false;  // as last logged by Maintain()
};

}  // namespace strikecount
