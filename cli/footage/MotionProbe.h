#pragma once
// A camera that moves by a pixel softens the plate, and a user who does not know it moved gets no
// word why. Without --align the run measures, for next to nothing, whether the sampled frames move
// against each other: this stage reads each frame once as it is decoded, before the working
// space's encoding, and keeps a small grey picture of it (MotionEstimate.h registers those). It
// changes no pixel, so the plate is the one a run without it makes.

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "cli/core/FootageFormat.h"
#include "cli/footage/FrameStages.h"

namespace framemeld::cli {

// A frame shrunk by `scale` along each axis to one grey value per block (the mean of r + 2g + b
// over 4, full scale 1; blocks 4 rows tall or more average their middle half of rows). Partial
// blocks at the right and bottom edges are left out, so a proxy pixel always stands for the same
// number of footage pixels. A block with a sample that is not finite is NaN: the registration
// leaves it out instead of comparing against it.
struct GreyProxy {
    int width = 0;
    int height = 0;
    int scale = 1; // footage pixels per proxy pixel, along each axis
    std::vector<float> values;

    float at(int x, int y) const
    {
        return values[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }
};

// The power of two that brings the frame's longer side to at most 480 proxy pixels: fine enough to
// see a tenth of a footage pixel on textured footage, small enough to register in a millisecond.
int greyProxyScale(int width, int height);

// The proxy of the pixels at `pixels` (rows `rowBytes` apart, the host's ARGB order at `depth`).
// Float values above 1 are compressed (1 + log v), so a lamp in HDR footage does not outweigh the
// texture of the whole frame.
GreyProxy makeGreyProxy(const unsigned char *pixels, std::ptrdiff_t rowBytes, int width, int height,
                        Depth depth, int scale);

// How the probe is given the frames: whole, as the sources that hold frames give them, or as
// bands of whole rows, as frames read a few rows at a time come (the proxy of such a frame is
// made from the rows as they are decoded, and is there once every row it uses has been seen).
enum class ProbeReads { WholeFrames, RowBands };

class MotionProbe final : public FrameStage {
public:
    MotionProbe(Depth depth, int width, int height, ProbeReads reads = ProbeReads::WholeFrames);
    ~MotionProbe() override;

    bool wholeFrame() const override { return reads_ == ProbeReads::WholeFrames; }
    // Adds what it is given to the frame's proxy, the first time each row is seen (a frame or
    // row read twice counts once: its first reading); leaves the pixels as they are. Bands that
    // are not whole rows are passed over. The proxy is the same however the rows came.
    void apply(int frame, const PF_LRect &area, unsigned char *pixels,
               std::ptrdiff_t rowBytes) const override;

    // The proxy of clip frame `frame`; null until every row it uses was seen.
    std::shared_ptr<const GreyProxy> proxy(int frame) const;
    // Bytes a proxy of a frame of this size holds.
    static std::size_t bytesPerFrame(int width, int height);

private:
    struct Partial;

    const Depth depth_;
    const int width_;
    const int height_;
    const int scale_;
    const ProbeReads reads_;
    mutable std::mutex lock_;
    mutable std::map<int, std::shared_ptr<const GreyProxy>> proxies_;
    mutable std::map<int, std::unique_ptr<Partial>> partials_;
};

} // namespace framemeld::cli
