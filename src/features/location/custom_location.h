// Custom-location mode: a right double-click on the caption switches between the radar site
// and a latitude, longitude and radius the user types in.
#pragma once

#include "core/controls.h"
#include "core/desktop.h"

namespace stormtally {

constexpr std::uint32_t kDoubleClickMs = 500;
// Where the prompts' upper-left corner goes on the screen.
constexpr TwipsPoint kPromptAt{7000, 3000};

class CustomLocation {
 public:
  CustomLocation(Controls& controls, Desktop& desktop) : c_(controls), desktop_(desktop) {}

  void Label1_MouseUp(int button);
  void off_Click();

 private:
  void switchOn();
  void switchOff();
  // Asks for one value and writes its number back as text; nothing for a number out of range.
  std::optional<std::string> ask(const char* prompt);

  Controls& c_;
  Desktop& desktop_;
  // Whether a right-button release has been recorded since the window was created. The
  // stamps start at 0, which is also a real tick count (at system start and after every
  // wrap), so without this a first release within 500 ms of it would switch the mode.
  bool rightUpRecorded_ = false;
};

}  // namespace stormtally
