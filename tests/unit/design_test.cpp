#include <gtest/gtest.h>

#include "runtime/window_layer.h"

TEST(Design, LookupFindsControls) {
  zandrel::WindowDesign d;
  d.controls.push_back({.name = "a"});
  EXPECT_NE(d.control("a"), nullptr);
  EXPECT_EQ(d.control("b"), nullptr);
}
