#pragma once
// The clip for footage too big to hold, in a format that reads any run of rows on its own (EXR,
// TIFF, DPX): nothing is decoded up front and nothing is written aside. When the render of a band
// asks for its first frame, the band's rows of every sampled frame are decoded from the files at
// once, on several threads, and handed to the render as it checks the frames out; so memory holds
// a band of every frame, and each block of each file is decoded once when bands start and end on
// the file's blocks.
//
// Each file is read once per band, so the source knows what it read: the identity of every frame
// file (device, inode, size, modification time) is taken when the frames are prepared, before
// the first read, and checked before and after each read. A file replaced or rewritten during
// the run stops it with a RunError naming the file, instead of a plate made of two versions.

#include <map>
#include <vector>

#include "cli/files/FileIdentity.h"
#include "cli/footage/ClipFrameSource.h"

namespace framemeld::cli {

class FileRowsFrameSource final : public ClipFrameSource {
public:
    // `format` must have rowAccess and `clip` be an image sequence (else std::invalid_argument).
    FileRowsFrameSource(const Clip &clip, const FootageFormat &format, Depth depth, int threads,
                        const std::atomic<bool> *cancel);

    // Notes the frames a band's render checks out; each band's rows of these are decoded
    // together when the first of them is asked for. Nothing is decoded here.
    void prepare(const std::vector<int> &frames, const Progress &progress = {}) override;

    // Decodes the area's rows of one frame on the spot.
    void fillArea(int index, const PF_LRect &area, runner::World &into) override;
    // The frame's rows of the band `area`, decoded with those of every sampled frame the first
    // time the area is asked for; an invalid world for areas narrower than the frame, frames not
    // sampled and frames already handed out for this area.
    runner::World takeArea(int index, const PF_LRect &area) override;

    // The frames decoded on all threads at once.
    void gatherRow(int row, const std::vector<int> &frames, runner::World &into) override;

    // Frames' rows decoded so far, in frames (rows / height).
    double framesRead() const;

protected:
    // Files give rows, never whole frames: a whole-frame stage cannot be applied here.
    void checkStageFits(const FrameStage &stage) const override;

private:
    void decodeRows(const std::vector<int> &frames, int top, int bottom, int threads,
                    const std::function<FrameTarget(std::size_t)> &target);

    // Takes the identity of `frame`'s file the first time, compares it with that afterwards.
    void checkUnchanged(int frame);

    std::vector<int> sampled_; // sorted, unique
    std::map<int, FileIdentity> identities_;
    PF_LRect prepared_{}; // the band whose rows `ready_` holds
    std::map<int, runner::World> ready_;
    long long rowsRead_ = 0;
};

} // namespace framemeld::cli
