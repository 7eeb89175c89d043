// The strike-count request: the address it builds, how the answer becomes the caption, and
// what it leaves behind.
#include <gtest/gtest.h>

#include "fake_desktop.h"
#include "query/count_text.h"
#include "query/request_url.h"

namespace stormtally::testing {
namespace {

const std::string kPathAndQuery = std::string(kTestService) + "/counter/Strike_Counter.php?";

TEST(RequestUrl, EncodesEveryValueSoNoneCanChangeTheQuery) {
  struct Case {
    const char *lat, *lon, *distance, *query;
  };
  const Case cases[] = {
      {"38.699", "-90.683", "128", "lat=38.699&lon=-90.683&distance=128"},
      {"", "", "", "lat=&lon=&distance="},
      {"1&lon=2", "#x", "5 0", "lat=1%26lon%3D2&lon=%23x&distance=5%200"},
      {"+1", "a/b?c", "~_.-", "lat=%2B1&lon=a%2Fb%3Fc&distance=~_.-"},
      {"\xC3\xA9", "%", "\r\n", "lat=%C3%A9&lon=%25&distance=%0D%0A"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(buildRequestUrl(kTestService, c.lat, c.lon, c.distance), kPathAndQuery + c.query)
        << c.lat << " " << c.lon << " " << c.distance;
  }
}

TEST(RequestUrl, AcceptsAServiceBaseWithATrailingSlash) {
  EXPECT_EQ(buildRequestUrl("https://h:8443/", "1", "2", "3"),
            "https://h:8443/counter/Strike_Counter.php?lat=1&lon=2&distance=3");
}

TEST(CountText, BodyToCaption) {
  struct Case {
    const char* body;
    const char* caption;  // nullptr: not a count
  };
  const Case cases[] = {
      {"17", "17"},
      {"17.9", "17"},
      {"-2.5", "-3"},
      {" 42 ", "42"},
      {"42\r\n", "42"},
      {"\t0\n", "0"},
      {"-0", "0"},
      {"-0.1", "-1"},
      {"+5", "5"},
      {"1e3", "1000"},
      {"2.5E+1", "25"},
      {".5", "0"},
      {"5.", "5"},
      {"0017", "17"},
      {"-9223372036854775808", "-9223372036854775808"},
      {"1e18", "1000000000000000000"},
      {"abc", nullptr},
      {"", nullptr},
      {"   ", nullptr},
      {"12 apples", nullptr},
      {"12,5", nullptr},
      {"1 2", nullptr},
      {"1e300", nullptr},
      {"-1e19", nullptr},
      {"1e400", nullptr},
      {"inf", nullptr},
      {"nan", nullptr},
      {"0x10", nullptr},
      {"1e", nullptr},
      {"-", nullptr},
      {".", nullptr},
      {"<html>503</html>", nullptr},
  };
  for (const Case& c : cases) {
    const std::optional<std::string> got = countFromBody(c.body);
    if (c.caption) {
      EXPECT_EQ(got, std::optional<std::string>(c.caption)) << '"' << c.body << '"';
    } else {
      EXPECT_EQ(got, std::nullopt) << '"' << c.body << '"';
    }
  }
}

// 9223372036854775807 is 2^63 as a double: its floor does not fit.
TEST(CountText, TheLargestInt64IsNotRepresentableAndFails) {
  EXPECT_EQ(countFromBody("9223372036854775807"), std::nullopt);
  EXPECT_EQ(countFromBody("9223372036854774784"), "9223372036854774784");
}

TEST(Command1, AsksForTheCurrentModesLocationAndShowsTheFlooredCount) {
  Harness h;
  h.answerWith("17.9");
  h.c.Command1.press();
  ASSERT_EQ(h.desktop.requests.size(), 1u);
  EXPECT_EQ(h.desktop.requests[0].url, kPathAndQuery + "lat=38.699&lon=-90.683&distance=128");
  EXPECT_EQ(h.c.tstrikes.caption(), "17");

  h.c.USR.setValue(1);
  h.c.USR_LAT.setText("35.333");
  h.c.USR_LON.setText("-97.278");
  h.c.USR_DISTANCE.setText("25");
  h.answerWith("3");
  h.c.Command1.press();
  EXPECT_EQ(h.desktop.requests.back().url, kPathAndQuery + "lat=35.333&lon=-97.278&distance=25");
  EXPECT_EQ(h.c.tstrikes.caption(), "3");
}

TEST(Command1, EveryFailureShowsDashesAndStillStartsTheFirstWait) {
  struct Case {
    const char* name;
    std::function<void(Harness&)> arrange;
  };
  // Which bodies are no count is CountText's table; the cycle's failures over time are
  // refresh_cycle_test's.
  const Case cases[] = {
      {"transport failure", [](Harness& h) { h.failWith("connection refused"); }},
      {"status 503", [](Harness& h) { h.answerWith("0", 503); }},
      {"garbage body", [](Harness& h) { h.answerWith("abc"); }},
      {"mode flag neither 0 nor 1", [](Harness& h) { h.c.USR.setValue(2); }},
  };
  for (const Case& c : cases) {
    Harness h;
    h.answerWith("41");
    h.c.Command1.press();  // a good count first: a failure must not keep it
    ASSERT_EQ(h.c.tstrikes.caption(), "41");
    h.c.Timer1.setEnabled(false);
    c.arrange(h);
    h.c.Command1.press();
    EXPECT_EQ(h.c.tstrikes.caption(), "--") << c.name;
    EXPECT_TRUE(h.c.Timer1.enabled()) << c.name;
  }
}

TEST(Command1, NoAddressMeansNoRequest) {
  Harness h;
  h.c.USR.setValue(-1);
  h.c.Command1.press();
  EXPECT_TRUE(h.desktop.requests.empty());
}

TEST(Command1, StepsRunInOrderAndLeaveTimer1On) {
  Harness h;
  h.desktop.log.clear();
  h.c.Command1.press();
  const std::vector<std::string> expected = {
      "SetWindowPos(TOPMOST,0x3)",
      "SetWindowPos(TOPMOST,0x53)",
      "focus",
      "repaint",
      "GET " + kPathAndQuery + "lat=38.699&lon=-90.683&distance=128",
      "Timer1 on"};
  EXPECT_EQ(h.desktop.log, expected);
}

}  // namespace
}  // namespace stormtally::testing
