// strikecountd: counts lightning flashes near a point over the last minutes, over HTTPS.
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "count_query.h"
#include "http_front.h"
#include "log.h"
#include "sources.h"
#include "strike_service.h"

#ifdef STRIKECOUNTD_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

using namespace strikecount;

namespace {

std::atomic<int> g_signal{0};
std::atomic<bool> g_reload{false};
void OnSignal(int sig) {
  if (sig == SIGHUP) {
    g_reload = true;
  } else {
    g_signal = sig;
  }
}

// Tells systemd (Type=notify) about readiness, reloads and stopping; nothing elsewhere.
void Notify([[maybe_unused]] const char* state) {
#ifdef STRIKECOUNTD_SYSTEMD
  sd_notify(0, state);
#endif
}

bool ParseLatLon(const std::string& text, double& lat, double& lon) {
  const size_t comma = text.find(',');
  if (comma == std::string::npos) return false;
  const auto readLat = stormtally::wire::readNumber(std::string_view(text).substr(0, comma));
  const auto readLon = stormtally::wire::readNumber(std::string_view(text).substr(comma + 1));
  if (!readLat || !readLon) return false;
  lat = *readLat;
  lon = *readLon;
  return lat >= -90 && lat <= 90 && lon >= -180 && lon <= 180;
}

// A refused command line is told as CLI11 tells it. When the configuration file alone is
// refused as well, the line names the file and the key instead, so that a misspelt key or a bad
// value there is found at once. Usage and configuration errors exit with 2.
int ParseFailure(CLI::App& app, const CLI::ParseError& error) {
  if (error.get_exit_code() == 0) return app.exit(error);
  const std::string config = app.get_option("--config")->as<std::string>();
  if (!config.empty()) {
    try {
      app.clear();
      app.parse(std::vector<std::string>{config, "--config"});  // arguments in reverse order
    } catch (const CLI::ParseError& file_error) {
      std::string what = file_error.what();
      const std::string unknown = "INI was not able to parse ";
      if (what.rfind(unknown, 0) == 0) {
        const std::string key = what.substr(unknown.size());
        what = key.size() > 3 && key.compare(key.size() - 3, 3, ".++") == 0
                   ? "unknown section [" + key.substr(0, key.size() - 3) + "]"
                   : "unknown key '" + key + "'";
      } else if (what.rfind("--", 0) == 0) {
        what.erase(0, 2);  // "platform: g16 not in ...", as the key is written in the file
      }
      std::fprintf(stderr, "strikecountd: %s: %s\n", config.c_str(), what.c_str());
      return 2;
    }
  }
  app.exit(error);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "strikecountd: answers GET /counter/Strike_Counter.php?lat=..&lon=..&distance=.. "
      "with the number of lightning flashes within `distance` statute miles in the last "
      "minutes."};
  int https_port = 48443, http_port = 0;
  std::string bind = "127.0.0.1", cert, key;
  double window_minutes = 15, stale_after_minutes = 5;
  std::string glm_dir, platform = "G19", feed, demo, clock_text = "system";
  std::string glm_reader = DefaultGlmReaderProgram();
  double poll_seconds = 2;
  std::uint64_t demo_seed = 20250407;
  std::size_t max_flashes = 2'000'000, max_connections = 1024;
  int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  std::string print;

  app.set_version_flag("--version", "strikecountd " STRIKECOUNTD_VERSION);
  app.set_config("--config", "",
                 "read flags from this file, one `name = value` a line (e.g. platform = G19); "
                 "flags on the command line win; an unknown name or a bad value there stops "
                 "strikecountd");
  app.allow_config_extras(CLI::config_extras_mode::error);
  // No setting takes a list: a value is whole, `demo = 38.7,-90.7` and a path with blanks alike.
  app.get_config_formatter_base()->arrayDelimiter(';');
  app.add_option("--https-port", https_port, "HTTPS port; 0 turns HTTPS off")
      ->capture_default_str()
      ->check(CLI::Range(0, 65535));
  app.add_option("--http-port", http_port, "plain HTTP port for use behind a proxy; 0 = off")
      ->capture_default_str()
      ->check(CLI::Range(0, 65535));
  app.add_option("--bind", bind, "address to listen on")->capture_default_str();
  app.add_option("--cert", cert, "server certificate chain (PEM), needed for HTTPS");
  app.add_option("--key", key, "server private key (PEM), needed for HTTPS");
  app.add_option("--window-minutes", window_minutes,
                 "count flashes whose first event lies in the last W minutes")
      ->capture_default_str()
      ->check(CLI::Range(0.1, 1440.0));
  app.add_option("--stale-after", stale_after_minutes,
                 "minutes without new data after which counts give way to 503; 0 = never "
                 "(applies with --clock system)")
      ->capture_default_str()
      ->check(CLI::Range(0.0, 1440.0));
  auto* glm_opt = app.add_option("--glm-dir", glm_dir, "directory filled with GLM L2 LCFA files");
  app.add_option("--platform", platform,
                 "take GLM files of this satellite only (G16, G17, G18, G19), so that no flash "
                 "counts twice")
      ->capture_default_str()
      ->check(CLI::IsMember({"G16", "G17", "G18", "G19"}));
  app.add_option("--glm-reader", glm_reader,
                 "the program that reads each GLM file (default: strikecountd-glm-reader in "
                 "strikecountd's own folder)");
  app.add_option("--poll-seconds", poll_seconds, "how often to look into --glm-dir")
      ->capture_default_str()
      ->check(CLI::Range(0.1, 3600.0));
  auto* feed_opt = app.add_option(
      "--feed", feed,
      "strike feed: a growing file of time,lat,lon lines (CSV or NDJSON), or - for standard input");
  auto* demo_opt = app.add_option("--demo", demo, "SIMULATED thunderstorms near LAT,LON");
  app.add_option("--demo-seed", demo_seed, "random seed of the demo storms")->capture_default_str();
  app.add_option("--clock", clock_text,
                 "system | newest-data | fixed:YYYY-MM-DDThh:mm:ssZ | from:YYYY-MM-DDThh:mm:ssZ "
                 "(the system clock, set to that time at start)")
      ->capture_default_str();
  app.add_option("--max-flashes", max_flashes, "cap on flashes held; beyond it the oldest go")
      ->capture_default_str()
      ->check(CLI::Range(std::size_t{1}, std::size_t{200'000'000}));
  app.add_option("--threads", threads, "network threads (default: one per core)")
      ->capture_default_str()
      ->check(CLI::Range(1, 256));
  app.add_option("--max-connections", max_connections, "open client connections at most")
      ->capture_default_str()
      ->check(CLI::Range(std::size_t{1}, std::size_t{1'000'000}));
  app.add_option("--print", print,
                 "check the settings, print the value of this one (e.g. platform) as "
                 "strikecountd would use it, and exit; the GLM sync reads the platform so");
  glm_opt->excludes(feed_opt)->excludes(demo_opt);
  feed_opt->excludes(demo_opt);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return ParseFailure(app, e);
  }

  ServiceOptions options;
  options.window = static_cast<TimeMs>(window_minutes * kMsPerMinute);
  options.stale_after = static_cast<TimeMs>(stale_after_minutes * kMsPerMinute);
  options.max_flashes = max_flashes;
  const auto clock = ParseClockSetting(clock_text);
  if (!clock) {
    std::fprintf(stderr, "--clock: expected system, newest-data or fixed:<ISO 8601 time>\n");
    return 2;
  }
  options.clock = *clock;
  double demo_lat = 0, demo_lon = 0;
  if (!glm_dir.empty()) {
    options.source = SourceKind::kGlm;
    options.source_detail = "GLM L2 LCFA files of " + platform + " in " + glm_dir;
  } else if (!feed.empty()) {
    options.source = SourceKind::kFeed;
    options.source_detail =
        "strike feed " + (feed == "-" ? std::string("on standard input") : feed);
  } else if (!demo.empty()) {
    if (!ParseLatLon(demo, demo_lat, demo_lon)) {
      std::fprintf(stderr, "--demo: expected LAT,LON in decimal degrees, e.g. 38.699,-90.683\n");
      return 2;
    }
    if (options.clock.kind != ClockSetting::Kind::kSystem) {
      std::fprintf(stderr, "--demo runs on the system clock only\n");
      return 2;
    }
    options.source = SourceKind::kDemo;
    options.source_detail = "SIMULATED thunderstorms near " + demo;
  } else {
    std::fprintf(stderr, "name a source: --glm-dir DIR, --feed FILE|- or --demo LAT,LON\n");
    return 2;
  }
  if (https_port == 0 && http_port == 0) {
    std::fprintf(stderr, "both --https-port and --http-port are 0: nothing to serve on\n");
    return 2;
  }
  if (https_port != 0 && (cert.empty() || key.empty())) {
    std::fprintf(stderr, "HTTPS needs --cert and --key (or --https-port 0 with --http-port)\n");
    return 2;
  }
  if (!print.empty()) {
    const auto* option = app.get_option_no_throw("--" + print);
    if (option == nullptr || print == "print" || print == "config") {
      std::fprintf(stderr, "--print: no setting is called %s\n", print.c_str());
      return 2;
    }
    std::printf("%s\n", option->as<std::string>().c_str());
    return 0;
  }
  // What the settings name must be there; the sync, which only asks for a setting, may not
  // see the private key.
  if (!glm_dir.empty() && ::access(glm_reader.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "--glm-reader: %s is not an executable program\n", glm_reader.c_str());
    return 2;
  }
  for (const auto& [flag, file] : {std::pair{"--cert", &cert}, std::pair{"--key", &key}}) {
    if (https_port != 0 && ::access(file->c_str(), R_OK) != 0) {
      std::fprintf(stderr, "%s: cannot read %s: %s\n", flag, file->c_str(), std::strerror(errno));
      return 2;
    }
  }

  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGHUP, OnSignal);

  StrikeService service(options);
  HttpHooks hooks;
  hooks.handle = [&service](std::string_view method, std::string_view target, bool detail) {
    return service.Handle(method, target, detail);
  };
  hooks.answered = [&service](int status, double seconds) {
    service.metrics().RecordRequest(status, seconds);
  };
  hooks.connections = [&service](int delta) {
    delta > 0 ? service.metrics().ConnectionOpened() : service.metrics().ConnectionClosed();
  };
  HttpLimits limits;
  limits.max_connections = max_connections;
  HttpFront front(hooks, limits);
  try {
    if (https_port != 0) {
      const auto port = front.ListenTls(bind, static_cast<std::uint16_t>(https_port), cert, key);
      LogInfo("serving HTTPS on " + bind + ":" + std::to_string(port));
    }
    if (http_port != 0) {
      const auto port = front.ListenPlain(bind, static_cast<std::uint16_t>(http_port));
      LogInfo("serving plain HTTP on " + bind + ":" + std::to_string(port));
    }
  } catch (const std::exception& e) {
    LogError(e.what());
    return 1;
  }

  std::unique_ptr<Source> source;
  switch (options.source) {
    case SourceKind::kGlm:
      source = std::make_unique<GlmDirectorySource>(
          service, glm_dir, platform, static_cast<TimeMs>(poll_seconds * 1000), glm_reader);
      break;
    case SourceKind::kFeed:
      source = std::make_unique<FeedSource>(service, feed);
      break;
    case SourceKind::kDemo:
      LogWarning("DEMO MODE: counts come from SIMULATED thunderstorms near " + demo +
                 ", not from real lightning");
      source = std::make_unique<DemoSource>(service, demo_lat, demo_lon, demo_seed);
      break;
  }
  char summary[256];
  std::snprintf(summary, sizeof summary,
                "window %g min, clock %s, stale after %g min (0 = never), at most %zu flashes",
                window_minutes, clock_text.c_str(), stale_after_minutes, max_flashes);
  LogInfo(summary);
  source->Start();
  front.Start(threads);
  Notify("READY=1");

  while (g_signal == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    static int ticks = 0;
    if (++ticks % 10 == 0) service.Maintain();
    if (g_reload.exchange(false) && https_port != 0) {
      // Renewed certificates: connections accepted from now on get the new pair.
      Notify("RELOADING=1");
      const std::string problem = front.ReloadTls(cert, key);
      if (problem.empty()) {
        LogInfo("reloaded certificate " + cert + " and key " + key);
      } else {
        LogError("certificate reload refused, keeping the previous pair: " + problem);
      }
      Notify("READY=1");
    }
  }
  // Answer what has begun, refuse what is new, and be gone well within 5 s.
  LogInfo("stopping on signal " + std::to_string(g_signal.load()) + ": draining");
  Notify("STOPPING=1");
  front.Drain(std::chrono::milliseconds(3500));
  source->Stop();
  return 0;
}
