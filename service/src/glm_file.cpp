#include "glm_file.h"

#include <netcdf.h>

#include <cmath>
#include <cstdint>
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

}  // namespace strikecount
