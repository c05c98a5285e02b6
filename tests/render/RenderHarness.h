// Shared pieces of the end-to-end render tests: the built effect module driven by the host
// runner, generated clips, and the expected clean plate computed independently of the plug-in
// from the test's own frames with the literal consensus rule.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runner/Host.h"

namespace framemeld::rendertest {

namespace rn = framemeld::runner;

struct Sliders {
    double start = 0.0;
    double end = 0.0;
    double every = 1.0;
    double divergence = 2.0;
    double ratingRange = 1.0;
};

struct HostSetup {
    unsigned threads = 3;
    unsigned char outputFill = 0;
};

// The entry point of the plug-in module (loaded once, kept for the whole test run).
rn::EntryPoint ModuleEntryPoint();

// A host on the plug-in module, set up, with the five sliders set. Fails the test when the
// setup does not succeed or a slider does not take its value.
std::unique_ptr<rn::Host> MakeHost(const Sliders &sliders, const HostSetup &setup = {});

// A clip whose frames share a background with per-frame noise, plus outliers (including, at 16
// and 32 bits, values beyond full scale). Frame rows are padded differently from the runner's
// output worlds.
std::unique_ptr<rn::InMemoryFrameSource> MakeClip(int width, int height, rn::PixelDepth depth,
                                                  int frameCount, std::uint32_t seed = 1);

// How the render sees sampled frame k: the clip frame (null outside the clip), or, under a fault
// plan, a null world or only its top-left corner.
struct SampledFrame {
    const rn::World *world = nullptr;
    int visibleWidth = 0;
    int visibleHeight = 0;
};

// The sampled frames of a render of `clip` with these sliders (time step 1), as the runner hands
// them out under `faults`.
std::vector<SampledFrame> SampledFrames(rn::FrameSource &clip, const Sliders &sliders,
                                        const rn::FaultPlan &faults = {});

// The clean plate expected for these frames: the consensus of each position's samples
// (transparent black where a frame has no pixel), with the test's own 16-bit conversion.
rn::World ExpectedPlate(const std::vector<SampledFrame> &frames, const Sliders &sliders, int width,
                        int height, rn::PixelDepth depth);

// Pixel-by-pixel comparison; names the first mismatches and their count.
::testing::AssertionResult SamePixels(const rn::World &expected, const rn::World &actual);

// Whether pixel (x, y) of `world` still holds the fill byte in every channel byte.
bool HoldsFill(const rn::World &world, int x, int y, unsigned char fill);

// The runner's rule book: suites and parameters given back, pre-render data freed once, only
// requested frames checked out, no exception escaped.
::testing::AssertionResult Balanced(const rn::Accounting &accounting);

} // namespace framemeld::rendertest
