#include "lifecycle/lifecycle.h"

namespace stormtally {

bool Lifecycle::singleInstanceTest() {
  if (ended_) return false;
  if (desktop_.anotherInstanceAtStart()) endAtOnce();
  return !ended_;
}

bool fullscreenProgram(const FrontWindow& front) {
  if (front.user != UserState::Available) return true;
  return front.exists && !front.ownProgram && !front.shell && front.rect == front.widgetMonitor;
}

void Lifecycle::SetTopMost(bool on, Raise how) {
  if (on) {
    desktop_.raiseAboveAll(how);
  } else {
    desktop_.dropFromAlwaysOnTop();
  }
}

bool Lifecycle::fullscreenInFront() {
  return fullscreenProgram(desktop_.frontWindow());
}

// Neither raise takes the keyboard from the window that holds it, unless `first` allows it.
void Lifecycle::alwaysOnTopStep(Raise first) {
  steppedAside_ = fullscreenInFront();
  if (steppedAside_) {
    desktop_.stepBehindFrontWindow();
    return;
  }
  // Raising each second would keep the tooltip from showing, but a window that stepped aside
  // comes back on top wherever the pointer is.
  if (desktop_.pointerRestsOnWindow() && desktop_.onTopAlready()) return;
  SetTopMost(true, first);
  desktop_.raiseAboveAll(Raise::ShowWithoutActivating);
}

void Lifecycle::endAtOnce() {
  if (ended_) return;
  ended_ = true;
  desktop_.endProgram();
}

// A new window may take the keyboard once, as it opens.
void Lifecycle::Form_Load() {
  if (!singleInstanceTest()) return;
  alwaysOnTopStep(Raise::MayActivate);
}

void Lifecycle::Form_Activate() {
  if (!singleInstanceTest()) return;
  alwaysOnTopStep();
}

void Lifecycle::Label1_MouseDown(int button) {
  desktop_.repaint();
  if (button == kLeftButton) desktop_.beginCaptionDrag();
}

void Lifecycle::CloseApp_MouseMove() {
  if (c_.CloseApp.foreColour() == kNavy) c_.CloseApp.setForeColour(kWhite);
}

void Lifecycle::Timer3_Timer() {
  c_.CloseApp.setForeColour(kNavy);
  // Timer2 takes the always-on-top step every second. Without it (custom location) this tick
  // steps aside for a program that fills the monitor, and comes back once it has gone.
  if (!c_.Timer2.enabled() && (steppedAside_ || fullscreenInFront())) alwaysOnTopStep();
}

}  // namespace stormtally
