#pragma once
// Decodes the requested frames of a clip into host pixels (alpha, red, green, blue) at the
// render depth, straight into storage the caller provides, so a decoded frame exists once.
// Image sequences decode on several threads, one frame per thread at a time, reading only the
// requested files; a movie decodes in one forward pass from the first requested frame to the
// last, keeping only the requested ones, the codec itself decoding on `threads`.

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "cli/footage/Clip.h"
#include "cli/footage/FootageFormat.h"

namespace framemeld::cli {

// Reads the header of frame 0. Throws RunError naming the file when it cannot be read.
FootageFormat probeFootage(const Clip &clip);

// Where one decoded frame goes: `rowBytes` apart, `width` host pixels per row.
struct FrameTarget {
    unsigned char *pixels = nullptr;
    std::ptrdiff_t rowBytes = 0;
};

struct DecodeRequest {
    const Clip *clip = nullptr;
    FootageFormat format;
    std::vector<int> frames; // clip frame numbers, each read once, in any order
    Depth depth = Depth::Bits8;
    int threads = 1;
    // The rows of each frame to decode, [rowTop, rowBottom) of the frame (rowBottom -1: to the
    // last row); anything but the whole frame only for image sequences whose format has
    // rowAccess (else std::invalid_argument).
    int rowTop = 0;
    int rowBottom = -1;
    // Called once per entry of `frames` (by index into it), possibly from several threads at
    // once, before that frame is decoded; returns storage for width x (rowBottom - rowTop) host
    // pixels, its first row the frame's row rowTop.
    std::function<FrameTarget(std::size_t index)> target;
    // When set, called once per entry of `frames`, on the thread that decoded it, as soon as the
    // frame is whole in its target; after it returns the decoder no longer touches that storage,
    // so a caller that moves frames elsewhere can hand the same storage out again.
    std::function<void(std::size_t index, const FrameTarget &target)> decoded;
    // Reports work done out of a total (frames, including those a movie passes through), possibly
    // from several threads at once.
    std::function<void(long long done, long long total)> progress;
    // Checked between frames (and between row chunks); when set, decoding stops and
    // CancelledError is thrown.
    const std::atomic<bool> *cancel = nullptr;

    bool cancelled() const { return cancel != nullptr && cancel->load(); }
    int rowEnd() const { return rowBottom < 0 ? format.height : rowBottom; }
    bool wholeFrames() const { return rowTop == 0 && rowEnd() == format.height; }
};

// Throws RunError naming the file (and movie frame) on unreadable frames or frames whose size
// differs from the first one; CancelledError when cancelled.
void decodeFrames(const DecodeRequest &request);

} // namespace framemeld::cli
