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

// The rule from noise to tolerance, fitted by bench/divergence-study.py (tables in
// bench/README.md): differences up to kToleranceSigmas noise sigmas agree (kToleranceSigmas8Bit
// at 8 bits), plus kToleranceFloorLevels levels of 255. The tolerance has to let the background's
// own samples at a place agree with one another, and no more: every level wider lets a person who
// stands nearly still, whose samples wander by a few levels, agree with himself, and with enough
// frames he outvotes the background behind him. The noise measure sees a codec's noise and a
// person's sway apart from the background, so no floor is needed; every floor tried (1 to 4
// levels) kept fewer clips near their best fixed value. At 8 bits the plug-in truncates the mean
// it takes, so averaging more of the background's noisy samples gains less than keeping out the
// few that lie off it: half the tolerance there keeps every clip studied within half again of its
// best fixed value, where the wider one left some at twice it; one sigma would keep still more
// near their best on clips of many frames, and leaves holes where a holdout lets only six or
// eight frames show the background. At 16 and 32 bits five sigmas keep as many clips near their
// best as four and lose to the temporal median on fewer.
inline constexpr double kToleranceSigmas = 5.0;
inline constexpr double kToleranceSigmas8Bit = 2.0;
inline constexpr double kToleranceFloorLevels = 0.0;

// The widest difference meant to agree at a render depth, in full scale, for a noise sigma in
// full scale; at most full scale.
double agreementTolerance(double sigma, runner::PixelDepth depth);

// The "Divergence" slider value that makes differences up to `tolerance` (full scale) agree at a
// render depth, rounded to what the slider holds (whole levels at 8 bits, hundredths otherwise)
// so that the host reproduces the plate from the number shown.
double divergenceForTolerance(double tolerance, runner::PixelDepth depth);

// Both together: the value `--divergence auto` sets for a noise sigma (full scale). Noiseless
// footage gets the narrowest value the rule gives.
double automaticDivergence(double sigma, runner::PixelDepth depth);

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
