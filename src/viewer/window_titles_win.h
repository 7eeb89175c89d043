// The desktop's top-level windows through EnumWindows and the ANSI title calls.
#pragma once

#include <string>

#include "viewer/window_titles.h"

namespace stormtally {

class WinWindowTitles final : public WindowTitles {
 public:
  void enumerate(const std::function<void(WindowRef)>& visit) override;
  int titleLength(WindowRef window) override;
  std::string title(WindowRef window, int maxChars) override;

 private:
  // The scan asks every window for its title's length and then for the title, once a second.
  // A short title is read whole when its length is asked for and kept for the next question,
  // which saves a round trip to the window's owner per window.
  WindowRef readWindow_ = 0;
  std::string readTitle_;  // ANSI bytes
};

}  // namespace stormtally
