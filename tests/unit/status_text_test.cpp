// What the widget says about its count: one row per failure kind, with the service's own line
// as the status may show it, and the whole status as the tooltip shows it in each mode.
#include <gtest/gtest.h>

#include "fake_desktop.h"
#include "query/status_text.h"

namespace stormtally::testing {
namespace {

using K = FailureKind;

TEST(StatusText, FailureReasons) {
  // clang-format off
  const std::tuple<K, int, std::string, std::string> rows[] = {
      {K::NoAddress, 0, "", "no location to ask for"},
      {K::NameNotResolved, 0, "", "the name s.org was not found: no network, or a wrong name"},
      {K::CannotConnect, 0, "", "cannot connect to s.org"},
      {K::CertificateUntrusted, 0, "", "the certificate of s.org is not trusted"},
      {K::CertificateExpired, 0, "", "the certificate of s.org has expired or is not valid yet"},
      {K::CertificateOtherHost, 0, "", "the certificate of s.org is for another host"},
      {K::NoSecureChannel, 0, "", "no secure connection with s.org: its certificate is not trusted, or it shares no TLS version with this system"},
      {K::NoAnswerInTime, 0, "", "no answer from s.org within 15 s"},
      {K::HttpStatus, 404, "", "s.org answered with HTTP status 404"},
      {K::HttpStatus, 503, " the service has no recent lightning data \r\nsince 12:00\n",
       "s.org answered with HTTP status 503: the service has no recent lightning data"},
      {K::HttpStatus, 500, "caf\xC3\xA9 \x01tab\there\x7F!", "s.org answered with HTTP status 500: caf tabhere!"},
      {K::HttpStatus, 502, "  \n503 below", "s.org answered with HTTP status 502"},
      {K::HttpStatus, 503, std::string(200, 'x'), "s.org answered with HTTP status 503: " + std::string(120, 'x')},
      {K::AnswerTooLarge, 200, "", "the answer from s.org is over 64 KiB"},
      {K::RedirectRefused, 302, "", "s.org sent the request elsewhere, not followed"},
      {K::BrokenAnswer, 0, "", "s.org ended the connection without a proper answer"},
      {K::NotANumber, 200, "12 strikes", "the answer from s.org is not a number: 12 strikes"},
  };
  // clang-format on
  for (const auto& [kind, status, body, reason] : rows) {
    EXPECT_EQ(failureReason(kind, status, serviceLine(body), hostOf("https://s.org:8443/")),
              reason);
  }
}

// The status as the tooltip shows it: place and radius of the current mode, then how to ask,
// the time of the count, or why there is none.
TEST(StatusText, FollowsTheLookupTheRequestAndTheMode) {
  Harness h;
  h.desktop.files["radars.gis"] = "klsx|ST LOUIS|38.698611|-90.682778\n";
  EXPECT_EQ(h.widget.statusText().substr(0, 46), "KLSX, within 128 mi\nNo count yet: type a radar");
  h.desktop.nowMs = 5;
  int enter = kEnterKey;
  h.widget.siteBoxKeyPress(enter);
  h.settle();
  EXPECT_EQ(h.widget.statusText(), "KLSX ST LOUIS, within 128 mi\ncount as of 5 ms");
  h.c.Nexrad_Site.setText("KXYZ");
  h.answerWith("", 0);
  h.desktop.answer.failure = K::NoAnswerInTime;
  h.widget.siteBoxKeyPress(enter);
  h.settle();
  EXPECT_EQ(h.widget.statusText(),
            "KXYZ (not in the site table), within 128 mi\nno count at 5 "
            "ms: no answer from strikes.test within 15 s");
  h.c.USR.setValue(1);
  h.c.USR_LAT.setText("38.7");
  h.c.USR_LON.setText("-90.683");
  EXPECT_EQ(h.widget.statusText().substr(0, 40), "custom point 38.70, -90.68, within 5 mi\n");
}

// The lines the extras add, in the user's words: nearest flash, trend, and the all-clear of a
// place in thunder range, with ages moved on by the seconds since the answer.
TEST(StatusText, TheExtrasInPlainWords) {
  wire::AreaDetail near;
  near.count = 42;
  near.previousCount = 17;
  near.windowSeconds = 900;
  near.nearest = wire::NearestFlash{23.44, 40, 150};
  near.lastAgeSeconds = 720;
  wire::AreaDetail none = near;
  none.count = none.previousCount = 0;
  none.nearest.reset();
  none.lastAgeSeconds.reset();
  wire::AreaDetail close = near;
  close.count = 3, close.previousCount = 9;
  close.nearest = wire::NearestFlash{7.96, 200, 40};
  close.lastAgeSeconds = 40;
  const std::tuple<wire::AreaDetail, std::string, bool, int, std::string> rows[] = {
      {near, "128", false, 0,
       "Nearest flash 23 mi NE, 2 min ago\nActivity rising: 42 in the last 15 min, 17 in the 15 "
       "min before"},
      {none, "128", false, 0,
       "No flash within 128 mi in the last 15 min\nActivity steady: 0 in the last 15 min, 0 in "
       "the 15 min before"},
      {near, "8", true, 0,
       "Nearest flash 23 mi NE, 2 min ago\nActivity rising: 42 in the last 15 min, 17 in the 15 "
       "min before\nLast flash within 8 mi 12 min ago: all clear in 18 min"},
      {close, "8", true, 1,
       "Nearest flash 8 mi SSW, 41 s ago\nActivity falling: 3 in the last "
       "15 min, 9 in the 15 min before\nLast flash within 8 mi 41 s ago: all clear in 29 min 19 s"},
      {near, "8", true, 1080, "\nAll clear: no flash within 8 mi for 30 min"},
      {none, "8", true, 0, "\nAll clear: no flash within 8 mi for 30 min"},
  };
  for (const auto& [detail, radius, allClear, elapsed, text] : rows) {
    const std::string lines = detailLines(detail, radius, allClear, elapsed);
    EXPECT_EQ(lines.substr(lines.size() - std::min(lines.size(), text.size())), text);
  }
}

// In custom mode with a thunder-range radius the all-clear counts down each second without a
// new request, stops once clear, and starts over with a newer flash; a failure drops it, and an
// answer without extras gives the status it always gave.
TEST(StatusText, TheAllClearCountsDownBetweenRequests) {
  Harness h;
  h.c.USR.setValue(1);
  h.c.USR_LAT.setText("38.7");
  h.c.USR_LON.setText("-90.68");
  h.c.USR_DISTANCE.setText("8");
  auto ask = [&](std::string headers, int status = 200) {
    h.answerWith("3", status, 0, std::move(headers));
    h.c.Command1.press();
    h.settle();
  };
  auto lastLine = [&] {
    const std::string text = h.widget.statusText();
    return text.substr(text.rfind('\n') + 1);
  };
  const std::string fields =
      "Strikes-Window: 900\r\nStrikes-Previous-Count: 1\r\nStrikes-Lookback: 3600\r\n";
  ask(fields + "Strikes-Last-Age: 1795\r\n");
  EXPECT_EQ(lastLine(), "Last flash within 8 mi 29 min ago: all clear in 5 s");
  EXPECT_TRUE(h.c.allClear.enabled());
  h.desktop.advance(3000);
  EXPECT_EQ(lastLine(), "Last flash within 8 mi 29 min ago: all clear in 2 s");
  h.desktop.advance(2000);
  EXPECT_EQ(lastLine(), "All clear: no flash within 8 mi for 30 min");
  EXPECT_FALSE(h.c.allClear.enabled());
  ask(fields + "Strikes-Last-Age: 60\r\n");
  EXPECT_EQ(lastLine(), "Last flash within 8 mi 1 min ago: all clear in 29 min");
  EXPECT_TRUE(h.c.allClear.enabled());
  ask("", 503);
  EXPECT_EQ(lastLine().find("no count at"), 0u);
  EXPECT_FALSE(h.c.allClear.enabled());
  ask("Content-Type: text/plain\r\n");
  EXPECT_EQ(h.widget.statusText(), "custom point 38.70, -90.68, within 8 mi\ncount as of 5000 ms");
  h.c.USR.setValue(0);  // a radar site's 128 miles: no all-clear
  ask(fields + "Strikes-Last-Age: 60\r\n");
  EXPECT_EQ(lastLine(), "Activity rising: 3 in the last 15 min, 1 in the 15 min before");
  EXPECT_FALSE(h.c.allClear.enabled());
}

}  // namespace
}  // namespace stormtally::testing
