#pragma once
// A movie file opened with FFmpeg's demuxers, whatever its container (MOV, MP4, MKV, MXF, M2TS,
// AVI, ...): the container is found from the file's content, not its name, and the video stream
// the tool reads is chosen once here, so that counting the frames, probing their format and
// decoding them all look at the same stream. A run's cancel flag reaches into FFmpeg's own reads,
// so a long probe of a large file stops when the user asks.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

namespace framemeld::cli::movie {

// Whether FFmpeg's demuxers take `bytes` (the start of a file) for a container of their own:
// the name plays no part. Image demuxers (FFmpeg's "_pipe" readers of PNG, JPEG, EXR, ...) do
// not count; stills go to the still readers.
bool isMovieContent(const unsigned char *bytes, std::size_t size);

class MovieContainer {
public:
    // Opens the container and chooses its video stream: the first one that is not a cover
    // picture and that FFmpeg has a decoder for. Throws RunError naming `path` with FFmpeg's
    // reason when the file is no container FFmpeg reads, or when it holds no video that decodes;
    // CancelledError when `cancel` is set while it reads.
    MovieContainer(const std::string &path, const std::atomic<bool> *cancel);
    MovieContainer(const MovieContainer &) = delete;
    MovieContainer &operator=(const MovieContainer &) = delete;

    AVFormatContext *context() const { return context_.get(); }
    AVStream *stream() const { return stream_; }
    // The frame rate frames are numbered by; refused (RunError) when the movie has none.
    AVRational rate() const { return rate_; }
    // The stream's first time stamp, from which frame 0 counts.
    std::int64_t start() const { return start_; }
    // The frame a time stamp (in the stream's time base) falls on.
    long long frameAt(std::int64_t timestamp) const;

    // Clockwise degrees (0, 90, 180 or 270) to turn the decoded pictures by so that they stand as
    // the movie plays, from the stream's display matrix. Throws RunError naming the file for a
    // matrix that mirrors the picture or turns it by another angle.
    int rotation() const;

    // Throws CancelledError when the run was cancelled (FFmpeg's read stopped for it).
    void throwIfCancelled() const;

    const std::string &path() const { return path_; }

private:
    static int interrupted(void *self);

    struct Closer {
        void operator()(AVFormatContext *context) const { avformat_close_input(&context); }
    };

    std::string path_;
    const std::atomic<bool> *cancel_ = nullptr;
    std::unique_ptr<AVFormatContext, Closer> context_; // closed however the constructor ends
    AVStream *stream_ = nullptr;
    AVRational rate_{0, 1};
    std::int64_t start_ = 0;
};

// FFmpeg's text for an error code.
std::string ffmpegError(int code);

} // namespace framemeld::cli::movie
