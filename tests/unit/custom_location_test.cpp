#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_desktop.h"

namespace stormtally::testing {
namespace {

const std::string kOnText =
    "Custom Location is now ON.\r\rInput Latitude & Longitude of the custom location and "
    "distance.\r\rDistance is the search radius in miles.";
const std::string kQuery = std::string(kTestService) + "/counter/Strike_Counter.php?";

std::string offText(const std::string& site) {
  return "Custom Location is now OFF.\r\rStormtally will return to default @ " + site + ".";
}

// Runs the clock to the given time, then releases a mouse button over the caption.
void releaseAt(Harness& h, std::uint64_t atMs, int button = kRightButton) {
  h.desktop.runUntil(atMs);
  h.widget.mouseUp(ControlId::Label1, button);
}

// A right double-click 300 ms long, ending at atMs.
void rightDoubleClick(Harness& h, std::uint64_t atMs) {
  releaseAt(h, atMs - 300);
  releaseAt(h, atMs);
}

struct Release {
  std::uint64_t atMs;
  int button;
  int modeAfter;  // USR after this release
};

struct TimingCase {
  const char* name;
  std::uint32_t tickBase;
  std::vector<Release> releases;
};

constexpr int R = kRightButton;
constexpr int L = kLeftButton;
constexpr int M = kMiddleButton;

TEST(CustomLocationClicks, SwitchOnlyAtASecondRightReleaseWithin500Ms) {
  const TimingCase cases[] = {
      {"300 ms apart", 0, {{10000, R, 0}, {10300, R, 1}}},
      {"499 ms apart", 0, {{10000, R, 0}, {10499, R, 1}}},
      {"500 ms apart is too slow", 0, {{10000, R, 0}, {10500, R, 0}}},
      {"a slow second release becomes the first of the next pair",
       0,
       {{10000, R, 0}, {10600, R, 0}, {10900, R, 1}}},
      {"a single release", 0, {{10000, R, 0}}},
      {"left releases in between neither switch nor record",
       0,
       {{10000, R, 0}, {10100, L, 0}, {10200, L, 0}, {10300, R, 1}}},
      {"a left release does not start a pair", 0, {{10000, L, 0}, {10100, R, 0}, {10200, R, 1}}},
      {"left releases alone never switch", 0, {{10000, L, 0}, {10100, L, 0}, {10200, L, 0}}},
      {"a middle release is ignored", 0, {{10000, R, 0}, {10100, M, 0}, {10200, R, 1}}},
      // The dialogs take no time here, and the stamp kept after a switch is the one of its
      // release, so each further quick release switches again.
      {"three quick releases: on, then off", 0, {{10000, R, 0}, {10100, R, 1}, {10200, R, 0}}},
      {"four quick releases: on, off, on",
       0,
       {{10000, R, 0}, {10100, R, 1}, {10200, R, 0}, {10300, R, 1}}},
      // The 32-bit tick counter wraps to 0 after 2^32 ms.
      {"a pair across the wrap", 0xFFFFFF00u, {{0, R, 0}, {300, R, 1}}},
      {"too slow across the wrap", 0xFFFFFF00u, {{0, R, 0}, {500, R, 0}}},
      {"a pair across the 2^31 boundary", 0x7FFFFF00u, {{0, R, 0}, {300, R, 1}}},
      // Both stamps start at 0; a first release soon after the counter's zero point only
      // records, like every first release.
      {"first release 100 ms after system start", 0, {{100, R, 0}, {300, R, 1}}},
      {"first release at tick 0", 0, {{0, R, 0}, {499, R, 1}}},
      {"first release just after a wrap", 0xFFFFFF00u, {{356, R, 0}}},
  };
  for (const TimingCase& c : cases) {
    SCOPED_TRACE(c.name);
    Harness h;
    h.desktop.tickBase = c.tickBase;
    int switches = 0;
    int mode = 0;
    for (const Release& r : c.releases) {
      releaseAt(h, r.atMs, r.button);
      if (r.modeAfter != mode) ++switches;
      mode = r.modeAfter;
      EXPECT_EQ(h.c.USR.value(), r.modeAfter) << "after the release at " << r.atMs << " ms";
    }
    EXPECT_EQ(h.desktop.messages.size(), static_cast<std::size_t>(switches));
    EXPECT_EQ(h.desktop.requests.size(), static_cast<std::size_t>(switches));
  }
}

TEST(CustomLocationClicks, RecordTheTickOfEachRightRelease) {
  Harness h;
  h.desktop.tickBase = 0xFFFFFF00u;
  releaseAt(h, 100);
  EXPECT_EQ(static_cast<std::uint32_t>(h.c.currentRightUp), 0xFFFFFF64u);
  EXPECT_EQ(static_cast<std::uint32_t>(h.c.previousRightUp), 0xFFFFFF64u);
  releaseAt(h, 150, kLeftButton);
  EXPECT_EQ(static_cast<std::uint32_t>(h.c.currentRightUp), 0xFFFFFF64u);
  EXPECT_EQ(static_cast<std::uint32_t>(h.c.previousRightUp), 0xFFFFFF64u);
  releaseAt(h, 2000);
  EXPECT_EQ(static_cast<std::uint32_t>(h.c.currentRightUp), 1744u);
  EXPECT_EQ(static_cast<std::uint32_t>(h.c.previousRightUp), 1744u);
}

// After a switch the stamp kept is the one taken at its release, not the time the dialogs
// were closed.
TEST(CustomLocationClicks, KeepTheStampOfTheSwitchingRelease) {
  Harness h;
  h.desktop.onMessageBox = [&] { h.desktop.nowMs += 5000; };  // the user reads slowly
  rightDoubleClick(h, 10300);
  ASSERT_EQ(h.c.USR.value(), 1);
  EXPECT_EQ(h.c.previousRightUp, 10300);
  EXPECT_EQ(h.desktop.nowMs, 15300u);
  releaseAt(h, 15400);  // 100 ms after the dialogs, 5100 ms after the switching release
  EXPECT_EQ(h.c.USR.value(), 1);
  releaseAt(h, 15600);
  EXPECT_EQ(h.c.USR.value(), 0);
}

TEST(CustomLocationOn, ExplainsAsksAndRequests) {
  Harness h;
  // Timer1 and update are never both on in the cycle; here they are, to see the order.
  h.c.Timer1.setEnabled(true);
  h.c.update.setEnabled(true);
  h.desktop.answers = {"38.5", "-90.25W", "25 miles"};
  bool timersOnDuringMessage = false;
  h.desktop.onMessageBox = [&] {
    timersOnDuringMessage = h.c.Timer1.enabled() && h.c.Timer2.enabled() && h.c.update.enabled();
  };
  releaseAt(h, 10000);
  h.desktop.log.clear();
  releaseAt(h, 10300);

  const std::vector<std::string> expected = {
      "messageBox( Stormtally,64)",
      "Timer1 off",
      "Timer2 off",
      "update off",
      "inputBox(Latitude)",
      "inputBox(Longitude)",
      "inputBox(Distance in Miles)",
      "SetWindowPos(TOPMOST,0x3)",
      "SetWindowPos(TOPMOST,0x53)",
      "focus",
      "repaint",
      "GET " + kQuery + "lat=38.5&lon=-90.25&distance=25",
      "Timer1 on",
  };
  EXPECT_EQ(h.desktop.log, expected);
  EXPECT_TRUE(timersOnDuringMessage);

  ASSERT_EQ(h.desktop.messages.size(), 1u);
  EXPECT_EQ(h.desktop.messages[0].text, kOnText);
  EXPECT_EQ(h.desktop.messages[0].title, " Stormtally");
  EXPECT_EQ(h.desktop.messages[0].style, 64);
  ASSERT_EQ(h.desktop.prompts.size(), 3u);
  const char* promptTexts[] = {"Latitude", "Longitude", "Distance in Miles"};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(h.desktop.prompts[i].prompt, promptTexts[i]);
    EXPECT_EQ(h.desktop.prompts[i].title, " Custom Location");
    EXPECT_EQ(h.desktop.prompts[i].defaultText, "0");
    EXPECT_EQ(h.desktop.prompts[i].left, 7000);
    EXPECT_EQ(h.desktop.prompts[i].top, 3000);
  }

  EXPECT_EQ(h.c.USR.value(), 1);
  EXPECT_EQ(h.c.USR_LAT.text(), "38.5");
  EXPECT_EQ(h.c.USR_LON.text(), "-90.25");
  EXPECT_EQ(h.c.USR_DISTANCE.text(), "25");
  EXPECT_FALSE(h.c.Nexrad_Site.visible());
  EXPECT_EQ(h.c.tstrikes.caption(), "0");
  // The radar site's values are left alone.
  EXPECT_EQ(h.c.ID_LAT.text(), "38.699");
  EXPECT_EQ(h.c.ID_LON.text(), "-90.683");
  EXPECT_EQ(h.c.ID_DISTANCE.text(), "128");
}

struct AnswerCase {
  const char* answer;
  const char* written;
};

TEST(CustomLocationOn, HoldsTheRadiusBetweenOneAnd248Miles) {
  // The number reading itself is number_text_test's; here, what the radius prompt does with
  // the value. Every prompt cancelled gives the origin and ten miles.
  const AnswerCase cases[] = {
      {"", "10"},
      {"0", "10"},
      {"-20", "10"},
      {"0.999", "10"},
      {"1e400", "10"},
      {"1", "1"},
      {"1.5", "1.5"},
      {"25 miles", "25"},
      {"247.99", "247.99"},
      {"248", "248"},
      {"248.5", "248"},
      {"1000", "248"},
      // The largest doubles are written rounded to 15 digits, beyond the range of a double.
      {"1.7976931348623157e308", "248"},
      {"-1.7976931348623157e308", "10"},
      {"2,5", "2"},
  };
  for (const AnswerCase& c : cases) {
    SCOPED_TRACE(std::string("radius answer \"") + c.answer + "\"");
    Harness h;
    h.desktop.answers = {"38.5", "-90.25", c.answer};
    rightDoubleClick(h, 10300);
    EXPECT_EQ(h.c.USR_DISTANCE.text(), c.written);
    ASSERT_EQ(h.desktop.requests.size(), 1u);
    EXPECT_EQ(h.desktop.requests[0].url,
              kQuery + "lat=38.5&lon=-90.25&distance=" + std::string(c.written));
  }
}

TEST(CustomLocationOn, WritesCoordinatesAsPlainNumbers) {
  struct CoordinateCase {
    const char* answer;
    const char* written;
    const char* inQuery;
  };
  const CoordinateCase cases[] = {
      {"-90.25W", "-90.25", "-90.25"},
      {"", "0", "0"},  // a cancelled prompt
      {"-0", "0", "0"},
      // No range test on coordinates; the exponent form's "+" is escaped in the query.
      {"1e20", "1E+20", "1E%2B20"},
      // A number beyond the range of a double counts as no number.
      {"1e400", "0", "0"},
  };
  for (const CoordinateCase& c : cases) {
    SCOPED_TRACE(std::string("latitude answer \"") + c.answer + "\"");
    Harness h;
    h.desktop.answers = {c.answer, c.answer, "5"};
    rightDoubleClick(h, 10300);
    EXPECT_EQ(h.c.USR_LAT.text(), c.written);
    EXPECT_EQ(h.c.USR_LON.text(), c.written);
    ASSERT_EQ(h.desktop.requests.size(), 1u);
    EXPECT_EQ(h.desktop.requests[0].url,
              kQuery + "lat=" + c.inQuery + "&lon=" + c.inQuery + "&distance=5");
  }
}

TEST(CustomLocationOff, ReturnsToTheSiteAndFollowsTheViewerAgain) {
  Harness h;
  h.desktop.answers = {"38.5", "-90.25", "25"};
  rightDoubleClick(h, 10300);
  ASSERT_EQ(h.c.USR.value(), 1);
  h.desktop.windows.push_back({"KTLX - GRLevel3", nullptr});
  h.desktop.runUntil(15000);
  EXPECT_EQ(h.c.Nexrad_Site.text(), "KLSX") << "the scan must not run in custom-location mode";

  h.desktop.log.clear();
  h.desktop.messages.clear();
  rightDoubleClick(h, 20300);

  ASSERT_EQ(h.desktop.messages.size(), 1u);
  EXPECT_EQ(h.desktop.messages[0].text, offText("KLSX"));
  EXPECT_EQ(h.desktop.messages[0].title, " Stormtally");
  EXPECT_EQ(h.desktop.messages[0].style, 16);
  const std::vector<std::string> expected = {
      "messageBox( Stormtally,16)",
      "Timer2 on",
      "SetWindowPos(TOPMOST,0x3)",
      "SetWindowPos(TOPMOST,0x53)",
      "focus",
      "repaint",
      "GET " + kQuery + "lat=38.699&lon=-90.683&distance=128",
  };
  EXPECT_EQ(h.desktop.log, expected);
  EXPECT_EQ(h.c.USR.value(), 0);
  EXPECT_TRUE(h.c.Timer1.enabled());
  EXPECT_EQ(h.desktop.prompts.size(), 3u) << "switching off asks nothing";
  // The custom values stay for the next time; the site box stays hidden.
  EXPECT_EQ(h.c.USR_LAT.text(), "38.5");
  EXPECT_EQ(h.c.USR_LON.text(), "-90.25");
  EXPECT_EQ(h.c.USR_DISTANCE.text(), "25");
  EXPECT_FALSE(h.c.Nexrad_Site.visible());

  // The viewer scan runs again: the site box follows the viewer within a second.
  h.desktop.runUntil(21300);
  EXPECT_EQ(h.c.Nexrad_Site.text(), "KTLX");
}

TEST(CustomLocationOff, NamesTheSiteTheBoxHoldsAtTheRelease) {
  Harness h;
  rightDoubleClick(h, 10300);
  h.widget.siteBoxEdited("KTLX");
  rightDoubleClick(h, 20300);
  ASSERT_EQ(h.desktop.messages.size(), 2u);
  EXPECT_EQ(h.desktop.messages[1].text, offText("KTLX"));
}

TEST(CustomLocationOff, SwitchesOnAgainWithNewPrompts) {
  Harness h;
  h.desktop.answers = {"38.5", "-90.25", "25", "40", "-100", "50"};
  rightDoubleClick(h, 10300);
  rightDoubleClick(h, 20300);
  rightDoubleClick(h, 30300);
  EXPECT_EQ(h.c.USR.value(), 1);
  EXPECT_EQ(h.desktop.prompts.size(), 6u);
  ASSERT_EQ(h.desktop.requests.size(), 3u);
  EXPECT_EQ(h.desktop.requests[2].url, kQuery + "lat=40&lon=-100&distance=50");
  EXPECT_EQ(h.desktop.messages[2].text, kOnText);
}

TEST(OffLabel, ShowsTheSiteBoxAndChangesNothingElse) {
  for (bool customMode : {false, true}) {
    SCOPED_TRACE(customMode ? "custom-location mode" : "radar-site mode");
    Harness h;
    if (customMode) {
      h.desktop.answers = {"38.5", "-90.25", "25"};
      rightDoubleClick(h, 10300);
    } else {
      h.c.Nexrad_Site.setVisible(false);
    }
    const Controls before = h.c;
    h.desktop.log.clear();
    h.widget.click(ControlId::off);

    EXPECT_TRUE(h.c.Nexrad_Site.visible());
    EXPECT_EQ(h.desktop.log, std::vector<std::string>{"repaint"});
    EXPECT_EQ(h.c.USR.value(), before.USR.value());
    for (auto box :
         {&Controls::USR_LAT, &Controls::USR_LON, &Controls::USR_DISTANCE, &Controls::ID_LAT,
          &Controls::ID_LON, &Controls::ID_DISTANCE, &Controls::Nexrad_Site, &Controls::process}) {
      EXPECT_EQ((h.c.*box).text(), (before.*box).text());
    }
    for (auto timer :
         {&Controls::Timer1, &Controls::Timer2, &Controls::Timer3, &Controls::update}) {
      EXPECT_EQ((h.c.*timer).enabled(), (before.*timer).enabled());
    }
    EXPECT_EQ(h.c.previousRightUp, before.previousRightUp);
    EXPECT_EQ(h.c.tstrikes.caption(), before.tstrikes.caption());
  }
}

}  // namespace
}  // namespace stormtally::testing
