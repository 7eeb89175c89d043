#include "sources.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>

#include "feed_line.h"
#include "glm_file.h"
#include "log.h"
#include "storm_simulator.h"

namespace strikecount {

// ---------------------------------------------------------------------------------------------
Source::~Source() {
  Stop();
}

void Source::Start() {
  stop_ = false;
  thread_ = std::thread([this] {
    try {
      Run();
    } catch (const std::exception& e) {
      LogError(std::string("source stopped: ") + e.what());
    }
  });
}

void Source::Stop() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool Source::Pause(TimeMs ms) {
  std::unique_lock<std::mutex> guard(mutex_);
  wake_.wait_for(guard, std::chrono::milliseconds(ms), [this] { return stop_.load(); });
  return !stop_;
}

// ---------------------------------------------------------------------------------------------
GlmDirectorySource::GlmDirectorySource(StrikeService& service, std::string directory,
                                       std::string platform, TimeMs poll_interval,
                                       std::string reader_program)
    : service_(service),
      directory_(std::move(directory)),
      platform_(std::move(platform)),
      poll_interval_(poll_interval),
      reader_program_(std::move(reader_program)) {}

GlmDirectorySource::~GlmDirectorySource() {
  Stop();
}

void GlmDirectorySource::Run() {
  LogInfo("watching " + directory_ + " for GLM L2 LCFA files of platform " + platform_);
  do {
    try {
      Poll();
    } catch (const std::exception& e) {  // e.g. out of memory; try again at the next poll
      service_.ReportSourceProblem(std::string("watching ") + directory_ + " failed: " + e.what());
    }
  } while (Pause(poll_interval_));
}

void GlmDirectorySource::Poll() {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::directory_iterator it(directory_, ec);
  if (ec) {
    if (!directory_missing_reported_) {
      service_.ReportSourceProblem("GLM directory " + directory_ +
                                   " cannot be read: " + ec.message());
    }
    directory_missing_reported_ = true;
    return;
  }
  directory_missing_reported_ = false;

  struct Candidate {
    std::string path, name;
    std::optional<GlmFileName> parsed;
  };
  std::vector<Candidate> ready;
  std::set<std::string> present;
  const std::int64_t wall_ns = SystemNowMs() * 1'000'000;
  bool complete = true;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) {
      complete = false;
      break;
    }
    const std::string name = it->path().filename().string();
    // Sync tools write into hidden or suffixed temporary names and rename when done.
    if (name.empty() || name[0] == '.' || name.size() < 4 ||
        name.compare(name.size() - 3, 3, ".nc") != 0) {
      continue;
    }
    const std::string path = it->path().string();
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    present.insert(path);
    const std::int64_t mtime_ns =
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    Seen& seen = files_[path];
    const bool unchanged =
        seen.size == static_cast<std::uintmax_t>(st.st_size) && seen.mtime_ns == mtime_ns;
    if (unchanged && seen.settled) continue;
    if (!unchanged) {
      seen.size = static_cast<std::uintmax_t>(st.st_size);
      seen.mtime_ns = mtime_ns;
      seen.settled = false;
      if (wall_ns - mtime_ns < poll_interval_ * 1'000'000) continue;  // may still be growing
    }
    ready.push_back({path, name, ParseGlmFileName(name)});
  }
  if (complete) {
    for (auto f = files_.begin(); f != files_.end();) {
      f = present.count(f->first) ? std::next(f) : files_.erase(f);
    }
  }

  // Oldest first, so the "newest data" clock moves forward only.
  std::sort(ready.begin(), ready.end(), [](const Candidate& a, const Candidate& b) {
    const TimeMs ta = a.parsed ? a.parsed->start : 0, tb = b.parsed ? b.parsed->start : 0;
    return ta != tb ? ta < tb : a.name < b.name;
  });
  // Files that end before the flashes kept begin hold nothing of use: skip them unopened.
  const TimeMs window = service_.Retention();
  TimeMs horizon = service_.Now() - window;
  if (service_.options().clock.kind == ClockSetting::Kind::kNewestData) {
    TimeMs newest = service_.NewestData().value_or(INT64_MIN);
    for (const Candidate& c : ready) {
      if (c.parsed && c.parsed->platform == platform_) newest = std::max(newest, c.parsed->end);
    }
    horizon = newest == INT64_MIN ? INT64_MIN : newest - window;
  }
  for (const Candidate& c : ready) {
    files_[c.path].settled = true;
    if (c.parsed && c.parsed->platform != platform_) {
      service_.metrics().CountGlmFile(Metrics::GlmFile::kOtherPlatform);
      if (other_platforms_logged_.insert(c.parsed->platform).second) {
        LogInfo("ignoring GLM files of platform " + c.parsed->platform + " (taking " + platform_ +
                " only, so no flash counts twice)");
      }
      continue;
    }
    if (c.parsed && c.parsed->end < horizon) {
      service_.metrics().CountGlmFile(Metrics::GlmFile::kOld);
      continue;
    }
    Take(c.path, c.name);
    if (stopping()) return;
  }
}

void GlmDirectorySource::Take(const std::string& path, const std::string& name) {
  Metrics& metrics = service_.metrics();
  const GlmReadResult read = ReadGlmFileIsolated(path, reader_program_);
  if (!read.granule) {
    metrics.CountGlmFile(Metrics::GlmFile::kCorrupt);
    service_.ReportSourceProblem("GLM file " + name + " is unreadable (" + read.error +
                                 "); will retry if it changes");
    return;
  }
  const GlmGranule& g = *read.granule;
  if (g.platform != platform_) {
    metrics.CountGlmFile(Metrics::GlmFile::kOtherPlatform);
    return;
  }
  const std::string key = g.platform + "@" + std::to_string(g.start);
  if (!granules_.emplace(key, g.start).second) {
    metrics.CountGlmFile(Metrics::GlmFile::kDuplicate);
    LogInfo("GLM file " + name + " repeats a granule already taken; ignored");
    return;
  }
  metrics.CountDropped(Metrics::Dropped::kInvalid, g.rejected);
  service_.Ingest(g.flashes, g.end);
  metrics.CountGlmFile(g.flashes.empty() ? Metrics::GlmFile::kEmpty : Metrics::GlmFile::kIngested);
  LogInfo("GLM " + name + ": " + std::to_string(g.flashes.size()) + " flashes" +
          (g.rejected ? " (" + std::to_string(g.rejected) + " rejected)" : "") + ", data to " +
          FormatIso8601(g.end));
  // Remember granules only as long as a copy of them could still matter.
  const TimeMs forget = service_.Now() - service_.Retention() - 60 * kMsPerMinute;
  for (auto it = granules_.begin(); it != granules_.end();) {
    it = it->second < forget ? granules_.erase(it) : std::next(it);
  }
}

// ---------------------------------------------------------------------------------------------
FeedSource::FeedSource(StrikeService& service, std::string path)
    : service_(service), path_(std::move(path)) {}

FeedSource::~FeedSource() {
  Stop();
}

void FeedSource::Consume(bool at_end) {
  std::vector<Flash> batch;
  std::optional<TimeMs> data_time;
  std::uint64_t bad = 0;
  std::string first_error;
  auto take = [&](std::string_view line) {
    const FeedLine parsed = ParseFeedLine(line);
    switch (parsed.kind) {
      case FeedLine::Kind::kFlash:
        batch.push_back(parsed.flash);
        [[fallthrough]];
      case FeedLine::Kind::kHeartbeat:
        data_time = std::max(data_time.value_or(INT64_MIN), parsed.flash.time);
        service_.metrics().CountFeedLine(true);
        break;
      case FeedLine::Kind::kSkip:
        break;
      case FeedLine::Kind::kError:
        if (bad++ == 0) first_error = parsed.error;
        service_.metrics().CountFeedLine(false);
        break;
    }
  };
  size_t start = 0, newline;
  while ((newline = pending_.find('\n', start)) != std::string::npos) {
    const std::string_view line(pending_.data() + start, newline - start);
    start = newline + 1;
    if (discarding_) {  // the tail of an over-long line
      discarding_ = false;
      continue;
    }
    if (line.size() > kMaxLine) {
      if (bad++ == 0) first_error = "line longer than " + std::to_string(kMaxLine) + " bytes";
      service_.metrics().CountFeedLine(false);
      continue;
    }
    take(line);
  }
  pending_.erase(0, start);
  if (pending_.size() > kMaxLine) {
    if (!discarding_ && bad++ == 0)
      first_error = "line longer than " + std::to_string(kMaxLine) + " bytes";
    if (!discarding_) service_.metrics().CountFeedLine(false);
    pending_.clear();
    discarding_ = true;
  }
  if (at_end) {
    if (!pending_.empty() && !discarding_) take(pending_);
    pending_.clear();
    discarding_ = false;
  }
  if (bad > 0) {
    service_.ReportSourceProblem("feed " + path_ + ": " + std::to_string(bad) +
                                 " bad line(s), first: " + first_error);
  }
  if (!batch.empty() || data_time) service_.Ingest(batch, data_time);
}

void FeedSource::Run() {
  char buffer[1 << 16];
  if (path_ == "-") {
    LogInfo("reading the strike feed from standard input");
    while (!stopping()) {
      pollfd p{0, POLLIN, 0};
      const int ready = ::poll(&p, 1, 250);
      if (ready == 0 || (ready < 0 && errno == EINTR)) continue;
      const ssize_t n = ready < 0 ? -1 : ::read(0, buffer, sizeof buffer);
      if (n > 0) {
        pending_.append(buffer, static_cast<size_t>(n));
        Consume(false);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      Consume(true);
      service_.ReportSourceProblem(n == 0 ? "the feed on standard input ended"
                                          : std::string("reading standard input failed: ") +
                                                std::strerror(errno));
      return;
    }
    return;
  }

  int fd = -1;
  ino_t inode = 0;
  off_t offset = 0;
  bool open_failure_reported = false;
  while (!stopping()) {
    if (fd < 0) {
      fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
      struct stat st;
      if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0) ::close(fd), fd = -1;
        if (!open_failure_reported) {
          service_.ReportSourceProblem("feed file " + path_ +
                                       " cannot be opened: " + std::strerror(errno));
        }
        open_failure_reported = true;
        Pause(1000);
        continue;
      }
      open_failure_reported = false;
      inode = st.st_ino;
      offset = 0;
      pending_.clear();
      discarding_ = false;
      LogInfo("following feed file " + path_);
    }
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      offset += n;
      pending_.append(buffer, static_cast<size_t>(n));
      Consume(false);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // At the end for now: has the file been replaced or cut short meanwhile?
    struct stat st;
    const bool replaced = ::stat(path_.c_str(), &st) != 0 || st.st_ino != inode;
    const bool truncated = !replaced && st.st_size < offset;
    if (n < 0 || replaced || truncated) {
      if (truncated) {
        pending_.clear();
      } else {
        Consume(true);
      }
      LogInfo("feed file " + path_ + (truncated ? " was truncated" : " was replaced") +
              "; reopening");
      ::close(fd);
      fd = -1;
      continue;
    }
    Pause(200);
  }
  if (fd >= 0) ::close(fd);
}

// ---------------------------------------------------------------------------------------------
DemoSource::DemoSource(StrikeService& service, double lat, double lon, std::uint64_t seed)
    : service_(service), lat_(lat), lon_(lon), seed_(seed) {}

DemoSource::~DemoSource() {
  Stop();
}

void DemoSource::Run() {
  const auto& options = service_.options();
  TimeMs now = options.wall_clock();
  StormSimulator simulator(lat_, lon_, seed_, now - options.window);
  service_.Ingest(simulator.Advance(now), now);
  char where[64];
  std::snprintf(where, sizeof where, "%.4f,%.4f", lat_, lon_);
  LogInfo(std::string("demo source: SIMULATED thunderstorms near ") + where +
          " -- these counts are not real lightning");
  TimeMs last_log = now;
  while (Pause(1000)) {
    now = options.wall_clock();
    service_.Ingest(simulator.Advance(now), now);
    if (now - last_log >= kMsPerMinute) {
      last_log = now;
      LogInfo("demo source: SIMULATED, " + std::to_string(simulator.storms().size()) +
              " storm cells, " + std::to_string(service_.FlashesHeld()) + " flashes held");
    }
  }
}

}  // namespace strikecount
