// SPDX-License-Identifier: GPL-3.0-or-later
// The 5 Hz one-pole high-pass filter that takes the model's DC offset out of the sound: the
// plugins' output filter and the renderer's --dc-block are this one filter.
#pragma once

#include "engine/nonblocking.h"

struct DcFilter {
  double coefficient = 0.0;
  double lastInput = 0.0;
  double lastOutput = 0.0;
};

// A filter at rest for a sound at `sampleRate` (Hz).
DcFilter dcFilterAt(double sampleRate) noexcept QUILLFERN_NONBLOCKING;

// Below this the filter's decaying output is silence: far under any float sample's resolution,
// and left alone it would sink into subnormal numbers, which stall some processors and which
// hosts refuse, over the silence after a note.
inline constexpr double DcFilterSilence = 1e-20;

// y[n] = c (y[n-1] + x[n] - x[n-1]): a zero at DC, a pole just inside it.
inline double filterDc(DcFilter& filter, double sample) noexcept QUILLFERN_NONBLOCKING {
  const double output = filter.coefficient * (filter.lastOutput + sample - filter.lastInput);
  filter.lastOutput = output > DcFilterSilence || output < -DcFilterSilence ? output : 0.0;
  filter.lastInput = sample;
  return filter.lastOutput;
}
