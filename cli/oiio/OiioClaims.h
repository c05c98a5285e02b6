#pragma once
// What a file's header claims, weighed against what the file holds, before anything is allocated
// or decoded from the claim: a patched header must not cost more than the file weighs, nor read
// as mostly black pixels.

#include <cstdint>
#include <string>

#include <OpenImageIO/imageio.h>

namespace framemeld::cli::oiio {

// The most pixel data, in bytes at the stored bit depth, that `fileBytes` of a file stored with
// `compression` (as OpenImageIO names it, "none" for none) can hold; `rawFormat` for formats that
// store samples as they are whatever they say.
double mostPixelBytesHeldBy(std::uint64_t fileBytes, const std::string &compression,
                            bool rawFormat);

// Throws RunError naming `path` for an EXR or DPX file whose header claims more bytes than the
// file has, or is out of step with itself, where the reader would allocate the claim before
// reading it (EXR attributes, DPX user data); nothing for other files.
void refuseUnbackedHeader(const std::string &path);

// Throws RunError naming `path` when the current subimage of `input` claims more pixels (in its
// data window, or a display window larger than it) than the file at `path` can hold.
void refuseUnbackedImage(const std::string &path, const OIIO::ImageInput &input);

// Throws RunError naming `path` when a movie claims more frames than its file has bytes: even
// the smallest coded frame takes one.
void refuseUnbackedFrameCount(const std::string &path, long long frameCount);

// Throws RunError naming `path` for a movie without a frame rate: a bare video stream (raw
// MPEG-4, ...) or a container whose head is gone. OpenImageIO's movie reader counts such a
// movie's frames by time stamps it lacks and reads a few of them as if they were all.
void refuseUncountableMovie(const std::string &path, const OIIO::ImageSpec &spec);

// The same, for a frame rate as FFmpeg gives it (0/0 or 0/1 when it has none).
void refuseUncountableMovie(const std::string &path, int rateNumerator, int rateDenominator);

} // namespace framemeld::cli::oiio
