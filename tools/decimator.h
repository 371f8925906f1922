// Lowers a render's rate by a whole factor, for the rates the voice cannot render at itself
// (Opus at 8000, 12000 and 16000 Hz, made from a render at 48000 Hz): a windowed-sinc low-pass
// filter that keeps what lies below 0.42 of the new rate and takes out what lies above 0.48 of
// it, about 74 dB down, then every factor-th sample. The filter is centred on the samples it
// keeps, so the sound is not delayed: output sample k is the filtered input at k × factor.
#pragma once

#include <cstdint>
#include <vector>

struct Decimator {
  int32_t factor = 1;
  std::vector<float> taps;    // an odd number, symmetric, summing to 1
  std::vector<float> window;  // the input still needed, from input frame `windowStart` on
  int64_t windowStart = 0;    // negative at first: the silence before the first sample
  int64_t produced = 0;       // output samples made so far
};

Decimator decimatorFor(int32_t factor);

// Replaces `output` with the output samples that `frames` more of input complete.
void decimate(Decimator& decimator, const float* input, int64_t frames, std::vector<float>& output);

// Replaces `output` with the last output samples, up to `outputFrames` in all, as if silence
// followed the input.
void finishDecimating(Decimator& decimator, int64_t outputFrames, std::vector<float>& output);
