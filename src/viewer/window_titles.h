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
  // Length of the window's title in characters; 0 for no title (or a window that is gone).
  virtual int titleLength(WindowRef window) = 0;
  // At most maxChars characters of the title, read through the ANSI calls and converted to
  // the program's text; shorter or empty when the window changed or closed meanwhile.
  virtual std::string title(WindowRef window, int maxChars) = 0;
};

}  // namespace stormtally
