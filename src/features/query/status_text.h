// What the widget says about its count in plain words: where it counts, how far, when the
// service last answered and, when there is no count, why. The tooltip over the caption and
// the count shows it, screen readers read it with the count, and each failure also goes to
// the debugger's output.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/http_client.h"
#include "protocol/area_detail.h"

namespace stormtally {

// How a request ended, as the status tells it.
struct RequestOutcome {
  FailureKind failure = FailureKind::None;
  int status = 0;           // the HTTP status of an answer
  std::string serviceLine;  // the service's own line about a failure, cleaned by serviceLine()
  std::string endedAt;      // the local time the request ended, as the desktop writes it
  std::uint32_t systemError = 0;  // the platform's error number behind a failure, or 0
  // With a count, the extras the service sent beside it, if any.
  std::optional<wire::AreaDetail> detail;
  std::string radius;     // the radius asked for, in miles as its box held it
  bool allClear = false;  // a place of one's own within thunder range: the status counts down
};

// A custom radius up to this many miles is a thunder range: the status adds the all-clear.
constexpr double kAllClearRadiusMiles = 25;

// Seconds until the all-clear, `elapsed` seconds after the answer: 0 once it is clear.
std::int64_t allClearLeft(const wire::AreaDetail& detail, std::int64_t elapsed);

// What the status is made of.
struct StatusFacts {
  std::string place;                    // placeText() of the location asked for
  std::string radius;                   // miles, as the radius box holds it
  std::string host;                     // the service's host name
  std::optional<RequestOutcome> last;   // nothing before the first request
  bool asking = false;                  // a request is out, its answer still to come
  std::int64_t secondsSinceAnswer = 0;  // ages in the extras move on by this much
};

// The first line of a body as the status may show it: printable ASCII only (anything else is
// dropped), blanks at both ends trimmed, at most kServiceLineChars characters.
constexpr std::size_t kServiceLineChars = 120;
std::string serviceLine(std::string_view body);

// Why a request gave no count, in one line.
std::string failureReason(FailureKind kind, int status, std::string_view serviceLine,
                          std::string_view host);

// The place asked for: "KLSX ST LOUIS" for a radar site with its name from the site table,
// "KLSX" without one, or "custom point 38.70, -90.68" with two decimals for a custom location.
std::string sitePlace(std::string_view siteId, std::string_view siteName);
std::string customPlace(std::string_view lat, std::string_view lon);

// The host name in an https address ("https://host:8443/path" gives "host").
std::string hostOf(std::string_view url);

// The lines the extras of a count add to the status: the nearest flash, the trend and, where
// the request asked for it, the all-clear; ages `elapsed` seconds after the answer.
std::string detailLines(const wire::AreaDetail& detail, std::string_view radius, bool allClear,
                        std::int64_t elapsed);

// The whole status, one fact a line; while a request is out, its last line says so.
std::string statusText(const StatusFacts& facts);

}  // namespace stormtally
