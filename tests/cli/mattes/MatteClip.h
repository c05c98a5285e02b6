// Generated clips for the holdout and matte tests: a background with noise well inside the
// tolerance, objects that stand in chosen frames, holdout mattes, the frames prepared for the
// plug-in, renders through the built module, and the plate a holdout should give, worked out
// independently with the consensus oracle on the visible samples alone.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "cli/mattes/HoldoutCodes.h"
#include "runner/FrameSource.h"
#include "runner/World.h"

namespace framemeld::mattestest {

namespace rn = framemeld::runner;

// Components in the float engine's units (1.0 full scale).
struct Colour {
    float red, green, blue, alpha;
};

struct Box {
    int left, top, right, bottom; // right and bottom exclusive
    bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

std::vector<int> frameRange(int first, int end); // first .. end - 1

class MatteClip {
public:
    static constexpr int kWidth = 12;
    static constexpr int kHeight = 8;

    MatteClip(rn::PixelDepth depth, int frames);

    rn::PixelDepth depth() const { return depth_; }
    int frames() const { return frameCount_; }
    // The divergence the clip's noise is made for: 10 levels at 8 bits, 4 % at 16 and 32.
    double divergence() const;

    Colour background(int x, int y) const;
    void placeObject(const Box &box, const std::vector<int> &frames, Colour colour);
    void holdOut(const Box &box, const std::vector<int> &frames);
    const std::vector<std::uint8_t> &matte(int frame) const
    {
        return mattes_[static_cast<std::size_t>(frame)];
    }
    bool heldOut(int frame, int x, int y) const { return matte(frame)[index(x, y)] != 0; }

    const rn::World &frame(int k) const { return worlds_[static_cast<std::size_t>(k)]; }
    // The clip as the plug-in gets it: held-out samples as their codes, or (what a track matte
    // does in the host) as transparent black.
    std::unique_ptr<rn::InMemoryFrameSource>
    prepared(const framemeld::mattes::HoldoutCodes &) const;
    std::unique_ptr<rn::InMemoryFrameSource> naivelyPrepared() const;
    std::unique_ptr<rn::InMemoryFrameSource> unprepared() const;

private:
    static std::size_t index(int x, int y) { return static_cast<std::size_t>(y * kWidth + x); }
    void write(rn::World &world, int x, int y, Colour colour) const;

    rn::PixelDepth depth_;
    int frameCount_;
    std::vector<rn::World> worlds_;
    std::vector<std::vector<std::uint8_t>> mattes_;
};

// A colour in host units at a depth, for comparisons.
PF_Pixel8 hostPixel8(Colour colour);
PF_Pixel16 hostPixel16(Colour colour);

// The plate of all the source's frames, rendered by the Framemeld module through the runner.
rn::World renderPlate(rn::FrameSource &source, double divergence, double ratingRange);

// makeHolesHonest over every row of `plate`, with the frames as handed to the plug-in.
long makeHoles(const MatteClip &clip, rn::FrameSource &prepared,
               const framemeld::mattes::HoldoutCodes &codes, double ratingRange, rn::World &plate);

// What a holdout should give: at each pixel the rule on the visible samples alone, or a hole
// (transparent black) where some sample is held out and the rule on what is visible would not
// keep a lone rating-1 sample out (the highest visible rating less the Rating Range below 1).
rn::World expectedPlate(const MatteClip &clip, double ratingRange);

// Whether the world's pixel (x, y) equals `colour` converted to its depth, or (tolerant) agrees
// with it by the tool's test at `divergence`.
bool agreesWith(const rn::World &world, int x, int y, Colour colour, double divergence);
bool isTransparentBlack(const rn::World &world, int x, int y);

} // namespace framemeld::mattestest
