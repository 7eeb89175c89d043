#include <gtest/gtest.h>

#include "fake_desktop.h"

namespace stormtally::testing {
TEST(Smoke, StartsWithDefaults) {
  Harness h;
  EXPECT_EQ(h.c.tstrikes.caption(), "0000");
}
}  // namespace stormtally::testing
