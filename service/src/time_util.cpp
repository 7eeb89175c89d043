#include "time_util.h"

#include <chrono>
#include <cstdio>

namespace strikecount {
namespace {

bool Digits(std::string_view s, size_t pos, size_t n, int& out) {
  if (pos + n > s.size()) return false;
  int v = 0;
  for (size_t i = pos; i < pos + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
  }
  out = v;
  return true;
}

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : kDays[m - 1];
}

}  // namespace

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

std::optional<TimeMs> ParseIso8601(std::string_view s) {
  int year, month, day, hour, minute, second = 0;
  if (!Digits(s, 0, 4, year) || s.size() < 16 || s[4] != '-' || !Digits(s, 5, 2, month) ||
      s[7] != '-' || !Digits(s, 8, 2, day) || (s[10] != 'T' && s[10] != ' ') ||
      !Digits(s, 11, 2, hour) || s[13] != ':' || !Digits(s, 14, 2, minute)) {
    return std::nullopt;
  }
  size_t pos = 16;
  TimeMs fraction_ms = 0;
  if (pos < s.size() && s[pos] == ':') {
    if (!Digits(s, pos + 1, 2, second)) return std::nullopt;
    pos += 3;
    if (pos < s.size() && s[pos] == '.') {
      ++pos;
      const size_t start = pos;
      TimeMs scale = 100;
      while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
        fraction_ms += (s[pos] - '0') * scale;
        scale /= 10;
        ++pos;
      }
      if (pos == start) return std::nullopt;
    }
  }
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 60) {
    return std::nullopt;
  }
  TimeMs zone_ms = 0;
  if (pos < s.size()) {
    if (s[pos] == 'Z' || s[pos] == 'z') {
      ++pos;
    } else if (s[pos] == '+' || s[pos] == '-') {
      int zh, zm;
      const int sign = s[pos] == '-' ? -1 : 1;
      if (!Digits(s, pos + 1, 2, zh)) return std::nullopt;
      pos += 3;
      if (pos < s.size() && s[pos] == ':') ++pos;
      if (!Digits(s, pos, 2, zm)) return std::nullopt;
      pos += 2;
      if (zh > 23 || zm > 59) return std::nullopt;
      zone_ms = sign * (zh * 60 + zm) * kMsPerMinute;
    }
  }
  if (pos != s.size()) return std::nullopt;
  const TimeMs days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
  return ((days * 24 + hour) * 60 + minute) * kMsPerMinute + second * kMsPerSecond + fraction_ms -
         zone_ms;
}

std::string FormatIso8601(TimeMs t) {
  TimeMs days = t >= 0 ? t / 86400000 : (t - 86399999) / 86400000;
  TimeMs ms_of_day = t - days * 86400000;
  // civil_from_days
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02lld:%02lld:%02lld.%03lldZ",
                static_cast<long long>(y), m, d, static_cast<long long>(ms_of_day / 3600000),
                static_cast<long long>(ms_of_day / 60000 % 60),
                static_cast<long long>(ms_of_day / 1000 % 60),
                static_cast<long long>(ms_of_day % 1000));
  return buf;
}

std::optional<CfTimeUnits> ParseCfTimeUnits(std::string_view units) {
  const std::string_view since = " since ";
  const size_t at = units.find(since);
  if (at == std::string_view::npos) return std::nullopt;
  const std::string_view unit = units.substr(0, at);
  CfTimeUnits out;
  if (unit == "milliseconds" || unit == "millisecond" || unit == "ms") {
    out.ms_per_unit = 1;
  } else if (unit == "seconds" || unit == "second" || unit == "s" || unit == "sec") {
    out.ms_per_unit = 1000;
  } else {
    return std::nullopt;
  }
  std::string_view base = units.substr(at + since.size());
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  const auto t = ParseIso8601(base);
  if (!t) return std::nullopt;
  out.base = *t;
  return out;
}

TimeMs SystemNowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace strikecount
