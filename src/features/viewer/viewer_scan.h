// The once-a-second scan of top-level window titles that keeps the site box in step with a
// running radar viewer. It only writes the site box: no lookup, no query.
#pragma once

#include "core/controls.h"
#include "core/window_titles.h"
#include "lifecycle/lifecycle.h"

namespace stormtally {

class ViewerScan {
 public:
  ViewerScan(Controls& controls, Lifecycle& lifecycle, WindowTitles& windows)
      : c_(controls), lifecycle_(lifecycle), windows_(windows) {}

  void Timer2_Timer();
  // Examines one top-level window; always asks for the next one.
  bool CheckWindowTitle(WindowRef window);

 private:
  Controls& c_;
  Lifecycle& lifecycle_;
  WindowTitles& windows_;
};

}  // namespace stormtally
