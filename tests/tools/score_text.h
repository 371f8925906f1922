// SPDX-License-Identifier: GPL-3.0-or-later
// A score from its text, for tests that write the few events they need inline.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tools/score.h"

inline Score scoreFrom(const std::string& text) {
  std::istringstream input(text);
  Score score;
  std::string error;
  EXPECT_TRUE(parseScore(input, "test", score, error)) << error;
  return score;
}
