// The widget and the window that shows it, torn down in the one safe order.
#pragma once

#include <utility>

namespace stormtally {

// Owns the widget and closes the window that shows it. Closing the window still delivers
// events to the widget (the window's destruction is the widget's unload), so the window is
// closed while the widget lives; then the widget goes, before the window object it talks to,
// which the caller keeps and which outlives this owner.
//
// Window: `bool create(Core&)` makes the window for the widget; `void close()` destroys it,
// delivering its last events to the widget, and does nothing when no window is open.
// Core: `void load()`, the window's load event.
template <typename Window, typename Core>
class WindowedWidget {
 public:
  template <typename... CoreArgs>
  explicit WindowedWidget(Window& window, CoreArgs&&... coreArgs)
      : window_(window), core_(std::forward<CoreArgs>(coreArgs)...) {}
  ~WindowedWidget() { window_.close(); }
  WindowedWidget(const WindowedWidget&) = delete;
  WindowedWidget& operator=(const WindowedWidget&) = delete;

  // Makes the window and loads the widget into it; false when the window cannot be made.
  bool open() {
    if (!window_.create(core_)) return false;
    core_.load();
    return true;
  }
  Core& widget() { return core_; }

 private:
  Window& window_;
  Core core_;
};

}  // namespace stormtally
