// SPDX-License-Identifier: GPL-3.0-or-later
// The model's variables and parameters as the render path steps them: what a voice's record,
// the instrument's cycle probe and the oscillator share.
#pragma once

// x, y and z while the render callback runs a block of frames. They stay in registers from one
// frame to the next: kept in the record, each step would first wait for its own stores to come
// back from memory, about a fifth of the cost of a sample. Between blocks the record holds them.
struct ModelVariables {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;
};

// The model's parameters and the volume, in the precision the step computes in, read once per
// block of frames: a parameter moved while a block renders is heard from the next block (the
// renderer and the plugins apply every change between blocks).
struct ModelParameters {
  double a = 0.0;
  double b = 0.0;
  double i = 0.0;
  double r = 0.0;
  double s = 0.0;
  double volume = 0.0;
};
