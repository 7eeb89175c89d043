// The desktop's top-level windows, as the viewer scan sees them: only their titles.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace stormtally {

using WindowRef = std::uintptr_t;

class WindowTitles {
 public:
  virtual ~WindowTitles() = default;
  // Calls visit once for every top-level window, synchronously, in the desktop's order.
  virtual void enumerate(const std::function<void(WindowRef)>& visit) = 0;
  // The window's whole title, read through the ANSI calls and converted to the program's text;
  // empty for a window without a title or one that is gone.
  virtual std::string title(WindowRef window) = 0;
};

}  // namespace stormtally
