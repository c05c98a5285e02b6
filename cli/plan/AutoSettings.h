#pragma once
// The rules that choose a slider's value when the user leaves it to the tool (`auto`, and what
// no value means), kept apart from everything that reads footage so that each can be read and
// fitted on its own: bench/divergence-study.py mirrors them. The values they give are the
// sliders' own, rounded to what a slider holds, so the host reproduces a plate from the numbers
// the summary shows.

#include <cstddef>

#include "cli/plan/Sliders.h"
#include "runner/World.h"

namespace framemeld::cli {

// The rule from noise to tolerance, fitted by bench/divergence-study.py: differences up to
// kAgreementSigmas noise sigmas agree, plus kAgreementFloorLevels levels of 255 for what the
// median of consecutive differences cannot see (a codec that copies unchanged blocks from frame
// to frame hides the noise of the blocks it codes anew, where something has passed).
inline constexpr double kAgreementSigmas = 2.0;
inline constexpr double kAgreementFloorLevels = 10.0;

// The "Divergence" slider value for a noise level at a render depth, rounded to what the
// slider holds (whole levels at 8 bits, hundredths otherwise) so that the host reproduces
// the plate from the number shown. Noiseless footage gets the narrowest value the rule gives.
double divergenceForNoise(double sigma, runner::PixelDepth depth);

// `--rating-range auto`, also what no --rating-range means while the Divergence is automatic:
// the "Rating Range" slider value for `sampledFrames` frames, fitted by
// bench/divergence-study.py. The mean also takes the samples one agreement short of the best
// rating: with a tolerance of a few noise sigmas, a background sample on the edge of its own
// noise misses a partner or two, and leaving it out makes the mean that of the few samples
// nearest the middle, noisier than the temporal median. (Wider still pulls in a lingerer that
// stands for nearly half the clip.) Few frames keep the plug-in's 1: there a pair of agreeing
// passers-by can come within two of the background's rating.
inline constexpr double kWideRatingRange = 2.0;
inline constexpr std::size_t kWideRatingMinFrames = 16;
double ratingRangeFor(std::size_t sampledFrames);

// Which of the two sliders the run measures. An unset Divergence is measured; an unset Rating
// Range goes with the Divergence: both measured, or both the user's (the plug-in's default when
// the user gave only a Divergence).
struct AutoSettings {
    bool divergence = false;
    bool ratingRange = false;
};
AutoSettings automaticSliders(const SliderChoice &divergence, const SliderChoice &ratingRange);

} // namespace framemeld::cli
