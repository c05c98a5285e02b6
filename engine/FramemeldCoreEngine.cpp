#include "engine/FramemeldCoreEngine.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <vector>

namespace {

// Truncates toward zero into 0..255, saturating at both ends and taking NaN as 0. A plain cast
// of a float outside (-1, 256) to an unsigned byte is undefined behaviour, and a divergence read
// from a project file is not guaranteed to lie within the slider's range.
unsigned char truncateToByte(float value) {
  if (!(value > 0.0f)) {
    return 0;
  }
  if (value >= 255.0f) {
    return 255;
  }
  return static_cast<unsigned char>(value);
}

// "Divergence" counts levels out of 255 for 8-bit data but percent of full scale for float data.
// The product is formed in double and rounded once, so the float tolerance is the float nearest
// to divergence / 100 as the slider gives it (2 -> 0.02f).
float scaledDivergence(const FramemeldParameter &parameter) {
  if (parameter.bitDepth == 2) {
    return static_cast<float>(static_cast<double>(parameter.divergence) * 0.01);
  }
  return parameter.divergence;
}

// Everything that differs between the 8-bit and the float engine, one component at a time.
template <typename T> struct ComponentRule;

template <> struct ComponentRule<unsigned char> {
  using Tolerance = unsigned char;

  static Tolerance toleranceFrom(float divergence) { return truncateToByte(divergence); }

  static bool agrees(unsigned char a, unsigned char b, Tolerance tolerance) {
    return std::abs(int{a} - int{b}) < int{tolerance};
  }

  static float toSum(unsigned char value) { return static_cast<float>(value); }

  // The mean of bytes always lies within 0..255; the saturating conversion only makes sure that
  // no rounding of the float sums can ever reach an undefined conversion.
  static unsigned char fromMean(float mean) { return truncateToByte(mean); }
};

template <> struct ComponentRule<float> {
  using Tolerance = float;

  static Tolerance toleranceFrom(float divergence) { return divergence; }

  // Phrased as "not at least the tolerance" so that a NaN difference (a NaN component, or two
  // equal infinities) agrees rather than isolating the sample.
  static bool agrees(float a, float b, Tolerance tolerance) { return !(std::abs(a - b) >= tolerance); }

  static float toSum(float value) { return value; }

  // Out-of-range values pass through: float footage may legitimately exceed 0..1.
  static float fromMean(float mean) { return mean; }
};

// Two samples agree when every component agrees, tested red, green, blue, alpha; the test stops
// at the first component that disagrees.
template <typename T>
bool samplesAgree(const Pixel<T> &a, const Pixel<T> &b, typename ComponentRule<T>::Tolerance tolerance) {
  using Rule = ComponentRule<T>;
  return Rule::agrees(a.red, b.red, tolerance) && Rule::agrees(a.green, b.green, tolerance) &&
         Rule::agrees(a.blue, b.blue, tolerance) && Rule::agrees(a.alpha, b.alpha, tolerance);
}

// Rates every sample with 1 plus the number of other samples that agree with it and returns the
// highest rating. Each pair is tested once and an agreeing pair credits both members, so the
// pass makes n(n - 1)/2 tests; the highest rating is tracked on the way so that selection needs
// no sort. ratings[0 .. count - 1] must be zero on entry.
template <typename T>
float rateSamples(PixelString<Pixel<T>> &samples, int count, typename ComponentRule<T>::Tolerance tolerance,
                  float *ratings) {
  float highest = 0.0f;
  for (int i = 0; i < count; ++i) {
    const Pixel<T> &candidate = samples[i];
    float rating = 1.0f;
    for (int j = 0; j < i; ++j) {
      if (samplesAgree(samples[j], candidate, tolerance)) {
        ratings[j] += 1.0f;
        rating += 1.0f;
        highest = std::max(highest, ratings[j]);
      }
    }
    highest = std::max(highest, rating);
    ratings[i] = rating;
  }
  return highest;
}

// The mean of the samples rated strictly above the cutoff, summed in index order in single
// precision; transparent black when none is.
template <typename T>
Pixel<T> meanAboveCutoff(PixelString<Pixel<T>> &samples, int count, const float *ratings, float cutoff) {
  using Rule = ComponentRule<T>;
  float red = 0.0f;
  float green = 0.0f;
  float blue = 0.0f;
  float alpha = 0.0f;
  float selected = 0.0f;
  for (int k = 0; k < count; ++k) {
    if (ratings[k] > cutoff) {
      const Pixel<T> &sample = samples[k];
      red += Rule::toSum(sample.red);
      green += Rule::toSum(sample.green);
      blue += Rule::toSum(sample.blue);
      alpha += Rule::toSum(sample.alpha);
      selected += 1.0f;
    }
  }
  if (selected == 0.0f) {
    return Pixel<T>{};
  }
  return Pixel<T>{Rule::fromMean(red / selected), Rule::fromMean(green / selected),
                  Rule::fromMean(blue / selected), Rule::fromMean(alpha / selected)};
}

} // namespace

template <typename P> FramemeldCoreEngine<P>::~FramemeldCoreEngine() = default;

template <typename P>
void FramemeldCoreEngine<P>::process(FramemeldParameter *parameter, PixelString<P> *samples, P *out) {
  using Rule = ComponentRule<decltype(P::red)>;

  // Checked before the allocation: a negative count would otherwise make the array allocation
  // throw, and an empty string is no error.
  const int count = parameter->frameCount;
  if (count < 1) {
    *out = P{};
    return;
  }

  const typename Rule::Tolerance tolerance = Rule::toleranceFrom(scaledDivergence(*parameter));
  // May throw std::bad_alloc; *out is untouched until the result is complete.
  std::vector<float> ratings(static_cast<std::size_t>(count), 0.0f);
  const float highest = rateSamples(*samples, count, tolerance, ratings.data());
  const float cutoff = highest - parameter->ratingRange;
  *out = meanAboveCutoff(*samples, count, ratings.data(), cutoff);
}

template class FramemeldCoreEngine<Pixel<unsigned char>>;
template class FramemeldCoreEngine<Pixel<float>>;

template <> FramemeldEngine<Pixel<unsigned char>> *FramemeldEngine<Pixel<unsigned char>>::create() {
  return new FramemeldCoreEngine<Pixel<unsigned char>>();
}

template <> FramemeldEngine<Pixel<float>> *FramemeldEngine<Pixel<float>>::create() {
  return new FramemeldCoreEngine<Pixel<float>>();
}
