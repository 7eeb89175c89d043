#include "app/lifecycle.h"

namespace stormtally {

bool Lifecycle::singleInstanceTest() {
  if (ended_) return false;
  if (desktop_.anotherInstanceAtStart()) endAtOnce();
  return !ended_;
}

void Lifecycle::SetTopMost(bool on) {
  if (on) {
    desktop_.raiseAboveAll(Raise::MayActivate);
  } else {
    desktop_.dropFromAlwaysOnTop();
  }
}

// The first raise may activate the window; the second shows it without activating it.
void Lifecycle::alwaysOnTopStep() {
  if (desktop_.pointerRestsOnWindow()) return;  // raising each second would hide the tooltip
  SetTopMost(true);
  desktop_.raiseAboveAll(Raise::ShowWithoutActivating);
}

void Lifecycle::endAtOnce() {
  if (ended_) return;
  ended_ = true;
  desktop_.endProgram();
}

void Lifecycle::Form_Load() {
  if (!singleInstanceTest()) return;
  alwaysOnTopStep();
}

void Lifecycle::Form_Activate() {
  Form_Load();
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
}

}  // namespace stormtally
