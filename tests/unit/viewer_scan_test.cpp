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

// Which titles qualify is title_rule_test's; here, how the scan walks the windows, one tick
// after another on one widget.
TEST(ViewerScan, LeavesTheSiteOfTheLastQualifyingWindowOnEveryTick) {
  const std::string longTail(300, 'x');
  // The windows at a tick, what was typed into the site box before it (or nullptr), and the
  // site box after it.
  const std::tuple<std::vector<std::string>, const char*, std::string> ticks[] = {
      {{}, nullptr, "KLSX"},
      // Typed text gives way to the viewer; windows after it change nothing.
      {{"", "KTLX - GRLevel3", "Untitled - Notepad", "", "Warnings - GRLevel3"}, "KXYZ", "KTLX"},
      // The last viewer window wins, and the order may change between ticks.
      {{"KTLX - GRLevel3", "KFWS - GRLevel2"}, nullptr, "KFWS"},
      {{"KFWS - GRLevel2", "KTLX - GRLevel3"}, nullptr, "KTLX"},
      // With the viewer gone the last site stays, and so does text typed then.
      {{"Untitled - Notepad"}, nullptr, "KTLX"},
      {{"Untitled - Notepad"}, "KXYZ", "KXYZ"},
      // The whole title is examined, however long.
      {{"KAMA " + longTail + " - GRLevel2"}, nullptr, "KAMA"},
      {{"KDDC - GR2Analyst " + longTail}, nullptr, "KDDC"},
      // A title ends at its first NUL.
      {{std::string("KAMX\0- GRLevel3", 15)}, nullptr, "KDDC"},
      {{std::string("TLX - GRLevel3\0x", 16)}, nullptr, "TLX "},
  };
  Harness h;
  for (const auto& [titles, typed, site] : ticks) {
    SCOPED_TRACE(titles.empty() ? "" : titles.back().substr(0, 40));
    setWindows(h, titles);
    if (typed) h.widget.siteBoxEdited(typed);
    h.desktop.log.clear();
    h.desktop.advance(1000);
    EXPECT_EQ(h.c.Nexrad_Site.text(), site);
    EXPECT_EQ(h.c.process.text(), "");
    // Every tick raises the widget too.
    EXPECT_EQ(h.desktop.log, std::vector<std::string>{"on top"});
  }
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

TEST(ViewerScan, HoldsEachTitleInProcessOnlyWhileExaminingIt) {
  Harness h;
  ProcessRecorder recorder(h);
  setWindows(h, {"", "KTLX - GRLevel3", "", "Untitled - Notepad", ""});
  h.desktop.advance(1000);
  EXPECT_EQ(recorder.writes,
            (std::vector<std::string>{"KTLX - GRLevel3", "", "Untitled - Notepad", ""}));
  // A window without a title, or one that is gone, leaves `process` as it is.
  Lifecycle lifecycle(h.c, h.desktop);
  ViewerScan scan(h.c, lifecycle, h.desktop);
  h.c.process.setText("left by someone");
  EXPECT_TRUE(scan.CheckWindowTitle(0));
  EXPECT_TRUE(scan.CheckWindowTitle(7));
  EXPECT_EQ(h.c.process.text(), "left by someone");
}

}  // namespace
}  // namespace stormtally::testing
