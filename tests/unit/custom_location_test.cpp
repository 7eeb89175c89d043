// Custom-location mode: the right double-click on the caption that switches it, what switching
// on asks and writes, switching off, and the off label.
#include <gtest/gtest.h>

#include <sstream>

#include "fake_desktop.h"

namespace stormtally::testing {
namespace {

const std::string kQuery = std::string(kTestService) + "/counter/Strike_Counter.php?";
const std::string kOn =
    "information:  Stormtally: Custom Location is now ON.\r\rInput Latitude & Longitude of the "
    "custom location and distance.\r\rDistance is the search radius in miles.";

// Runs the clock to the given time, then releases a mouse button over the caption.
void releaseAt(Harness& h, std::uint64_t atMs, int button = kRightButton) {
  h.desktop.runUntil(atMs);
  h.widget.captionReleased(button);
}

// A right double-click 300 ms long, ending at atMs.
void rightDoubleClick(Harness& h, std::uint64_t atMs) {
  releaseAt(h, atMs - 300);
  releaseAt(h, atMs);
}

// Only a second right release within 500 ms of the previous one switches. Each release is
// written as button and time; "+" marks the ones that switch. The stamp kept after a switch is
// the one of its release, not the time the dialogs were closed (here they take 0 or 5 s each).
// The 32-bit tick counter wraps to 0 after 2^32 ms; both stamps start at 0, and a first release
// soon after the counter's zero point only records, like every first release.
TEST(CustomLocationClicks, SwitchOnlyAtASecondRightReleaseWithin500Ms) {
  // clang-format off
  const std::tuple<std::uint32_t, std::uint64_t, const char*> cases[] = {
      {0, 0, "R10000 R10300+"}, {0, 0, "R10000 R10499+"}, {0, 0, "R10000 R10500"},
      {0, 0, "R10000 R10600 R10900+"}, {0, 0, "R10000 L10100 L10200 R10300+"},
      {0, 0, "L10000 R10100 R10200+"}, {0, 0, "L10000 L10100 L10200"},
      {0, 0, "R10000 M10100 R10200+"}, {0, 0, "R10000 R10100+ R10200+ R10300+"},
      {0, 5000, "R10000 R10300+ R30400 R30600+"}, {0xFFFFFF00u, 0, "R0 R300+"},
      {0xFFFFFF00u, 0, "R0 R500"}, {0x7FFFFF00u, 0, "R0 R300+"}, {0, 0, "R100 R300+"},
      {0, 0, "R0 R499+"}, {0xFFFFFF00u, 0, "R356"}};
  // clang-format on
  for (const auto& [tickBase, dialogMs, releases] : cases) {
    Harness h;
    h.desktop.tickBase = tickBase;
    h.desktop.onDialog = [&h, ms = dialogMs] { h.desktop.nowMs += ms; };
    std::istringstream in(releases);
    std::size_t switches = 0;
    for (std::string r; in >> r;) {
      const int button = r[0] == 'R' ? kRightButton : r[0] == 'L' ? kLeftButton : kMiddleButton;
      releaseAt(h, std::stoull(r.substr(1)), button);
      switches += r.back() == '+';
      EXPECT_EQ(h.c.USR.value(), static_cast<int>(switches % 2)) << releases << " at " << r;
    }
    EXPECT_EQ(h.desktop.dialogs.size(), switches * 4 - switches / 2 * 3);
    EXPECT_EQ(h.desktop.requests.size(), switches);
  }
}

// The timers run on while the message is read, and are off while the prompts are open.
TEST(CustomLocationOn, ExplainsAsksAndRequests) {
  Harness h;
  h.c.Timer1.setEnabled(true);
  h.c.update.setEnabled(true);
  h.desktop.answers = {"38.5", "-90.25W", "25 miles"};
  std::vector<int> timersOn;
  h.desktop.onDialog = [&] {
    timersOn.push_back(h.c.Timer1.enabled() + h.c.Timer2.enabled() + h.c.update.enabled());
  };
  rightDoubleClick(h, 10300);
  EXPECT_EQ(timersOn, (std::vector<int>{3, 0, 0, 0}));
  const std::string prompt = "prompt at 7000,3000:  Custom Location: ";
  EXPECT_EQ(h.desktop.dialogs,
            (std::vector<std::string>{kOn, prompt + "Latitude [0]", prompt + "Longitude [0]",
                                      prompt + "Distance in Miles [0]"}));
  EXPECT_EQ(h.desktop.requests.back().url, kQuery + "lat=38.5&lon=-90.25&distance=25");
  EXPECT_EQ(h.c.ID_LAT.text(), "38.699") << "the radar site's values are left alone";
}

// How answers are read is number_text_test's; here, what each prompt writes. The radius is
// held between 1 and 248 miles; the largest doubles are written rounded to 15 digits, beyond
// the range of a double. A cancelled prompt or a number beyond that range gives 0. Coordinates
// have no range; the exponent form's "+" is escaped in the query.
TEST(CustomLocationOn, WritesTheAnswersAsPlainNumbers) {
  // clang-format off
  const std::pair<const char*, const char*> radii[] = {
      {"", "10"}, {"0", "10"}, {"-20", "10"}, {"0.999", "10"}, {"1e400", "10"}, {"1", "1"},
      {"1.5", "1.5"}, {"25 miles", "25"}, {"247.99", "247.99"}, {"248", "248"}, {"248.5", "248"},
      {"1000", "248"}, {"2,5", "2"}, {"1.7976931348623157e308", "248"},
      {"-1.7976931348623157e308", "10"}};
  const std::pair<const char*, const char*> coordinates[] = {
      {"-90.25W", "-90.25"}, {"", "0"}, {"-0", "0"}, {"1e20", "1E%2B20"}, {"1e400", "0"}};
  // clang-format on
  const auto queryFor = [](std::deque<std::string> answers) {
    Harness h;
    h.desktop.answers = std::move(answers);
    rightDoubleClick(h, 10300);
    return h.desktop.requests.at(0).url.substr(kQuery.size());
  };
  for (const auto& [radius, written] : radii) {
    EXPECT_EQ(queryFor({"1", "2", radius}), "lat=1&lon=2&distance=" + std::string(written));
  }
  for (const auto& [answer, q] : coordinates) {
    EXPECT_EQ(queryFor({answer, answer, "5"}),
              "lat=" + std::string(q) + "&lon=" + q + "&distance=5");
  }
}

TEST(CustomLocationOff, ReturnsToTheSiteAndFollowsTheViewerAgain) {
  Harness h;
  h.desktop.answers = {"38.5", "-90.25", "25"};
  rightDoubleClick(h, 10300);
  h.desktop.windows.push_back({"KTLX - GRLevel3", nullptr});
  h.desktop.runUntil(15000);
  EXPECT_EQ(h.c.Nexrad_Site.text(), "KLSX") << "the scan must not run in custom-location mode";
  h.widget.siteBoxEdited("KEAX");
  rightDoubleClick(h, 20300);
  EXPECT_EQ(h.desktop.dialogs.back(),
            "critical:  Stormtally: Custom Location is now OFF.\r\rStormtally will return to "
            "default @ KEAX.");
  EXPECT_EQ(h.desktop.dialogs.size(), 5u) << "switching off asks nothing";
  EXPECT_EQ(h.desktop.requests.back().url, kQuery + "lat=38.699&lon=-90.683&distance=128");
  EXPECT_EQ(h.c.USR_DISTANCE.text(), "25") << "the custom values stay for the next time";
  h.desktop.log.clear();
  h.widget.siteBoxAsked();  // shows the site box and changes nothing else
  EXPECT_EQ(h.desktop.log, (std::vector<std::string>{"Nexrad_Site shown", "repaint"}));
  h.desktop.runUntil(21300);
  EXPECT_EQ(h.c.Nexrad_Site.text(), "KTLX") << "the box follows the viewer within a second";
}

}  // namespace
}  // namespace stormtally::testing
