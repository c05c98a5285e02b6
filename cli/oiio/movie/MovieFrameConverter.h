#pragma once
// Decoded movie pictures (any of FFmpeg's pixel formats) into host pixels at the render depth.
// The picture is first turned into RGB at the movie's own depth class (8 bits for 8-bit sources,
// 16 for anything deeper, so 10- and 12-bit samples keep their steps), then into the host world
// by the rules the still readers follow (see PixelConversion.h). Pictures that are RGB already
// and deeper than 8 bits (FFV1 or ProRes RAW-like planar RGB) skip the scaler, whose widening to
// 16 bits is off by a few steps: each sample is scaled full scale to full scale with rounding, so
// a lossless movie gives its stored samples back. A movie that plays turned (its display matrix)
// is given the same quarter turn here.

#include <memory>
#include <string>
#include <vector>

#include "cli/core/DecodeRequest.h"

struct AVFrame;
struct SwsContext;

namespace framemeld::cli::movie {

class MovieFrameConverter {
public:
    // `withAlpha`: keep the picture's alpha (when it has one); otherwise pixels are opaque.
    // `threads` share the colour conversion of each picture.
    // `rotation`: clockwise degrees (0, 90, 180, 270) the picture is turned by into the target.
    MovieFrameConverter(Depth depth, bool withAlpha, int threads, int rotation = 0);
    ~MovieFrameConverter();
    MovieFrameConverter(const MovieFrameConverter &) = delete;
    MovieFrameConverter &operator=(const MovieFrameConverter &) = delete;

    // Writes `picture` (width x height of the target, before the turn) into `target`; throws
    // RunError naming `what` when the picture cannot be converted.
    void convert(const AVFrame &picture, const std::string &what, const FrameTarget &target);

private:
    struct Layout; // what the scaler was set up for
    void prepare(const AVFrame &picture, const std::string &what);
    void convertUpright(const AVFrame &picture, const std::string &what, const FrameTarget &target);

    Depth depth_;
    bool withAlpha_;
    int threads_;
    int rotation_;
    std::vector<unsigned char> unturned_; // the picture before its turn, in host pixels
    std::unique_ptr<Layout> layout_;
    SwsContext *scaler_ = nullptr;
    AVFrame *rgb_ = nullptr;
};

} // namespace framemeld::cli::movie
