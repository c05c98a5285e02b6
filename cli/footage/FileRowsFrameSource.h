#pragma once
// The clip for footage too big to hold, in a format that reads any run of rows on its own (EXR,
// TIFF, DPX): nothing is decoded up front and nothing is written aside. When the render of a strip
// asks for its first frame, the strip's rows of every sampled frame are decoded from the files at
// once, on several threads, and handed to the render as it checks the frames out; so memory holds
// a strip of every frame, and each block of each file is decoded once when strips start and end
// on the file's blocks.

#include <atomic>
#include <map>
#include <vector>

#include "cli/footage/FootageDecoder.h"
#include "runner/FrameSource.h"

namespace framemeld::cli {

class FileRowsFrameSource final : public runner::FrameSource {
public:
    // `format` must have rowAccess and `clip` be an image sequence (else std::invalid_argument).
    FileRowsFrameSource(const Clip &clip, const FootageFormat &format, Depth depth, int threads,
                        const std::atomic<bool> *cancel);

    // The frames a strip's render checks out (clip frame numbers; repeats count once). Each
    // strip's rows of these are decoded together when the first of them is asked for.
    void sampleFrames(const std::vector<int> &frames);

    int frameCount() const override { return clip_.frameCount; }
    int width() const override { return format_.width; }
    int height() const override { return format_.height; }
    Depth depth() const override { return depth_; }

    // A whole frame, decoded and then held (a render of one strip covering the plate asks so).
    const runner::World &frame(int index) override;
    // Decodes the area's rows of one frame on the spot.
    void fillArea(int index, const PF_LRect &area, runner::World &into) override;
    // The frame's rows of the strip `area`, decoded with those of every sampled frame the first
    // time the area is asked for; an invalid world for areas narrower than the frame, frames not
    // sampled and frames already handed out for this area.
    runner::World takeArea(int index, const PF_LRect &area) override;

    // Row `row` of each of `frames` into row i of `into` (the frame's width, frames.size() rows,
    // the depth), the frames decoded on all threads at once.
    void gatherRow(int row, const std::vector<int> &frames, runner::World &into);

    // Time spent decoding so far, and frames' rows decoded (in frames: rows / height).
    double readSeconds() const { return readSeconds_; }
    double framesRead() const;

private:
    void decodeRows(const std::vector<int> &frames, int top, int bottom, int threads,
                    const std::function<FrameTarget(std::size_t)> &target);

    const Clip &clip_;
    FootageFormat format_;
    Depth depth_;
    int threads_;
    const std::atomic<bool> *cancel_;
    std::vector<int> sampled_; // sorted, unique
    PF_LRect prepared_{};      // the strip whose rows `ready_` holds
    std::map<int, runner::World> ready_;
    std::map<int, runner::World> wholeFrames_;
    double readSeconds_ = 0;
    long long rowsRead_ = 0;
};

} // namespace framemeld::cli
