// Start-up, the single-instance test, the always-on-top step, the close mark, dragging and
// ending; and how the widget routes events to handlers.
#include <gtest/gtest.h>

#include "app/layout.h"
#include "fake_desktop.h"

namespace stormtally::testing {
namespace {

const std::vector<std::string> kAlwaysOnTop = {"SetWindowPos(TOPMOST,0x3)",
                                               "SetWindowPos(TOPMOST,0x53)"};

TEST(StartUp, LoadAndActivateTakeTheAlwaysOnTopStepAndQueryNothing) {
  Harness h(/*load=*/false);
  h.widget.load();
  EXPECT_EQ(h.desktop.log, kAlwaysOnTop);
  h.desktop.log.clear();
  h.widget.activate();
  EXPECT_EQ(h.desktop.log, kAlwaysOnTop);
  EXPECT_TRUE(h.desktop.requests.empty());
  EXPECT_EQ(h.c.tstrikes.caption(), "0000");
  EXPECT_TRUE(h.c.Timer2.enabled());
  EXPECT_TRUE(h.c.Timer3.enabled());
  EXPECT_FALSE(h.c.Timer1.enabled());
  EXPECT_FALSE(h.c.update.enabled());
}

// Every entry point of a second copy ends it before it does anything else; events that were
// already queued then find the program ended.
TEST(AnotherCopy, EndsAtLoadAtCommand1AndAtTheScanAndNothingRunsAfterwards) {
  const std::vector<std::pair<const char*, std::function<void(Harness&)>>> entries = {
      {"load", [](Harness& h) { h.widget.load(); }},
      {"Command1", [](Harness& h) { h.c.Command1.press(); }},
      {"viewer scan", [](Harness& h) { h.desktop.advance(5000); }},
  };
  for (const auto& [name, enter] : entries) {
    SCOPED_TRACE(name);
    Harness h(/*load=*/false);
    h.desktop.anotherInstance = true;
    bool titleRead = false;
    h.desktop.windows.push_back({"KTLX - GRLevel3", [&](FakeWindow&) { titleRead = true; }});
    enter(h);
    EXPECT_EQ(h.desktop.log, std::vector<std::string>{"end"});
    EXPECT_TRUE(h.widget.ended());
    EXPECT_FALSE(titleRead);
    EXPECT_EQ(h.c.Nexrad_Site.text(), "KLSX");
    EXPECT_FALSE(h.c.Timer1.enabled());

    h.desktop.log.clear();
    h.widget.activate();
    h.widget.timerTick(ControlId::Timer2);
    h.widget.command1Pressed();
    int enterKey = kEnterKey;
    h.widget.siteBoxKeyPress(enterKey);
    EXPECT_TRUE(h.desktop.log.empty());
  }
}

TEST(Closing, EveryPathEndsTheProgramOnceAndAtOnce) {
  const std::vector<std::pair<const char*, std::function<void(Widget&)>>> paths = {
      {"close mark", [](Widget& w) { w.click(ControlId::CloseApp); }},
      {"close request", [](Widget& w) { w.closeRequested(); }},
      {"unload", [](Widget& w) { w.unload(); }},
      {"terminate", [](Widget& w) { w.terminate(); }},
  };
  for (const auto& [name, close] : paths) {
    Harness h;
    h.desktop.log.clear();
    close(h.widget);
    close(h.widget);
    EXPECT_EQ(h.desktop.log, std::vector<std::string>{"end"}) << name;
    h.widget.timerTick(ControlId::Timer2);
    h.widget.timerTick(ControlId::Timer3);
    EXPECT_EQ(h.desktop.log, std::vector<std::string>{"end"}) << name << ": no handler after";
  }
}

TEST(CloseMark, TurnsWhiteUnderTheMouseAndNavyAtTimer3sTick) {
  Harness h;
  EXPECT_EQ(h.c.CloseApp.foreColour(), kNavy);
  h.widget.mouseMove(ControlId::CloseApp);
  EXPECT_EQ(h.c.CloseApp.foreColour(), kWhite);
  h.desktop.advance(2499);
  EXPECT_EQ(h.c.CloseApp.foreColour(), kWhite);
  h.desktop.advance(1);
  EXPECT_EQ(h.c.CloseApp.foreColour(), kNavy);
  // Another colour is left alone by the mouse.
  h.c.CloseApp.setForeColour(0x00FF00);
  h.widget.mouseMove(ControlId::CloseApp);
  EXPECT_EQ(h.c.CloseApp.foreColour(), 0x00FF00u);
  // Moving over other labels does nothing.
  h.c.CloseApp.setForeColour(kNavy);
  h.widget.mouseMove(ControlId::Label1);
  EXPECT_EQ(h.c.CloseApp.foreColour(), kNavy);
}

TEST(Dragging, OnlyTheLeftButtonOnTheCaptionStartsADrag) {
  struct Case {
    ControlId label;
    int button;
    std::vector<std::string> log;
  };
  const Case cases[] = {
      {ControlId::Label1, kLeftButton, {"repaint", "drag"}},
      {ControlId::Label1, kRightButton, {"repaint"}},
      {ControlId::Label1, kMiddleButton, {"repaint"}},
      {ControlId::tstrikes, kLeftButton, {}},
  };
  for (const Case& c : cases) {
    Harness h;
    h.desktop.log.clear();
    h.widget.mouseDown(c.label, c.button);
    EXPECT_EQ(h.desktop.log, c.log) << controlName(c.label) << " button " << c.button;
  }
}

TEST(Handlers, ATickOfATimerSwitchedOffMeanwhileIsDropped) {
  Harness h;
  h.c.Timer1.setEnabled(false);
  h.desktop.log.clear();
  h.widget.timerTick(ControlId::Timer1);
  EXPECT_TRUE(h.desktop.log.empty());
  EXPECT_FALSE(h.c.update.enabled());
}

TEST(Layout, MeasuresExactly170By74At96DpiAndScalesWithDpi) {
  EXPECT_EQ(pixelRect(kClientTwips, 96).right, 170);
  EXPECT_EQ(pixelRect(kClientTwips, 96).bottom, 74);
  EXPECT_EQ(pixelRect(kClientTwips, 120).right, 213);   // 125 %
  EXPECT_EQ(pixelRect(kClientTwips, 192).bottom, 148);  // 200 %
  const PixelRect caption = pixelRect(ControlId::Label1, 96);
  EXPECT_EQ(caption.left, 16);
  EXPECT_EQ(caption.right, 153);
  EXPECT_EQ(caption.top, 8);
  EXPECT_EQ(caption.bottom, 41);
}

TEST(Layout, MouseEventsLandOnTheTopmostControlAtThePoint) {
  struct Case {
    int x, y;
    bool siteBoxShown;
    std::optional<ControlId> hit;
  };
  const Case cases[] = {
      {20, 10, true, ControlId::Label1},
      {60, 45, true, ControlId::tstrikes},      // the count lies above the caption and off
      {120, 45, true, ControlId::Nexrad_Site},  // the site box lies above the count
      {120, 45, false, ControlId::tstrikes},
      {135, 50, true, ControlId::Nexrad_Site},  // the site box covers off
      {135, 50, false, ControlId::off},
      {129, 40, false, ControlId::off},
      {144, 50, false, ControlId::off},
      {145, 50, false, std::nullopt},
      {128, 50, false, ControlId::tstrikes},
      {155, 10, true, ControlId::CloseApp},
      {152, 20, true, ControlId::Label2},
      {1, 1, true, std::nullopt},  // the frame
      {100, 70, true, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(controlAt(c.x, c.y, 96, c.siteBoxShown), c.hit) << c.x << "," << c.y;
  }
}

}  // namespace
}  // namespace stormtally::testing
