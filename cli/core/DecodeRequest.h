#pragma once
// What a decoder is asked for: which frames of a clip, which of their rows, at which depth, into
// whose storage, with progress and cancel. The tool's own decoders and the ones inside the
// OpenImageIO module take the same request, so it lives below both.

#include <atomic>
#include <cstddef>
#include <functional>
#include <vector>

#include "cli/core/Clip.h"
#include "cli/core/FootageFormat.h"

namespace framemeld::cli {

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

} // namespace framemeld::cli
