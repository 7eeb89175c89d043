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

  // What the user does with the widget's parts. Buttons are kLeftButton, kRightButton and
  // kMiddleButton.
  // A button went down on the caption: a left one starts dragging the window.
  void captionPressed(int button) {
    whileRunning([&] { lifecycle_.Label1_MouseDown(button); });
  }
  // A button came up over the caption: a right double-click switches custom location.
  void captionReleased(int button) {
    whileRunning([&] { custom_.Label1_MouseUp(button); });
  }
  // The pointer moved over the close mark, which shows itself.
  void pointerOnCloseMark() {
    whileRunning([&] { lifecycle_.CloseApp_MouseMove(); });
  }
  // The close mark was clicked.
  void closeAsked() {
    whileRunning([&] { lifecycle_.CloseApp_Click(); });
  }
  // The place where the site box was, beside the count, was clicked: the box shows again.
  void siteBoxAsked() {
    whileRunning([&] { custom_.off_Click(); });
  }

  // A character typed into the site box; Enter (13) asks for the site's count.
  void siteBoxKeyPress(int& keyAscii) {
    whileRunning([&] { lookup_.Nexrad_Site_KeyPress(keyAscii); });
  }
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
