// Where a plate is a guess, and where each frame differs from it, both come from one question
// asked of every sampled frame at every pixel: does its value agree with the plate's, by the
// plug-in's own test at the render depth? The share of frames that agree is the confidence (low
// where an object stands about half the time, at a hole, over a moving background); the frames
// that do not are that frame's difference matte, the key a clean plate is made for. One pass
// over the frames per pixel, O(n), row by row, so the tool can run it on each strip it renders
// within the same memory budget.
//
// The frames are taken as the caller passes them. Rows as handed to the plug-in (codes where
// held out) make held-out samples count as differing: the confidence then says how many frames
// the plate rests on, and the difference mattes include the holdout mattes.
#pragma once

#include <cstdint>

#include "cli/mattes/AgreementTest.h"

namespace framemeld::mattes {

// Difference matte values.
constexpr std::uint8_t kAgrees = 0;
constexpr std::uint8_t kDiffers = 255;

struct AgreementRowInput {
    const AgreementTest *test = nullptr;
    int frameCount = 0; // sampled frames
    int width = 0;      // pixels in every row below
    // Row y of each sampled frame in sampled order, host pixels of test->depth().
    const unsigned char *const *frameRows = nullptr;
    const unsigned char *plateRow = nullptr; // row y of the plate
};

// For each pixel of the row: into confidence[x] (when not null) the share of the sampled frames
// whose value agrees with the plate's, 0 when there are none; into differences[k][x] (when
// differences and differences[k] are not null) kDiffers where frame k does not agree, else
// kAgrees.
void plateAgreementRow(const AgreementRowInput &input, float *confidence,
                       std::uint8_t *const *differences);

} // namespace framemeld::mattes
