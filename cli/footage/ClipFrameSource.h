#pragma once
// The sampled frames of a clip as the plug-in checks them out through the runner, at the render
// depth, however the run holds them (see plan/MemoryPlan.h: in memory, in a scratch file, or
// only in their files). What the three ways share lives here: the clip and its format, the checks
// on frames and areas, the decode request, the whole frames once made, and the time spent
// decoding; each way adds only how it holds and reads.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "cli/core/Clip.h"
#include "cli/core/DecodeRequest.h"
#include "cli/core/FootageFormat.h"
#include "cli/footage/FrameRows.h"
#include "cli/footage/FrameStages.h"
#include "cli/plan/MemoryPlan.h"
#include "runner/FrameSource.h"

namespace framemeld::cli {

class ClipFrameSource : public runner::FrameSource, public FrameRows {
public:
    using Progress = std::function<void(long long done, long long total)>;

    ~ClipFrameSource() override;

    // Readies the frames a render samples (clip frame numbers; repeats count once), before the
    // render: decoded up front where the source holds frames, taken note of where it reads them
    // as the render asks. Reports decoding as decodeFrames does. Throws RunError or
    // CancelledError (see decodeFrames); after a failure none of this call's frames are kept.
    virtual void prepare(const std::vector<int> &frames, const Progress &progress = {}) = 0;

    int frameCount() const final { return clip_.frameCount; }
    int width() const final { return format_.width; }
    int height() const final { return format_.height; }
    Depth depth() const final { return depth_; }

    // A whole frame, made on first use and held (a render of the whole plate, or of a band as
    // tall as it, asks so).
    const runner::World &frame(int index) final;

    // Reads the rows of each frame one by one through fillArea; a source that reads many frames'
    // rows at once does better.
    void gatherRow(int row, const std::vector<int> &frames, runner::World &into) override;

    // Adds a stage that every frame the plug-in reads passes through (see FrameStages.h), from
    // now on: frames held whole are changed at once (in place, on the decoding threads); frames
    // read as the render asks are changed as they are read, whole frames and rows alike
    // (fillArea, takeArea, frame, gatherRow). A measurement that must see the frames as decoded
    // runs before the stage is added. Throws std::invalid_argument for a whole-frame stage that
    // this source cannot give whole frames to (FileRows; a scratch file already filled) and
    // std::logic_error as FramePreparation::add does.
    void addStage(StageOrder order, std::shared_ptr<const FrameStage> stage);
    const FramePreparation &preparation() const { return preparation_; }

    // Time spent decoding so far.
    double readSeconds() const { return readSeconds_; }
    // Bytes of frames written aside into a scratch file.
    virtual std::uint64_t scratchBytes() const { return 0; }

protected:
    ClipFrameSource(const Clip &clip, const FootageFormat &format, Depth depth, int threads,
                    const std::atomic<bool> *cancel);

    // Throw std::out_of_range for a frame the clip lacks; std::invalid_argument for an area that
    // is empty or leaves the frame, for a world that does not have its size and the depth, and for
    // a row outside the frame or a world that is not a row of each of `frames`.
    void checkFrame(int index) const;
    void checkArea(const PF_LRect &area, const runner::World &into) const;
    void checkRowGather(int row, const std::vector<int> &frames, const runner::World &into) const;

    // A request for `frames` of this clip, at this depth, on `threads`, with the cancel flag; the
    // caller adds the rows, targets and reports.
    DecodeRequest decodeRequest(std::vector<int> frames, int threads) const;
    // decodeFrames, timed.
    void decode(const DecodeRequest &request);

    // Applies the stages from `first` on to the area of `frame` held at `pixels`.
    void applyStages(int frame, const PF_LRect &area, unsigned char *pixels,
                     std::ptrdiff_t rowBytes, std::size_t first = 0) const
    {
        preparation_.apply(frame, area, pixels, rowBytes, first);
    }
    void applyStages(int frame, const PF_LRect &area, runner::World &world,
                     std::size_t first = 0) const
    {
        applyStages(frame, area, world.row(0), world.rowStride(), first);
    }
    // Throws std::invalid_argument when this source cannot apply `stage` from now on.
    virtual void checkStageFits(const FrameStage &stage) const;

    // The whole frame `index` (checked), made once for frame(); by default through fillArea.
    virtual runner::World makeFrame(int index);
    // The whole frames made so far, by clip frame; a source that holds frames keeps them here.
    std::map<int, runner::World> &wholeFrames() { return wholeFrames_; }
    const std::map<int, runner::World> &wholeFrames() const { return wholeFrames_; }

    const Clip &clip_;
    const FootageFormat format_;
    const Depth depth_;
    const int threads_;
    const std::atomic<bool> *const cancel_;

private:
    FramePreparation preparation_;
    std::map<int, runner::World> wholeFrames_;
    double readSeconds_ = 0;
};

// The source for `storage`, decoding on `threads`. The scratch file goes into
// ScratchFile::defaultFolder().
std::unique_ptr<ClipFrameSource> makeClipFrameSource(FrameStorage storage, const Clip &clip,
                                                     const FootageFormat &format, Depth depth,
                                                     int threads, const std::atomic<bool> *cancel);

} // namespace framemeld::cli
