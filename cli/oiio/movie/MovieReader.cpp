#include "cli/oiio/movie/MovieReader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cli/core/CliError.h"
#include "cli/oiio/OiioClaims.h"
#include "cli/oiio/movie/MovieContainer.h"
#include "cli/oiio/movie/MovieFrameConverter.h"

namespace framemeld::cli::movie {
namespace {

// FFmpeg warns on the terminal past this many codec threads, and a frame-threaded decoder holds a
// picture per thread.
constexpr int kMostCodecThreads = 16;

struct CodecFreer {
    void operator()(AVCodecContext *context) const { avcodec_free_context(&context); }
};
struct FrameFreer {
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
struct PacketFreer {
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;

std::string errorText(int code)
{
    return ffmpegError(code);
}

// Pictures are stored unturned: their size is the frame's before its rotation.
void checkStoredSize(const std::string &what, int width, int height, const FootageFormat &format)
{
    FootageFormat stored = format;
    stored.width = format.storedWidth();
    stored.height = format.storedHeight();
    checkFrameSize(what, width, height, stored);
}

FramePtr newFrame()
{
    FramePtr frame(av_frame_alloc());
    if (!frame) {
        throw RunError("out of memory for a movie frame");
    }
    return frame;
}

// The movie's video stream (the one its frames were counted in, see MovieContainer), demuxed and
// decoded forward.
class VideoStream {
public:
    VideoStream(const std::string &path, const FootageFormat &format, int threads,
                const std::atomic<bool> *cancel)
        : path_(path), movie_(path, cancel), stream_(movie_.stream())
    {
        rate_ = movie_.rate();
        // Before the decoder sizes anything by the stream's claim.
        checkStoredSize(path, stream_->codecpar->width, stream_->codecpar->height, format);
        start_ = movie_.start();

        const AVCodec *codec = avcodec_find_decoder(stream_->codecpar->codec_id);
        if (codec == nullptr) {
            throw RunError(path + ": no decoder for the movie's " +
                           avcodec_get_name(stream_->codecpar->codec_id) + " video");
        }
        decoder_.reset(avcodec_alloc_context3(codec));
        if (!decoder_ || avcodec_parameters_to_context(decoder_.get(), stream_->codecpar) < 0) {
            throw RunError(path + ": cannot set up the movie's decoder");
        }
        decoder_->pkt_timebase = stream_->time_base;
        decoder_->thread_count = std::clamp(threads, 1, kMostCodecThreads);
        decoder_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
        const int result = avcodec_open2(decoder_.get(), codec, nullptr);
        if (result < 0) {
            throw RunError(path + ": cannot open the movie's " + codec->name + " decoder (" +
                           errorText(result) + ")");
        }
        packet_.reset(av_packet_alloc());
        if (!packet_) {
            throw RunError("out of memory for a movie packet");
        }
    }

    // Places the stream at the key frame at or before `frame`; when the container cannot seek,
    // the stream stays at its start.
    void seekBefore(long long frame)
    {
        const std::int64_t at = start_ + av_rescale_q(frame, av_inv_q(rate_), stream_->time_base);
        if (av_seek_frame(movie_.context(), stream_->index, at, AVSEEK_FLAG_BACKWARD) >= 0) {
            avcodec_flush_buffers(decoder_.get());
        }
    }

    // The next picture in display order into `picture`; false after the last one. `what` names
    // the place in the movie for a decoding error.
    bool next(AVFrame *picture, const std::string &what)
    {
        for (;;) {
            int result = avcodec_receive_frame(decoder_.get(), picture);
            if (result == 0) {
                return true;
            }
            if (result == AVERROR_EOF) {
                return false;
            }
            if (result != AVERROR(EAGAIN)) {
                throw RunError(what + ": cannot decode the frame (" + errorText(result) + ")");
            }
            if (draining_) {
                return false; // a decoder that wants more after the end has nothing left
            }
            result = av_read_frame(movie_.context(), packet_.get());
            movie_.throwIfCancelled();
            if (result < 0) {
                // The end, or a file cut short: what was read is decoded to the end.
                if (result != AVERROR_EOF) {
                    readFailure_ = errorText(result);
                }
                draining_ = true;
                avcodec_send_packet(decoder_.get(), nullptr);
                continue;
            }
            if (packet_->stream_index == stream_->index) {
                result = avcodec_send_packet(decoder_.get(), packet_.get());
            }
            av_packet_unref(packet_.get());
            if (result < 0) {
                throw RunError(what + ": cannot decode the frame (" + errorText(result) + ")");
            }
        }
    }

    // The frame a picture is shown as, by its time stamp; one after `previous` when it has none.
    long long frameOf(const AVFrame &picture, long long previous) const
    {
        if (picture.best_effort_timestamp == AV_NOPTS_VALUE) {
            return previous + 1;
        }
        return movie_.frameAt(picture.best_effort_timestamp);
    }

    // Why the file stopped before its end, if it did.
    const std::string &readFailure() const { return readFailure_; }

private:
    std::string path_;
    MovieContainer movie_;
    AVStream *stream_ = nullptr;
    std::unique_ptr<AVCodecContext, CodecFreer> decoder_;
    std::unique_ptr<AVPacket, PacketFreer> packet_;
    AVRational rate_{0, 1};
    std::int64_t start_ = 0; // the stream's first time stamp
    std::string readFailure_;
    bool draining_ = false;
};

// The requested entries of one frame number.
struct Wanted {
    long long frame;
    std::vector<std::size_t> indices;
};

class MoviePass {
public:
    MoviePass(const DecodeRequest &request, std::vector<Wanted> wanted)
        : request_(request), wanted_(std::move(wanted)),
          converter_(request.depth, request.format.hasAlpha, request.threads,
                     request.format.rotation)
    {}

    // One pass starting at the key frame before `seekFrame` (0: from the start). Returns false,
    // having handed nothing on, when the stream came back past the first requested frame: some
    // containers seek by decoding time, which can lie after the frame's display time.
    bool run(long long seekFrame)
    {
        const Clip &clip = *request_.clip;
        VideoStream stream(clip.moviePath, request_.format, request_.threads, request_.cancel);
        if (seekFrame > 0) {
            stream.seekBefore(seekFrame);
        }
        const long long first = wanted_.front().frame;
        const long long last = wanted_.back().frame;
        FramePtr picture = newFrame();
        FramePtr shown = newFrame(); // the picture before `picture`, when there is one
        bool haveShown = false;
        long long previous = -1;
        std::size_t next = 0;
        while (stream.next(picture.get(), describe(previous + 1))) {
            if (request_.cancelled()) {
                throw CancelledError();
            }
            const long long frame = stream.frameOf(*picture, previous);
            if (frame <= previous) {
                av_frame_unref(picture.get()); // a second picture in a frame's time
                continue;
            }
            if (!haveShown && seekFrame > 0 && frame > first) {
                return false;
            }
            // Frames no picture starts at show the one before.
            for (; next < wanted_.size() && wanted_[next].frame < frame; ++next) {
                keep(wanted_[next], haveShown ? *shown : *picture);
            }
            if (next < wanted_.size() && wanted_[next].frame == frame) {
                keep(wanted_[next], *picture);
                ++next;
            }
            const long long passed = std::min(frame, last) - std::max(first, previous + 1) + 1;
            if (passed > 0) {
                done_ += passed;
                if (request_.progress) {
                    request_.progress(done_, last - first + 1);
                }
            }
            previous = frame;
            av_frame_unref(shown.get());
            av_frame_move_ref(shown.get(), picture.get());
            haveShown = true;
            if (next == wanted_.size()) {
                return true;
            }
        }
        const std::string lastPicture =
            previous < 0 ? std::string("it has no pictures")
                         : "its last picture is frame " + std::to_string(previous);
        const std::string reason =
            stream.readFailure().empty() ? lastPicture : lastPicture + "; " + stream.readFailure();
        throw RunError(describe(wanted_[next].frame) + ": the movie ends before this frame (" +
                       reason + ")");
    }

private:
    std::string describe(long long frame) const
    {
        return request_.clip->describeFrame(static_cast<int>(frame));
    }

    void keep(const Wanted &wanted, const AVFrame &picture)
    {
        const std::string what = describe(wanted.frame);
        checkStoredSize(what, picture.width, picture.height, request_.format);
        for (const std::size_t index : wanted.indices) {
            const FrameTarget target = request_.target(index);
            converter_.convert(picture, what, target);
            if (request_.decoded) {
                request_.decoded(index, target);
            }
        }
    }

    const DecodeRequest &request_;
    std::vector<Wanted> wanted_;
    MovieFrameConverter converter_;
    long long done_ = 0;
};

} // namespace

void decodeMovie(const DecodeRequest &request)
{
    if (request.frames.empty()) {
        return;
    }
    std::vector<std::size_t> order(request.frames.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return request.frames[a] < request.frames[b];
    });
    std::vector<Wanted> wanted;
    for (const std::size_t index : order) {
        const long long frame = request.frames[index];
        if (wanted.empty() || wanted.back().frame != frame) {
            wanted.push_back({frame, {}});
        }
        wanted.back().indices.push_back(index);
    }
    if (wanted.front().frame < 0) {
        throw RunError(request.clip->describeFrame(static_cast<int>(wanted.front().frame)) +
                       ": no such frame");
    }
    if (request.cancelled()) {
        throw CancelledError();
    }
    // A seek that lands past the first requested frame is tried again further back, down to the
    // start of the movie.
    const long long first = wanted.front().frame;
    MoviePass pass(request, std::move(wanted));
    long long seekFrame = first;
    for (long long backoff = 8; !pass.run(seekFrame); backoff *= 2) {
        seekFrame = std::max(0LL, first - backoff);
    }
}

} // namespace framemeld::cli::movie
