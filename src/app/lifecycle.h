// Start-up, the single-instance test, the always-on-top step, dragging, the close mark and
// ending the program.
#pragma once

#include "app/controls.h"
#include "app/desktop.h"

namespace stormtally {

// Mouse buttons as the handlers receive them.
constexpr int kLeftButton = 1;
constexpr int kRightButton = 2;
constexpr int kMiddleButton = 4;

class Lifecycle {
 public:
  Lifecycle(Controls& controls, Desktop& desktop) : c_(controls), desktop_(desktop) {}

  // Ends the program when another copy was already running at start. Returns whether the
  // caller may go on.
  bool singleInstanceTest();
  // Holds the main window at the top of the always-on-top band and shows it without
  // activating it.
  void alwaysOnTopStep();
  void SetTopMost(bool on);
  // Ends the program at once; nothing is saved or asked.
  void endAtOnce();
  bool ended() const { return ended_; }

  void Form_Load();
  void Form_Activate();
  void Form_QueryUnload() { endAtOnce(); }
  void Form_Unload() { endAtOnce(); }
  void Form_Terminate() { endAtOnce(); }
  void Label1_MouseDown(int button);
  void CloseApp_MouseMove();
  void CloseApp_Click() { endAtOnce(); }
  void Timer3_Timer();

 private:
  Controls& c_;
  Desktop& desktop_;
  bool ended_ = false;
};

}  // namespace stormtally
