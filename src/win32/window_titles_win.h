// The desktop's top-level windows through EnumWindows and the ANSI title calls.
#pragma once

#include <string>

#include "core/window_titles.h"

namespace stormtally {

class WinWindowTitles final : public WindowTitles {
 public:
  void enumerate(const std::function<void(WindowRef)>& visit) override;
  std::string title(WindowRef window) override;
};

}  // namespace stormtally
