// The sources that feed the service, each on its own thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "glm_file.h"
#include "strike_service.h"

namespace strikecount {

class Source {
 public:
  virtual ~Source();
  void Start();
  void Stop();

 protected:
  virtual void Run() = 0;
  // Sleeps unless asked to stop; returns false when stopping.
  bool Pause(TimeMs ms);
  bool stopping() const { return stop_.load(); }

 private:
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
};

// Watches a directory that a sync tool fills with GLM L2 LCFA files. A file is read once its size
// and modification time have held still for one poll (or it is older than that at start-up).
// Only files from one platform are taken, so a flash seen by two satellites counts once, and a
// granule that turns up twice (same platform and start) is taken once. An unreadable file is
// reported and tried again only when it changes. Each file is read by `reader_program` (see
// ReadGlmFileIsolated).
class GlmDirectorySource : public Source {
 public:
  GlmDirectorySource(StrikeService& service, std::string directory, std::string platform,
                     TimeMs poll_interval, std::string reader_program = DefaultGlmReaderProgram());
  ~GlmDirectorySource() override;
  // One pass over the directory; Run() calls it once per poll interval. Public for tests.
  void Poll();

 protected:
  void Run() override;

 private:
  struct Seen {
    std::uintmax_t size = 0;
    std::int64_t mtime_ns = 0;
    bool settled = false;  // read, or decided not to read, at this size and time
  };
  void Take(const std::string& path, const std::string& name);

  StrikeService& service_;
  const std::string directory_, platform_;
  const TimeMs poll_interval_;
  const std::string reader_program_;
  std::map<std::string, Seen> files_;
  std::map<std::string, TimeMs> granules_;  // platform + start -> start, for duplicates
  std::set<std::string> other_platforms_logged_;
  bool directory_missing_reported_ = false;
};

// Reads time,lat,lon lines (CSV or NDJSON) from a file that keeps growing, following it through
// truncation and replacement, or from standard input ("-").
class FeedSource : public Source {
 public:
  FeedSource(StrikeService& service, std::string path);
  ~FeedSource() override;
  static constexpr std::size_t kMaxLine = 4096;

 protected:
  void Run() override;

 private:
  // Parses complete lines in `pending_`, hands them to the service.
  void Consume(bool at_end);

  StrikeService& service_;
  const std::string path_;
  std::string pending_;
  bool discarding_ = false;  // inside an over-long line
};

// SIMULATED thunderstorms near a point (see StormSimulator).
class DemoSource : public Source {
 public:
  DemoSource(StrikeService& service, double lat, double lon, std::uint64_t seed);
  ~DemoSource() override;

 protected:
  void Run() override;

 private:
  StrikeService& service_;
  const double lat_, lon_;
  const std::uint64_t seed_;
};

}  // namespace strikecount
