#pragma once
// What the artist knows: where in each sampled frame something stands that must not count. The
// matte comes as footage of its own (an image sequence or movie with the footage's frame numbers
// and size, or one still image for every frame, a garbage matte), read with the tool's own
// readers; its foreground is its alpha, or its first channel when it has no alpha, at or above
// half of full scale (--holdout-invert turns that round). All of it is read and checked before
// any frame of the footage is decoded, so a matte that does not fit costs no render; what is kept
// is one bit a pixel per sampled frame (one for a still), which the memory budget counts.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/core/Clip.h"
#include "cli/core/FootageFormat.h"
#include "cli/formats/AlignModule.h"

namespace framemeld::cli {

struct HoldoutMatteRequest {
    std::string path;    // as given to --holdout
    bool invert = false; // --holdout-invert: foreground below half of full scale
};

class HoldoutMattes {
public:
    // The matte's frames for the frames `sampled` of `footage`: a numbered sequence by the
    // footage's numbers (only the sampled numbers need files: a matte drawn for every n-th frame
    // serves a run with --every n), anything else found as footage is. Throws RunError naming
    // --holdout, and the first sampled frame a sequence has no file for.
    static Clip discover(const std::string &path, const Clip &footage,
                         const std::vector<int> &sampled);

    // Reads the matte (`matte`, from discover) of every frame in `sampled` (clip frames of
    // `footage`, whose frames have
    // `format`'s size) on `threads`. Throws RunError naming the matte when it cannot be read,
    // when its size is not the footage's, when a sampled frame's number has no matte frame, or
    // when it has no usable channel (no channel at all, or foreground at every pixel of every
    // sampled frame, which leaves nothing of the footage to count: an alpha that is opaque
    // everywhere, as a paint program exports a matte drawn in colour); CancelledError.
    static HoldoutMattes read(const HoldoutMatteRequest &request, const Clip &matte,
                              const Clip &footage, const FootageFormat &format,
                              const std::vector<int> &sampled, int threads,
                              const std::atomic<bool> *cancel);

    // Mattes that hold nothing out yet, one per sampled frame of `footage` (`width` x `height`),
    // for a run that holds out only what alignment leaves uncovered; its path is empty.
    static HoldoutMattes nothingHeldOut(const Clip &footage, int width, int height,
                                        const std::vector<int> &sampled);

    // Moves sampled frame `k`'s matte into the reference frame's pixels, as its frame is warped
    // (`frameToReference`). A pixel is held out when any matte pixel around the place it comes
    // from is (the one pixel when that place is a pixel's centre): the warp's filter mixes
    // neighbours across the matte's edge. Places outside the frame are left to holdOutUncovered.
    // A matte shared by several frames (a still) is given to each frame apart first.
    void warpToReference(int k, const align::Transform &frameToReference);

    // Holds out, besides what the matte says, the pixels of sampled frame `k` outside
    // `covered` (one span of columns per row, first <= x < end): a warped frame's pixels
    // that show no footage count as held out by the matte's own rule. A matte shared by several
    // frames (a still) is given to each frame apart first.
    void holdOutUncovered(int k, const std::vector<align::CoverageSpan> &covered);

    // What the mattes of `frames` sampled frames of `width` x `height` keep (`still`: one).
    static std::uint64_t bytesFor(int width, int height, int frames, bool still);

    const std::string &path() const { return path_; }
    int width() const { return width_; }
    int height() const { return height_; }
    int frameCount() const { return static_cast<int>(maskOf_.size()); }
    bool still() const { return still_; }
    std::uint64_t bytes() const;

    // The place of clip frame `clipFrame` among the sampled frames, or -1.
    int sampledIndexOf(int clipFrame) const;
    // Whether sampled frame `k` holds anything out in row `y`.
    bool rowHeldOut(int k, int y) const;
    // 1 where sampled frame `k` is held out, else 0, for pixels left .. left + count - 1 of row y.
    void row(int k, int y, int left, int count, std::uint8_t *out) const;
    // Held-out pixels over all sampled frames.
    std::uint64_t heldOutSamples() const { return heldOutSamples_; }

private:
    struct Mask;
    Mask &ownMaskOf(int k);

    struct Mask {
        std::vector<std::uint64_t> bits; // rowWords_ per row
        std::vector<std::uint8_t> rowAny;
    };

    std::string path_;
    int width_ = 0;
    int height_ = 0;
    int rowWords_ = 0;
    bool still_ = false;
    std::vector<Mask> masks_;
    std::vector<int> maskOf_;       // by sampled index
    std::vector<int> sampledIndex_; // by clip frame, -1 when not sampled
    std::uint64_t heldOutSamples_ = 0;
};

} // namespace framemeld::cli
