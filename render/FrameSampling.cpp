#include "render/FrameSampling.h"

#include <cmath>

A_long TruncateSliderValue(double value) {
  if (std::isnan(value)) {
    return 0;
  }
  const double truncated = std::trunc(value);
  if (truncated <= static_cast<double>(std::numeric_limits<A_long>::min())) {
    return std::numeric_limits<A_long>::min();
  }
  if (truncated >= static_cast<double>(std::numeric_limits<A_long>::max())) {
    return std::numeric_limits<A_long>::max();
  }
  return static_cast<A_long>(truncated);
}

FrameSampling MakeFrameSampling(double start_value, double end_value, double every_value) {
  FrameSampling sampling{};
  sampling.start = TruncateSliderValue(start_value);
  sampling.end = TruncateSliderValue(end_value);
  if (sampling.end < sampling.start) {
    sampling.end = sampling.start;
  }
  sampling.step = TruncateSliderValue(every_value);
  if (sampling.step <= 0) {
    sampling.step = 1;
  }
  return sampling;
}

bool FrameTime(std::int64_t frame, A_long time_step, A_long *time) {
  // |frame| and |time_step| are both below 2^32, so the product cannot overflow 64 bits.
  const std::int64_t product = frame * static_cast<std::int64_t>(time_step);
  if (product < std::numeric_limits<A_long>::min() || product > std::numeric_limits<A_long>::max()) {
    return false;
  }
  *time = static_cast<A_long>(product);
  return true;
}
