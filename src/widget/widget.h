// The widget: its controls and every handler, wired together. The desktop delivers events
// here; handlers chain their work by pressing the buttons `switch` and `Command1`.
#pragma once

#include <string>

#include "core/controls.h"
#include "core/desktop.h"
#include "core/http_client.h"
#include "core/window_titles.h"
#include "lifecycle/lifecycle.h"
#include "location/custom_location.h"
#include "location/site_lookup.h"
#include "query/refresh_cycle.h"
#include "query/strike_request.h"
#include "viewer/viewer_scan.h"

namespace stormtally {

class Widget {
 public:
  Widget(Desktop& desktop, HttpClient& http, WindowTitles& windows, std::string serviceBase);
  Widget(const Widget&) = delete;
  Widget& operator=(const Widget&) = delete;

  Controls& controls() { return c_; }
  const Controls& controls() const { return c_; }
  bool ended() const { return lifecycle_.ended(); }
  // What the widget says about its count: the place and radius of the current mode, the time
  // of the last answer and, when there is no count, why; before the first request, how to ask.
  std::string statusText() const;

  // Window events.
  void load() { lifecycle_.Form_Load(); }
  void activate();
  void closeRequested() { lifecycle_.Form_QueryUnload(); }
  void unload() { lifecycle_.Form_Unload(); }
  void terminate() { lifecycle_.Form_Terminate(); }

  // A running timer's interval has passed.
  void timerTick(ControlId timer);

  // Mouse events on a label, with the button as a bit value (left 1, right 2, middle 4).
  void mouseDown(ControlId label, int button);
  void mouseUp(ControlId label, int button);
  void mouseMove(ControlId label);
  void click(ControlId label);

  // A character typed into the site box (Enter is 13); the site box's text after an edit.
  void siteBoxKeyPress(int& keyAscii);
  void siteBoxEdited(std::string text) { c_.Nexrad_Site.takeUserText(std::move(text)); }
  // The user pressed Command1 from the keyboard.
  void command1Pressed() {
    whileRunning([&] { c_.Command1.press(); });
  }

 private:
  template <typename F>
  void whileRunning(F&& f) {
    if (!lifecycle_.ended()) f();
  }

  Controls c_;
  Lifecycle lifecycle_;
  StrikeRequest request_;
  RefreshCycle cycle_;
  SiteLookup lookup_;
  CustomLocation custom_;
  ViewerScan scan_;
  bool activating_ = false;
};

}  // namespace stormtally
