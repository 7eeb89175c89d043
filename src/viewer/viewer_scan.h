// The once-a-second scan of top-level window titles that keeps the site box in step with a
// running radar viewer. It only writes the site box: no lookup, no query.
#pragma once

#include "app/controls.h"
#include "app/lifecycle.h"
#include "viewer/window_titles.h"

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
