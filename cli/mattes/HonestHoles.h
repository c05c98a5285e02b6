// A held-out sample rates 1, the lowest rating there is, so the plug-in leaves it out exactly
// when something visible rates high enough; where nothing does (a pixel held out in every
// frame, or too few visible samples agreeing for the Rating Range: with 2, a lone visible
// sample or a pair passes the cutoff along with every code), every sample enters the mean and
// the plate shows a blend of codes. Those pixels must be honest holes, all four components 0.
//
// Rating the samples again would cost the render's O(n^2). It is not needed: codes enter the
// mean only together with every other sample, so a plate pixel that differs from the plain mean
// of its samples (computed with the engine's own arithmetic) is certainly clean. One that equals
// it is a hole unless a witness proves otherwise: visible samples within about half the
// tolerance of the plate value all agree with one another, so m of them rate at least m each,
// and when m - Rating Range is at least 1 no code was selected. Footage whose own transparent
// samples agree with a held-out code at the same pixel breaks the premise (that code rates
// above 1) and is made a hole too; those samples were transparent already. O(n) per pixel.
//
// The one way to err is towards a hole: a clean pixel whose value happens to equal the plain
// mean of all its samples, codes included, with no witness near it. Opaque footage never does
// (its plate alpha is full, the mean's is not).
#pragma once

#include <cstdint>

#include "cli/mattes/HoldoutCodes.h"

namespace framemeld::mattes {

struct HoleRowInput {
    const HoldoutCodes *codes = nullptr;
    double ratingRange = 1.0; // the "Rating Range" slider value of the render
    int frameCount = 0;       // sampled frames
    int width = 0;            // pixels in every row below
    // Row y of each sampled frame in sampled order, as handed to the plug-in or as decoded:
    // held-out pixels are read as their codes whatever these rows hold there.
    const unsigned char *const *frameRows = nullptr;
    // Row y of each sampled frame's holdout matte (non-zero = held out); a null entry holds
    // nothing out in this row, a null array nothing in any frame.
    const std::uint8_t *const *matteRows = nullptr;
};

// Sets every pixel of `plateRow` (row y of the plug-in's plate, codes->depth()) that is a blend
// of held-out codes to transparent black, and returns how many it set. Pixels where no frame is
// held out are left as the plug-in made them.
long makeHolesHonest(const HoleRowInput &input, unsigned char *plateRow);

} // namespace framemeld::mattes
