#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_desktop.h"

namespace stormtally::testing {
namespace {

void setWindows(Harness& h, const std::vector<std::string>& titles) {
  h.desktop.windows.clear();
  for (const std::string& t : titles) h.desktop.windows.push_back({t, nullptr});
}

// Forwards to the fake desktop and records every change of `process`.
struct ProcessRecorder : ControlObserver {
  explicit ProcessRecorder(Harness& harness) : h(harness) { h.c.setObserver(this); }
  void textChanged(ControlId id) override {
    if (id == ControlId::process) writes.push_back(h.c.process.text());
    h.desktop.textChanged(id);
  }
  void timerChanged(ControlId id) override { h.desktop.timerChanged(id); }
  Harness& h;
  std::vector<std::string> writes;
};

struct ScanCase {
  const char* name;
  std::vector<std::string> titles;
  std::string site;
};

// Which titles qualify is title_rule_test's; here, how the scan walks the windows.
TEST(ViewerScan, LeavesTheSiteOfTheLastQualifyingWindow) {
  const ScanCase cases[] = {
      {"no windows", {}, "KLSX"},
      {"GRLevel3", {"KTLX - GRLevel3"}, "KTLX"},
      {"the last viewer window wins", {"KTLX - GRLevel3", "KFWS - GRLevel2"}, "KFWS"},
      {"other windows after it change nothing",
       {"KTLX - GRLevel3", "Untitled - Notepad", "", "Warnings - GRLevel3"},
       "KTLX"},
      {"empty titles around it", {"", "", "KAMX - GR2Analyst", ""}, "KAMX"},
      {"a three-letter name and a blank", {"TLX - GRLevel3"}, "TLX "},
      {"warnings windows", {"Warnings - GRLevel3", "Warnings - GR2Analyst"}, "KLSX"},
  };
  for (const ScanCase& c : cases) {
    SCOPED_TRACE(c.name);
    Harness h;
    setWindows(h, c.titles);
    h.desktop.advance(1000);
    EXPECT_EQ(h.c.Nexrad_Site.text(), c.site);
    EXPECT_EQ(h.c.process.text(), "");
  }
}

TEST(ViewerScan, HoldsEachTitleInProcessOnlyWhileExaminingIt) {
  Harness h;
  ProcessRecorder recorder(h);
  setWindows(h, {"", "KTLX - GRLevel3", "", "Untitled - Notepad", ""});
  std::vector<std::string> seenBeforeRead;
  h.desktop.windows[3].beforeTextRead = [&](FakeWindow&) {
    seenBeforeRead.push_back(h.c.process.text());
  };
  h.desktop.advance(1000);
  const std::vector<std::string> expected = {"KTLX - GRLevel3", "", "Untitled - Notepad", ""};
  EXPECT_EQ(recorder.writes, expected);
  EXPECT_EQ(seenBeforeRead, std::vector<std::string>{""});
}

TEST(ViewerScan, SkipsAWindowWithoutTitleWithoutTouchingProcess) {
  Harness h;
  setWindows(h, {""});
  bool read = false;
  h.desktop.windows[0].beforeTextRead = [&](FakeWindow&) { read = true; };
  Lifecycle lifecycle(h.c, h.desktop);
  ViewerScan scan(h.c, lifecycle, h.desktop);
  h.c.process.setText("left by someone");
  EXPECT_TRUE(scan.CheckWindowTitle(0));
  EXPECT_FALSE(read);
  EXPECT_EQ(h.c.process.text(), "left by someone");
  // A window that is already gone has no title either.
  EXPECT_TRUE(scan.CheckWindowTitle(7));
  EXPECT_EQ(h.c.process.text(), "left by someone");
  EXPECT_EQ(h.c.Nexrad_Site.text(), "KLSX");
}

struct ChangeCase {
  const char* name;
  std::string before;
  std::string after;  // the title when it is read
  std::string site;
};

// A window may close or change its title between the length read and the text read.
TEST(ViewerScan, SurvivesWindowsThatChangeMidScan) {
  const ChangeCase cases[] = {
      {"closes", "KTLX - GRLevel3", "", "KFWS"},
      {"gets a shorter viewer title", "KTLX - GRLevel3 long title", "KAMX - GRLevel2", "KAMX"},
      {"gets a longer title, cut at the old length", "KTLX - GRLevel3", "KAMX - GR2Analyst",
       "KFWS"},
      {"stops being a viewer", "KTLX - GRLevel3", "Notepad", "KFWS"},
      {"becomes a viewer", "Some other window title", "KAMX - GRLevel3", "KAMX"},
      {"delivers a NUL before the marker", "KTLX - GRLevel3", std::string("KAMX\0- GRLevel3", 15),
       "KFWS"},
      {"delivers a NUL after the marker", "KTLX - GRLevel3 x",
       std::string("KAMX - GRLevel3\0x", 17), "KAMX"},
  };
  for (const ChangeCase& c : cases) {
    SCOPED_TRACE(c.name);
    Harness h;
    // A viewer window before the changing one, so "nothing written" shows as its site.
    setWindows(h, {"KFWS - GRLevel3", c.before, "Untitled - Notepad"});
    const std::string after = c.after;
    h.desktop.windows[1].beforeTextRead = [after](FakeWindow& w) { w.title = after; };
    h.desktop.advance(1000);
    EXPECT_EQ(h.c.Nexrad_Site.text(), c.site);
    EXPECT_EQ(h.c.process.text(), "");
    EXPECT_FALSE(h.desktop.ended);
  }
}

TEST(ViewerScan, RaisesTheWindowOnEveryTick) {
  Harness h;
  setWindows(h, {"KTLX - GRLevel3", ""});
  h.desktop.log.clear();  // the start-up step
  h.desktop.advance(3000);
  std::vector<std::string> expected;
  for (int i = 0; i < 3; ++i) expected.push_back("on top");
  EXPECT_EQ(h.desktop.log, expected);
}

TEST(ViewerScan, FollowsTheViewerFromTickToTick) {
  Harness h;
  // Typed text is replaced within a second while a viewer runs.
  setWindows(h, {"KTLX - GRLevel3"});
  h.widget.siteBoxEdited("KXYZ");
  h.desktop.advance(1000);
  EXPECT_EQ(h.c.Nexrad_Site.text(), "KTLX");
  // The order of the windows decides, and may change between ticks.
  setWindows(h, {"KTLX - GRLevel3", "KFWS - GRLevel2"});
  h.desktop.advance(1000);
  EXPECT_EQ(h.c.Nexrad_Site.text(), "KFWS");
  setWindows(h, {"KFWS - GRLevel2", "KTLX - GRLevel3"});
  h.desktop.advance(1000);
  EXPECT_EQ(h.c.Nexrad_Site.text(), "KTLX");
  // Once the viewer is gone, the last site stays.
  setWindows(h, {"Untitled - Notepad"});
  h.desktop.advance(5000);
  EXPECT_EQ(h.c.Nexrad_Site.text(), "KTLX");
  // And text typed now stays too.
  h.widget.siteBoxEdited("KXYZ");
  h.desktop.advance(5000);
  EXPECT_EQ(h.c.Nexrad_Site.text(), "KXYZ");
}

}  // namespace
}  // namespace stormtally::testing
