#include "tools/decimator.h"

#include <array>
#include <cmath>
#include <numbers>

namespace {

constexpr int32_t HalfTapsPerFactor = 48;
constexpr double PassedFraction = 0.45;  // of the new rate: the middle of the transition

// Blackman-windowed sinc at `cutoff` cycles per input sample, `half` taps each side of the
// centre, scaled so that a constant passes unchanged.
std::vector<float> lowPassTaps(int32_t half, double cutoff) {
  std::vector<double> taps;
  taps.reserve(2 * static_cast<std::size_t>(half) + 1);
  double sum = 0.0;
  for (int32_t index = -half; index <= half; ++index) {
    const double phase = std::numbers::pi * (index + half) / half;  // 0 to 2π across the taps
    const double window = 0.42 - 0.5 * std::cos(phase) + 0.08 * std::cos(2.0 * phase);
    const double x = 2.0 * std::numbers::pi * cutoff * index;
    taps.push_back(window * (index == 0 ? 1.0 : std::sin(x) / x));
    sum += taps.back();
  }
  std::vector<float> scaled;
  scaled.reserve(taps.size());
  for (const double tap : taps) scaled.push_back(static_cast<float>(tap / sum));
  return scaled;
}

// Four running sums side by side, so that each addition need not wait for the one before.
float filtered(const std::vector<float>& taps, const float* input) {
  constexpr std::size_t Lanes = 4;
  std::array<float, Lanes> sums{};
  std::size_t index = 0;
  for (; index + Lanes <= taps.size(); index += Lanes) {
    for (std::size_t lane = 0; lane < Lanes; ++lane)
      sums[lane] += taps[index + lane] * input[index + lane];
  }
  for (; index < taps.size(); ++index) sums[0] += taps[index] * input[index];
  return (sums[0] + sums[1]) + (sums[2] + sums[3]);
}

int64_t halfOf(const Decimator& decimator) {
  return static_cast<int64_t>(decimator.taps.size() / 2);
}

// Makes every output sample whose taps the window covers, up to `limit` in all.
void produce(Decimator& decimator, int64_t limit, std::vector<float>& output) {
  output.clear();
  const int64_t half = halfOf(decimator);
  const auto windowEnd = decimator.windowStart + static_cast<int64_t>(decimator.window.size());
  for (; decimator.produced < limit; ++decimator.produced) {
    const int64_t first = decimator.produced * decimator.factor - half;
    if (first + 2 * half >= windowEnd) break;
    output.push_back(
        filtered(decimator.taps, decimator.window.data() + (first - decimator.windowStart)));
  }
  // What no later output needs goes, once it is as long as the rest.
  const int64_t needed = decimator.produced * decimator.factor - half - decimator.windowStart;
  if (needed > static_cast<int64_t>(decimator.window.size()) / 2) {
    decimator.window.erase(decimator.window.begin(), decimator.window.begin() + needed);
    decimator.windowStart += needed;
  }
}

}  // namespace

Decimator decimatorFor(int32_t factor) {
  Decimator decimator;
  decimator.factor = factor;
  if (factor <= 1) return decimator;
  const int32_t half = HalfTapsPerFactor * factor;
  decimator.taps = lowPassTaps(half, PassedFraction / factor);
  decimator.window.assign(static_cast<std::size_t>(half), 0.0f);
  decimator.windowStart = -half;
  return decimator;
}

void decimate(Decimator& decimator, const float* input, int64_t frames,
              std::vector<float>& output) {
  decimator.window.insert(decimator.window.end(), input, input + frames);
  produce(decimator, INT64_MAX, output);
}

void finishDecimating(Decimator& decimator, int64_t outputFrames, std::vector<float>& output) {
  decimator.window.insert(decimator.window.end(), decimator.taps.size(), 0.0f);
  produce(decimator, outputFrames, output);
}
