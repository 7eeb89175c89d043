#include "glm_file.h"

#include <fcntl.h>
#include <netcdf.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <mutex>

namespace strikecount {
namespace {

// The netCDF library is not thread-safe.
std::mutex& NetcdfMutex() {
  static std::mutex m;
  return m;
}

class NcFile {
 public:
  explicit NcFile(const std::string& path) { status_ = nc_open(path.c_str(), NC_NOWRITE, &id_); }
  ~NcFile() {
    if (status_ == NC_NOERR) nc_close(id_);
  }
  NcFile(const NcFile&) = delete;
  NcFile& operator=(const NcFile&) = delete;
  int status() const { return status_; }
  int id() const { return id_; }

 private:
  int id_ = -1;
  int status_ = NC_NOERR;
};

std::optional<std::string> TextAttr(int nc, int var, const char* name) {
  nc_type type;
  size_t len;
  if (nc_inq_att(nc, var, name, &type, &len) != NC_NOERR || type != NC_CHAR || len > 4096) {
    return std::nullopt;
  }
  std::string value(len, '\0');
  if (len > 0 && nc_get_att_text(nc, var, name, value.data()) != NC_NOERR) return std::nullopt;
  while (!value.empty() && value.back() == '\0') value.pop_back();
  return value;
}

std::optional<double> NumberAttr(int nc, int var, const char* name) {
  nc_type type;
  size_t len;
  if (nc_inq_att(nc, var, name, &type, &len) != NC_NOERR || len != 1 || type == NC_CHAR ||
      type == NC_STRING) {
    return std::nullopt;
  }
  double value;
  if (nc_get_att_double(nc, var, name, &value) != NC_NOERR) return std::nullopt;
  return value;
}

std::string NcError(const char* what, int status) {
  return std::string(what) + ": " + nc_strerror(status);
}

// "s20181830433000": year, day of year, hh, mm, ss, tenths.
std::optional<TimeMs> ParseGlmNameTime(std::string_view t) {
  if (t.size() != 14) return std::nullopt;
  for (char c : t) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  auto num = [&](size_t pos, size_t n) {
    int v = 0;
    for (size_t i = pos; i < pos + n; ++i) v = v * 10 + (t[i] - '0');
    return v;
  };
  const int year = num(0, 4), doy = num(4, 3), hh = num(7, 2), mm = num(9, 2), ss = num(11, 2),
            tenth = num(13, 1);
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (doy < 1 || doy > (leap ? 366 : 365) || hh > 23 || mm > 59 || ss > 60) return std::nullopt;
  const TimeMs days = DaysFromCivil(year, 1, 1) + doy - 1;
  return ((days * 24 + hh) * 60 + mm) * kMsPerMinute + ss * kMsPerSecond + tenth * 100;
}

}  // namespace

std::optional<GlmFileName> ParseGlmFileName(std::string_view name) {
  const size_t slash = name.find_last_of('/');
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  // OR_GLM-L2-LCFA_G16_s20181830433000_e20181830433200_c20181830433231.nc
  const std::string_view prefix = "_GLM-L2-LCFA_";
  const size_t at = name.find(prefix);
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view rest = name.substr(at + prefix.size());
  if (rest.size() < 4 + 16 + 16 || rest[0] != 'G' || rest[3] != '_' || rest[4] != 's' ||
      rest[19] != '_' || rest[20] != 'e') {
    return std::nullopt;
  }
  const auto start = ParseGlmNameTime(rest.substr(5, 14));
  const auto end = ParseGlmNameTime(rest.substr(21, 14));
  if (!start || !end) return std::nullopt;
  return GlmFileName{std::string(rest.substr(0, 3)), *start, *end};
}

GlmReadResult ReadGlmFile(const std::string& path) {
  std::lock_guard<std::mutex> netcdf_guard(NetcdfMutex());
  GlmReadResult result;
  auto fail = [&result](std::string why) {
    result.error = std::move(why);
    return result;
  };
  NcFile file(path);
  if (file.status() != NC_NOERR) return fail(NcError("cannot open as netCDF", file.status()));
  const int nc = file.id();
  GlmGranule g;
  const auto name = ParseGlmFileName(path);

  // Which satellite, and which 20 seconds.
  if (auto platform = TextAttr(nc, NC_GLOBAL, "platform_ID")) {
    g.platform = *platform;
  } else if (name) {
    g.platform = name->platform;
  } else {
    return fail("no platform_ID attribute and no standard file name");
  }
  const auto start_text = TextAttr(nc, NC_GLOBAL, "time_coverage_start");
  const auto end_text = TextAttr(nc, NC_GLOBAL, "time_coverage_end");
  const TimeMs kMissing = INT64_MIN;
  const TimeMs start = start_text ? ParseIso8601(*start_text).value_or(kMissing) : kMissing;
  const TimeMs end = end_text ? ParseIso8601(*end_text).value_or(kMissing) : kMissing;
  if (start != kMissing && end != kMissing && start <= end) {
    g.start = start;
    g.end = end;
  } else if (name) {
    g.start = name->start;
    g.end = name->end;
  } else {
    return fail("no usable time_coverage_start/end");
  }

  int dim;
  size_t n = 0;
  int status = nc_inq_dimid(nc, "number_of_flashes", &dim);
  if (status != NC_NOERR) return fail(NcError("number_of_flashes", status));
  if ((status = nc_inq_dimlen(nc, dim, &n)) != NC_NOERR) {
    return fail(NcError("number_of_flashes", status));
  }
  if (n > 10'000'000) return fail("implausible number_of_flashes");
  if (n == 0) {  // a granule without lightning; flash_count then holds 0, outside valid_range
    result.granule = std::move(g);
    return result;
  }

  int lat_var, lon_var, time_var;
  if ((status = nc_inq_varid(nc, "flash_lat", &lat_var)) != NC_NOERR ||
      (status = nc_inq_varid(nc, "flash_lon", &lon_var)) != NC_NOERR ||
      (status = nc_inq_varid(nc, "flash_time_offset_of_first_event", &time_var)) != NC_NOERR) {
    return fail(NcError("flash variables", status));
  }
  std::vector<float> lat(n), lon(n);
  if ((status = nc_get_var_float(nc, lat_var, lat.data())) != NC_NOERR ||
      (status = nc_get_var_float(nc, lon_var, lon.data())) != NC_NOERR) {
    return fail(NcError("reading flash_lat/flash_lon", status));
  }

  // Time offsets of the first event, unpacked by hand (see the header for the rule).
  const auto units_text = TextAttr(nc, time_var, "units");
  const auto units = units_text ? ParseCfTimeUnits(*units_text) : std::nullopt;
  if (!units) return fail("flash_time_offset_of_first_event has no usable units");
  const double scale = NumberAttr(nc, time_var, "scale_factor").value_or(1.0);
  const double offset = NumberAttr(nc, time_var, "add_offset").value_or(0.0);
  nc_type time_type;
  if ((status = nc_inq_vartype(nc, time_var, &time_type)) != NC_NOERR) {
    return fail(NcError("flash_time_offset_of_first_event", status));
  }
  std::vector<double> raw(n);
  if (time_type == NC_SHORT) {
    std::vector<short> packed(n);
    if ((status = nc_get_var_short(nc, time_var, packed.data())) != NC_NOERR) {
      return fail(NcError("reading flash_time_offset_of_first_event", status));
    }
    if (const auto flag = TextAttr(nc, time_var, "_Unsigned")) {
      g.time_unsigned = *flag == "true";
    } else {
      g.time_unsigned = offset < 0;
    }
    for (size_t i = 0; i < n; ++i) {
      raw[i] = g.time_unsigned ? static_cast<double>(static_cast<std::uint16_t>(packed[i]))
                               : static_cast<double>(packed[i]);
    }
  } else if (time_type == NC_USHORT) {
    std::vector<unsigned short> packed(n);
    if ((status = nc_get_var_ushort(nc, time_var, packed.data())) != NC_NOERR) {
      return fail(NcError("reading flash_time_offset_of_first_event", status));
    }
    g.time_unsigned = true;
    for (size_t i = 0; i < n; ++i) raw[i] = packed[i];
  } else if ((status = nc_get_var_double(nc, time_var, raw.data())) != NC_NOERR) {
    return fail(NcError("reading flash_time_offset_of_first_event", status));
  }

  // A flash is reported in the granule where it ends; it may begin a little before the start.
  const TimeMs earliest = g.start - 60 * kMsPerSecond, latest = g.end + 5 * kMsPerSecond;
  g.flashes.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const double la = lat[i], lo = lon[i];
    const double offset_units = raw[i] * scale + offset;
    const double t = static_cast<double>(units->base) + offset_units * units->ms_per_unit;
    if (!std::isfinite(la) || !std::isfinite(lo) || la < -90 || la > 90 || lo < -180 || lo > 180 ||
        !std::isfinite(t) || t < static_cast<double>(earliest) || t > static_cast<double>(latest)) {
      ++g.rejected;
      continue;
    }
    g.flashes.push_back(Flash{static_cast<TimeMs>(std::llround(t)), la, lo});
  }
  result.granule = std::move(g);
  return result;
}

namespace {

// The reader's answer: a header, the platform text, the error text, the flashes.
struct WireHeader {
  std::uint32_t ok;
  std::uint32_t time_unsigned;
  std::int64_t start, end;
  std::uint64_t rejected, flashes, platform_size, error_size;
};

// The largest answer a reader can give for a file it accepts (see the number_of_flashes cap).
constexpr std::size_t kMaxAnswer = sizeof(WireHeader) + 2 * 65536 + 10'000'000 * sizeof(Flash);

GlmReadResult Failure(std::string why) {
  GlmReadResult result;
  result.error = std::move(why);
  return result;
}

}  // namespace

std::string EncodeGlmReadResult(const GlmReadResult& r) {
  WireHeader h{};
  h.ok = r.granule.has_value();
  if (r.granule) {
    h.time_unsigned = r.granule->time_unsigned;
    h.start = r.granule->start;
    h.end = r.granule->end;
    h.rejected = r.granule->rejected;
    h.flashes = r.granule->flashes.size();
    h.platform_size = r.granule->platform.size();
  }
  h.error_size = r.error.size();
  std::string bytes(reinterpret_cast<const char*>(&h), sizeof h);
  if (r.granule) bytes += r.granule->platform;
  bytes += r.error;
  if (r.granule) {
    bytes.append(reinterpret_cast<const char*>(r.granule->flashes.data()),
                 h.flashes * sizeof(Flash));
  }
  return bytes;
}

GlmReadResult DecodeGlmReadResult(std::string_view bytes) {
  WireHeader h{};
  if (bytes.size() < sizeof h) return Failure("the reader gave no answer");
  std::memcpy(&h, bytes.data(), sizeof h);
  const std::size_t body = bytes.size() - sizeof h;
  if (h.platform_size > body || h.error_size > body - h.platform_size ||
      h.flashes != (body - h.platform_size - h.error_size) / sizeof(Flash) ||
      (body - h.platform_size - h.error_size) % sizeof(Flash) != 0 || (!h.ok && h.flashes != 0)) {
    return Failure("the reader's answer was cut short");
  }
  size_t at = sizeof h;
  GlmReadResult result;
  GlmGranule g;
  g.platform.assign(bytes.data() + at, h.platform_size);
  at += h.platform_size;
  result.error.assign(bytes.data() + at, h.error_size);
  at += h.error_size;
  if (!h.ok) return result;
  g.time_unsigned = h.time_unsigned != 0;
  g.start = h.start;
  g.end = h.end;
  g.rejected = h.rejected;
  g.flashes.resize(h.flashes);
  if (h.flashes > 0) std::memcpy(g.flashes.data(), bytes.data() + at, h.flashes * sizeof(Flash));
  result.granule = std::move(g);
  return result;
}

std::string DefaultGlmReaderProgram() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ((ec ? std::filesystem::path() : self.parent_path()) / "strikecountd-glm-reader").string();
}

GlmReadResult ReadGlmFileIsolated(const std::string& path, const std::string& reader_program,
                                  int timeout_ms) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    return Failure(std::string("cannot make a pipe: ") + std::strerror(errno));
  }
  // The reader gets the pipe as its standard output, nothing on standard input, every signal
  // unblocked and SIGPIPE at its default (the service ignores it, and that would be inherited).
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::string program = reader_program, file = path;
  char* argv[] = {program.data(), file.data(), nullptr};
  pid_t child = -1;
  const int spawned = ::posix_spawn(&child, program.c_str(), &actions, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (spawned != 0) {
    ::close(fds[0]);
    return Failure("cannot start the reader " + reader_program + ": " + std::strerror(spawned));
  }

  // Read everything the reader says, within the time and size allowed.
  std::string bytes;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  bool timed_out = false, too_long = false;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) {
      timed_out = true;
      break;
    }
    pollfd p{fds[0], POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left));
    if (ready <= 0) continue;
    char buffer[65536];
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
    if (bytes.size() > kMaxAnswer) {
      too_long = true;
      break;
    }
  }
  ::close(fds[0]);
  if (timed_out || too_long) ::kill(child, SIGKILL);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (timed_out) {
    return Failure("reading took longer than " + std::to_string(timeout_ms / 1000) + " s");
  }
  if (too_long) return Failure("the reader's answer was too long");
  if (WIFSIGNALED(status)) {
    return Failure(std::string("the reader crashed (") + strsignal(WTERMSIG(status)) + ")");
  }
  return DecodeGlmReadResult(bytes);
}

}  // namespace strikecount
