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

}  // namespace
}  // namespace stormtally::testing
