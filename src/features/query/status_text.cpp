#include "query/status_text.h"

#include <cmath>

#include "protocol/decimal_text.h"
#include "protocol/wire_contract.h"

namespace stormtally {
namespace {

// One row per failure kind. In a row's text "{host}" stands for the service's host name,
// "{status}" for the HTTP status and "{line}" for ": " and the service's own line, or nothing
// when it sent none.
struct ReasonRow {
  FailureKind kind;
  const char* text;
};
constexpr ReasonRow kReasons[] = {
    {FailureKind::None, "a count"},
    {FailureKind::NoAddress, "no location to ask for"},
    {FailureKind::NameNotResolved, "the name {host} was not found: no network, or a wrong name"},
    {FailureKind::CannotConnect, "cannot connect to {host}"},
    {FailureKind::CertificateUntrusted, "the certificate of {host} is not trusted"},
    {FailureKind::CertificateExpired, "the certificate of {host} has expired or is not valid yet"},
    {FailureKind::CertificateOtherHost, "the certificate of {host} is for another host"},
    {FailureKind::NoSecureChannel,
     "no secure connection with {host}: its certificate is not trusted, or it shares no TLS "
     "version with this system"},
    {FailureKind::NoAnswerInTime, "no answer from {host} within 15 s"},
    {FailureKind::HttpStatus, "{host} answered with HTTP status {status}{line}"},
    {FailureKind::AnswerTooLarge, "the answer from {host} is over 64 KiB"},
    {FailureKind::RedirectRefused, "{host} sent the request elsewhere, not followed"},
    {FailureKind::BrokenAnswer, "{host} ended the connection without a proper answer"},
    {FailureKind::NotANumber, "the answer from {host} is not a number{line}"},
};

void replaceAll(std::string& text, std::string_view mark, std::string_view with) {
  for (std::size_t at = text.find(mark); at != std::string::npos;
       at = text.find(mark, at + with.size())) {
    text.replace(at, mark.size(), with);
  }
}

std::string twoDecimals(std::string_view number) {
  const std::optional<double> value = wire::readNumber(number);
  if (!value || !std::isfinite(*value)) return std::string(number);
  // Far beyond any latitude or longitude, the number's own text says it.
  if (!(std::fabs(*value) < 1e12)) return numberText(*value);
  // Whole hundredths, written by hand: printf's float formatting would add its code to the exe.
  const long long hundredths = std::llround(*value * 100);
  const unsigned long long digits = hundredths < 0 ? 0ULL - hundredths : hundredths;
  std::string text = (hundredths < 0 ? "-" : "") + std::to_string(digits / 100) + '.';
  text += static_cast<char>('0' + digits / 10 % 10);
  text += static_cast<char>('0' + digits % 10);
  return text;
}

// A span of seconds as the status says it: "40 s", "12 min", "17 min 42 s" when the seconds
// matter (a countdown).
std::string span(std::int64_t seconds, bool withSeconds) {
  if (seconds < 60) return std::to_string(seconds) + " s";
  std::string text = std::to_string(seconds / 60) + " min";
  if (withSeconds && seconds % 60) text += " " + std::to_string(seconds % 60) + " s";
  return text;
}

std::string ago(std::int64_t seconds) {
  return span(seconds, false) + " ago";
}

// Miles to the tenth close by, where it tells a thunder range apart; whole miles beyond.
std::string miles(double value) {
  if (value < 9.95) return numberText(std::round(value * 10) / 10);
  return std::to_string(std::llround(value));
}

}  // namespace

std::int64_t allClearLeft(const wire::AreaDetail& detail, std::int64_t elapsed) {
  if (!detail.lastAgeSeconds) return 0;
  const std::int64_t left = wire::kAllClearSeconds - (*detail.lastAgeSeconds + elapsed);
  return left > 0 ? left : 0;
}

std::string detailLines(const wire::AreaDetail& d, std::string_view radius, bool allClear,
                        std::int64_t elapsed) {
  const std::string window = span(d.windowSeconds, true);
  std::string text;
  if (d.nearest) {
    text += "Nearest flash " + miles(d.nearest->miles) + " mi " +
            std::string(wire::compassPoint(d.nearest->bearing)) + ", " +
            ago(d.nearest->ageSeconds + elapsed);
  } else {
    text += "No flash within " + std::string(radius) + " mi in the last " + window;
  }
  const wire::Trend trend = wire::trendOf(d.count, d.previousCount);
  text += "\nActivity " + std::string(wire::trendWord(trend)) + ": " + std::to_string(d.count) +
          " in the last " + window + ", " + std::to_string(d.previousCount) + " in the " + window +
          " before";
  if (!allClear) return text;
  const std::int64_t left = allClearLeft(d, elapsed);
  if (left > 0) {
    text += "\nLast flash within " + std::string(radius) + " mi " +
            ago(*d.lastAgeSeconds + elapsed) + ": all clear in " + span(left, true);
  } else {
    text += "\nAll clear: no flash within " + std::string(radius) + " mi for " +
            span(wire::kAllClearSeconds, false);
  }
  return text;
}

std::string serviceLine(std::string_view body) {
  std::string line;
  for (char ch : body.substr(0, body.find_first_of("\r\n"))) {
    if (ch >= ' ' && ch <= '~') line += ch;
  }
  const std::size_t first = line.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  line = line.substr(first, line.find_last_not_of(' ') + 1 - first);
  return line.substr(0, kServiceLineChars);
}

std::string failureReason(FailureKind kind, int status, std::string_view serviceLine,
                          std::string_view host) {
  std::string text = "no count";
  for (const ReasonRow& row : kReasons) {
    if (row.kind == kind) text = row.text;
  }
  replaceAll(text, "{host}", host);
  replaceAll(text, "{status}", std::to_string(status));
  replaceAll(text, "{line}", serviceLine.empty() ? "" : ": " + std::string(serviceLine));
  return text;
}

std::string sitePlace(std::string_view siteId, std::string_view siteName) {
  std::string place(siteId);
  if (!siteName.empty()) place += " " + std::string(siteName);
  return place;
}

std::string customPlace(std::string_view lat, std::string_view lon) {
  return "custom point " + twoDecimals(lat) + ", " + twoDecimals(lon);
}

std::string hostOf(std::string_view url) {
  const std::size_t scheme = url.find("://");
  if (scheme != std::string_view::npos) url.remove_prefix(scheme + 3);
  return std::string(url.substr(0, url.find_first_of(":/?#")));
}

std::string statusText(const StatusFacts& facts) {
  std::string text = facts.place + ", within " + facts.radius + " mi\n";
  const std::string asking = "asking " + facts.host + "\u2026";
  if (!facts.last) {
    return text + (facts.asking ? asking
                                : "No count yet: type a radar site id into the box and press "
                                  "Enter, or right double-click the caption to count around a "
                                  "point of your own.");
  }
  const RequestOutcome& last = *facts.last;
  if (last.failure == FailureKind::None) {
    text += "count as of " + last.endedAt;
    if (last.detail)
      text +=
          "\n" + detailLines(*last.detail, last.radius, last.allClear, facts.secondsSinceAnswer);
  } else {
    text += "no count at " + last.endedAt + ": " +
            failureReason(last.failure, last.status, last.serviceLine, facts.host);
  }
  return facts.asking ? text + "\n" + asking : text;
}

}  // namespace stormtally
