// Start-up, the single-instance test, the always-on-top step, the close mark, dragging,
// ending and tear-down; where the mouse lands.
#include <gtest/gtest.h>

#include "core/layout.h"
#include "fake_desktop.h"
#include "widget/widget_host.h"

namespace stormtally::testing {
namespace {

// The always-on-top step, the one place its two raises are checked: the fake desktop logs
// "on top" for a raise followed at once by one that shows the window, both leaving the keyboard
// where it is; only the load's first raise may take it, as a new window does.
TEST(StartUp, LoadAndActivateTakeTheAlwaysOnTopStepAndQueryNothing) {
  Harness h(/*load=*/false);
  h.widget.load();
  h.widget.activate();
  EXPECT_EQ(h.desktop.log, (std::vector<std::string>{"on top, activating", "on top"}));
  EXPECT_TRUE(h.desktop.requests.empty());
  EXPECT_EQ(h.c.tstrikes.caption(), "0000");
}

// A program that fills the widget's monitor, or a desktop that says the user is busy in one,
// keeps the widget behind it until it has gone; the desktop's background, the widget's own
// windows, a window on another monitor and a maximised one beside the taskbar do not. Timer2's
// ticks step aside and come back; in custom location, with Timer2 off, Timer3's do, and only
// those two.
TEST(StepAside, ForAProgramThatFillsTheWidgetsMonitorUntilItHasGone) {
  using S = std::vector<std::string>;
  using U = UserState;
  const ScreenRect monitor{0, 0, 1024, 768}, small{100, 100, 600, 500};
  // clang-format off
  const auto front = [&](ScreenRect r, U u = U::Available, bool own = false, bool shell = false) {
    return FrontWindow{true, own, shell, r, monitor, u};
  };
  const std::pair<FrontWindow, bool> cases[] = {
      {front(monitor), true}, {front(small, U::Busy), true},
      {front(small, U::FullScreenGame), true}, {front(small, U::Presenting), true},
      {FrontWindow{false, false, false, {}, monitor, U::Busy}, true},
      {front(small), false}, {front(monitor, U::Available, /*own=*/true), false},
      {front(monitor, U::Available, false, /*shell=*/true), false},
      {front({-4, -4, 1028, 740}), false}, {front({1024, 0, 2048, 768}), false},
      {FrontWindow{}, false}};
  const S onTop{"on top"}, behind{"behind the front window"}, none{};
  for (const bool custom : {false, true}) {
    for (const auto& [shown, fills] : cases) {
      Harness h;
      h.c.Timer2.setEnabled(!custom);
      h.desktop.front = shown;
      // From the second tick on the pointer rests on the widget: that keeps a widget on top from
      // being raised again, not one that stepped behind from coming back.
      const S expected[] = {fills ? behind : custom ? none : onTop, fills ? onTop : none, none};
      // clang-format on
      for (const S& log : expected) {
        h.desktop.log.clear();
        h.desktop.advance(custom ? 2500 : 1000);
        EXPECT_EQ(h.desktop.log, log) << "custom " << custom << ", right " << shown.rect.right;
        h.desktop.front = FrontWindow{};
        h.desktop.pointerOnWindow = true;
      }
    }
  }
}

// Every entry point of a second copy ends it before it does anything else; events that were
// already queued then find the program ended. So does every way of closing the first.
TEST(Ending, ASecondCopyAndEveryCloseEndTheProgramOnceAndAtOnce) {
  // clang-format off
  const std::function<void(Harness&)> ends[] = {
      [](Harness& h) { h.widget.load(); }, [](Harness& h) { h.c.Command1.press(); },
      [](Harness& h) { h.desktop.advance(5000); }, [](Harness& h) { h.widget.unload(); },
      [](Harness& h) { h.widget.closeAsked(); },
      [](Harness& h) { h.widget.terminate(); }, [](Harness& h) { h.widget.closeRequested(); }};
  // clang-format on
  for (int i = 0; i < 7; ++i) {  // the first three in a second copy
    Harness h(/*load=*/i >= 3);
    h.desktop.anotherInstance = i < 3;
    bool titleRead = false;
    h.desktop.windows.push_back({"KTLX - GRLevel3", [&](FakeWindow&) { titleRead = true; }});
    ends[i](h);
    ends[6](h);
    h.widget.activate();
    h.widget.timerTick(ControlId::Timer2);
    h.widget.command1Pressed();
    int enterKey = kEnterKey;
    h.widget.siteBoxKeyPress(enterKey);
    EXPECT_EQ(h.desktop.log, std::vector<std::string>{"end"}) << i;
    EXPECT_FALSE(titleRead);
  }
}

TEST(CloseMark, TurnsWhiteUnderTheMouseAndNavyAtTimer3sTick) {
  Harness h;
  h.widget.pointerOnCloseMark();
  EXPECT_EQ(h.c.CloseApp.foreColour(), kWhite);
  h.desktop.advance(2499);
  EXPECT_EQ(h.c.CloseApp.foreColour(), kWhite);
  h.desktop.advance(1);
  EXPECT_EQ(h.c.CloseApp.foreColour(), kNavy);
  h.c.CloseApp.setForeColour(0x00FF00);  // another colour is left alone by the mouse
  h.widget.pointerOnCloseMark();
  EXPECT_EQ(h.c.CloseApp.foreColour(), 0x00FF00u);
}

// A button on the caption repaints; only the left one starts a drag. A tick of a timer switched
// off meanwhile is dropped.
TEST(Events, DragOnlyWithTheLeftButtonOnTheCaptionAndDropStaleTicks) {
  using S = std::vector<std::string>;
  const std::pair<int, S> cases[] = {{kLeftButton, {"repaint", "drag"}},
                                     {kRightButton, {"repaint"}},
                                     {kMiddleButton, {"repaint"}}};
  for (const auto& [button, log] : cases) {
    Harness h;
    h.widget.captionPressed(button);
    h.widget.timerTick(ControlId::Timer1);
    EXPECT_EQ(h.desktop.log, log) << "button " << button;
  }
}

// The count lies above the caption and off, the site box above the count and off; the frame
// and the empty strip under the count are nothing.
TEST(Layout, MouseEventsLandOnTheTopmostControlAtThePoint) {
  using I = ControlId;
  // clang-format off
  const std::tuple<int, int, bool, std::optional<ControlId>> cases[] = {
      {20, 10, true, I::Label1}, {60, 45, true, I::tstrikes}, {120, 45, true, I::Nexrad_Site},
      {120, 45, false, I::tstrikes}, {135, 50, true, I::Nexrad_Site}, {135, 50, false, I::off},
      {129, 40, false, I::off}, {144, 50, false, I::off}, {145, 50, false, std::nullopt},
      {128, 50, false, I::tstrikes}, {155, 10, true, I::CloseApp}, {152, 20, true, I::Label2},
      {1, 1, true, std::nullopt}, {100, 70, true, std::nullopt}};
  // clang-format on
  for (const auto& [x, y, siteBoxShown, hit] : cases) {
    Controls c;
    c.Nexrad_Site.setVisible(siteBoxShown);
    EXPECT_EQ(controlAt(c, x, y, 96), hit) << x << "," << y;
  }
}

// A window whose destruction delivers an unload to the widget, as the real one's does; it
// counts unloads that find the widget alive and those that find it gone.
struct ClosingWindow {
  struct Widget {
    explicit Widget(bool& aliveFlag) : alive(aliveFlag) { alive = true; }
    ~Widget() { alive = false; }
    void load() {}
    bool& alive;
  };
  bool create(Widget& w) { return (widgetAlive = &w.alive); }
  void close() { widgetAlive ? ++unloads[*std::exchange(widgetAlive, nullptr)] : 0; }
  bool* widgetAlive = nullptr;
  std::map<bool, int> unloads;
};

TEST(TearDown, TheWindowIsClosedWhileTheWidgetLives) {
  bool alive = false;
  ClosingWindow window;
  {
    WindowedWidget<ClosingWindow, ClosingWindow::Widget> host(window, alive);
    ASSERT_TRUE(host.open());
  }
  window.close();  // what the window's own destructor does
  EXPECT_EQ(window.unloads, (std::map<bool, int>{{true, 1}}));
}

}  // namespace
}  // namespace stormtally::testing
