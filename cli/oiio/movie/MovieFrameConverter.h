#pragma once
// Decoded movie pictures (any of FFmpeg's pixel formats) into host pixels at the render depth.
// The picture is first turned into RGB at the movie's own depth class (8 bits for 8-bit sources,
// 16 for anything deeper, so 10- and 12-bit samples keep their steps), then into the host world
// by the rules the still readers follow (see PixelConversion.h).

#include <memory>
#include <string>

#include "cli/core/DecodeRequest.h"

struct AVFrame;
struct SwsContext;

namespace framemeld::cli::movie {

class MovieFrameConverter {
public:
    // `withAlpha`: keep the picture's alpha (when it has one); otherwise pixels are opaque.
    // `threads` share the colour conversion of each picture.
    MovieFrameConverter(Depth depth, bool withAlpha, int threads);
    ~MovieFrameConverter();
    MovieFrameConverter(const MovieFrameConverter &) = delete;
    MovieFrameConverter &operator=(const MovieFrameConverter &) = delete;

    // Writes `picture` (width x height of the target) into `target`; throws RunError naming
    // `what` when the picture cannot be converted.
    void convert(const AVFrame &picture, const std::string &what, const FrameTarget &target);

private:
    struct Layout; // what the scaler was set up for
    void prepare(const AVFrame &picture, const std::string &what);

    Depth depth_;
    bool withAlpha_;
    int threads_;
    std::unique_ptr<Layout> layout_;
    SwsContext *scaler_ = nullptr;
    AVFrame *rgb_ = nullptr;
};

} // namespace framemeld::cli::movie
