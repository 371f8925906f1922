// SPDX-License-Identifier: GPL-3.0-or-later
// The in-process toolkit tests run on Qt's offscreen platform, whatever display the caller
// has: they need none and never show anything.
#include <cstdlib>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
