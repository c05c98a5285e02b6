#pragma once
// The plug-in reads the sampled frames as the tool hands them over, and some runs must change
// them first: a holdout matte replaces held-out samples with codes, an alignment warps each frame
// onto the first, a working space encodes the pixels before the plug-in and the plate is decoded
// after. Each is a stage applied to a frame's pixels after decoding and before the plug-in reads
// them, in one fixed order (a probe that only reads the footage as decoded, then warp, then
// encode, then holdout: the matte is drawn on the footage as the artist sees it after alignment,
// and the codes must be the last values written, or the encode would move them off their grid).
// The frame sources apply the stages however they hold the frames (ClipFrameSource::addStage), so
// a stage never knows whether it sees a whole frame in memory or a band read back from a scratch
// file.

#include <cstddef>
#include <memory>
#include <vector>

#include "AE_Effect.h"

namespace framemeld::cli {

// Where a stage stands among the others; stages apply in this order.
enum class StageOrder {
    Probe = 0,   // a reading of the footage as decoded that changes nothing (the motion probe)
    Warp = 1,    // a whole-frame move of the footage (--align)
    Encode = 2,  // a per-pixel change of the values (a working space)
    Holdout = 3, // held-out samples replaced by their codes (--holdout)
};

class FrameStage {
public:
    virtual ~FrameStage() = default;

    // Whether the stage must see a whole frame at once (a warp moves pixels between rows). Such a
    // stage is applied only where frames are held whole or decoded whole before they are stored.
    virtual bool wholeFrame() const { return false; }

    // Changes, in place, the pixels of clip frame `frame` inside `area` (layer pixels, within the
    // frame) at the source's depth: `pixels` is the area's top-left pixel, rows `rowBytes` apart.
    // Called from several threads at once, for different frames or areas; a whole-frame stage
    // is always given the whole frame.
    virtual void apply(int frame, const PF_LRect &area, unsigned char *pixels,
                       std::ptrdiff_t rowBytes) const = 0;
};

// The stages of a run, in their order.
class FramePreparation {
public:
    // Appends `stage`. Throws std::logic_error when a stage of a later order is already there: a
    // source may have applied that one, and this one would then run after it.
    void add(StageOrder order, std::shared_ptr<const FrameStage> stage);

    std::size_t size() const { return stages_.size(); }
    bool empty() const { return stages_.empty(); }
    const FrameStage &stage(std::size_t index) const { return *stages_[index].stage; }

    // Applies stages [first, end) in order (see FrameStage::apply); end past size() is size().
    void apply(int frame, const PF_LRect &area, unsigned char *pixels, std::ptrdiff_t rowBytes,
               std::size_t first = 0, std::size_t end = static_cast<std::size_t>(-1)) const;

private:
    struct Entry {
        StageOrder order;
        std::shared_ptr<const FrameStage> stage;
    };
    std::vector<Entry> stages_;
};

} // namespace framemeld::cli
