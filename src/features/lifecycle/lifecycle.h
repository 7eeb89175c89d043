// Start-up, the single-instance test, the always-on-top step, dragging, the close mark and
// ending the program.
#pragma once

#include "core/controls.h"
#include "core/desktop.h"

namespace stormtally {

// Whether the window in front belongs to a program that fills the widget's monitor, such as a
// game, a video or a slide show, or the desktop says the user is busy in one. The desktop's
// background and a maximised window beside a visible taskbar do not count.
bool fullscreenProgram(const FrontWindow& front);

class Lifecycle {
 public:
  Lifecycle(Controls& controls, Desktop& desktop) : c_(controls), desktop_(desktop) {}

  // Ends the program when another copy was already running at start. Returns whether the
  // caller may go on.
  bool singleInstanceTest();
  // Holds the main window at the top of the always-on-top band and shows it; the first raise
  // activates it only when `first` says it may. While another program fills the widget's
  // monitor the step puts the window behind it instead.
  void alwaysOnTopStep(Raise first = Raise::WithoutActivating);
  void SetTopMost(bool on, Raise how = Raise::WithoutActivating);
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
  bool fullscreenInFront();

  Controls& c_;
  Desktop& desktop_;
  bool ended_ = false;
  bool steppedAside_ = false;
};

}  // namespace stormtally
