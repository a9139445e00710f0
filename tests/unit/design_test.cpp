#include <gtest/gtest.h>

#include "runtime/window_layer.h"

TEST(Design, LookupFindsControls) {
  zandrel::WindowDesign d;
  zandrel::ControlDesign c;
  c.name = "a";
  d.controls.push_back(c);
  EXPECT_NE(d.control("a"), nullptr);
  EXPECT_EQ(d.control("b"), nullptr);
}
