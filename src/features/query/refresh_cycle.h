// The refresh cycle: two 60-second waits after every query, then a fresh site lookup (which
// queries again).
#pragma once

#include "core/controls.h"
#include "lifecycle/lifecycle.h"

namespace stormtally {

class RefreshCycle {
 public:
  RefreshCycle(Controls& controls, Lifecycle& lifecycle) : c_(controls), lifecycle_(lifecycle) {}

  void Timer1_Timer();
  void update_Timer();

 private:
  Controls& c_;
  Lifecycle& lifecycle_;
};

}  // namespace stormtally
