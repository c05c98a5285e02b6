#include "cli/oiio/movie/MovieContainer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/display.h>
#include <libavutil/mathematics.h>
}

#include <cmath>
#include <cstring>
#include <vector>

#include "cli/core/CliError.h"
#include "cli/oiio/OiioClaims.h"

namespace framemeld::cli::movie {
namespace {

// Below this, FFmpeg itself reads on to be sure (AVPROBE_SCORE_RETRY); a container that scores
// no better on the first bytes is not taken for one.
constexpr int kLeastProbeScore = AVPROBE_SCORE_RETRY;

bool endsWith(const std::string &text, const char *tail)
{
    const std::size_t length = std::strlen(tail);
    return text.size() >= length && text.compare(text.size() - length, length, tail) == 0;
}

const uint8_t *displayMatrixOf(const AVStream *stream)
{
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(60, 29, 100)
    const AVPacketSideData *data =
        av_packet_side_data_get(stream->codecpar->coded_side_data,
                                stream->codecpar->nb_coded_side_data, AV_PKT_DATA_DISPLAYMATRIX);
    return data != nullptr && data->size >= 9 * 4 ? data->data : nullptr;
#else
    std::size_t size = 0;
    const uint8_t *data = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    return data != nullptr && size >= 9 * 4 ? data : nullptr;
#endif
}

} // namespace

std::string ffmpegError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

bool isMovieContent(const unsigned char *bytes, std::size_t size)
{
    std::vector<unsigned char> padded(size + AVPROBE_PADDING_SIZE, 0);
    std::memcpy(padded.data(), bytes, size);
    AVProbeData probe{};
    probe.buf = padded.data();
    probe.buf_size = static_cast<int>(size);
    probe.filename = "";
    int score = 0;
    const AVInputFormat *format = av_probe_input_format3(&probe, 1, &score);
    return format != nullptr && score >= kLeastProbeScore && !endsWith(format->name, "_pipe") &&
           std::strcmp(format->name, "image2") != 0;
}

int MovieContainer::interrupted(void *self)
{
    const auto *container = static_cast<const MovieContainer *>(self);
    return container->cancel_ != nullptr && container->cancel_->load() ? 1 : 0;
}

MovieContainer::MovieContainer(const std::string &path, const std::atomic<bool> *cancel)
    : path_(path), cancel_(cancel)
{
    AVFormatContext *opening = avformat_alloc_context();
    if (opening == nullptr) {
        throw RunError("out of memory for a movie");
    }
    opening->interrupt_callback.callback = &MovieContainer::interrupted;
    opening->interrupt_callback.opaque = this;
    // On failure avformat_open_input frees the context itself.
    int result = avformat_open_input(&opening, path.c_str(), nullptr, nullptr);
    if (result >= 0) {
        context_.reset(opening);
    }
    throwIfCancelled();
    if (result < 0) {
        throw RunError(path + ": cannot read the movie (" + ffmpegError(result) + ")");
    }
    result = avformat_find_stream_info(context_.get(), nullptr);
    throwIfCancelled();
    if (result < 0) {
        throw RunError(path + ": cannot read the movie (" + ffmpegError(result) + ")");
    }
    std::string others;
    for (unsigned i = 0; i < context_->nb_streams; ++i) {
        AVStream *candidate = context_->streams[i];
        const AVCodecParameters *codec = candidate->codecpar;
        const bool video = codec->codec_type == AVMEDIA_TYPE_VIDEO &&
                           (candidate->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0;
        if (video && stream_ == nullptr && avcodec_find_decoder(codec->codec_id) != nullptr) {
            stream_ = candidate;
            continue;
        }
        candidate->discard = AVDISCARD_ALL; // not even demuxed
        const char *kind = av_get_media_type_string(codec->codec_type);
        others += std::string(others.empty() ? "" : ", ") + (kind != nullptr ? kind : "data") +
                  " (" + avcodec_get_name(codec->codec_id) +
                  (video && stream_ == nullptr ? ", no decoder" : "") + ")";
    }
    if (stream_ == nullptr) {
        throw RunError(path + ": the movie has no video that FFmpeg decodes (" +
                       context_->iformat->name + " container" +
                       (others.empty() ? std::string(" with no streams") : " holding " + others) +
                       ")");
    }
    // Bare streams (raw MPEG-4, H.264) carry no time stamps: their frames cannot be placed.
    if ((context_->iformat->flags & AVFMT_NOTIMESTAMPS) != 0) {
        oiio::refuseUncountableMovie(path, 0, 0);
    }
    rate_ = av_guess_frame_rate(context_.get(), stream_, nullptr);
    oiio::refuseUncountableMovie(path, rate_.num, rate_.den);
    start_ = stream_->start_time == AV_NOPTS_VALUE ? 0 : stream_->start_time;
}

void MovieContainer::throwIfCancelled() const
{
    if (cancel_ != nullptr && cancel_->load()) {
        throw CancelledError();
    }
}

long long MovieContainer::frameAt(std::int64_t timestamp) const
{
    return av_rescale_q_rnd(timestamp - start_, stream_->time_base, av_inv_q(rate_),
                            static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
}

int MovieContainer::rotation() const
{
    const uint8_t *bytes = displayMatrixOf(stream_);
    if (bytes == nullptr) {
        return 0;
    }
    std::int32_t matrix[9];
    std::memcpy(matrix, bytes, sizeof matrix);
    // 16.16 fixed point; a negative determinant mirrors the picture.
    const double a = matrix[0] / 65536.0;
    const double b = matrix[1] / 65536.0;
    const double c = matrix[3] / 65536.0;
    const double d = matrix[4] / 65536.0;
    const double determinant = a * d - b * c;
    const double counterClockwise = av_display_rotation_get(matrix);
    double clockwise = std::isfinite(counterClockwise) ? -counterClockwise : 0.0;
    clockwise -= 360.0 * std::floor(clockwise / 360.0);
    const double quarter = std::round(clockwise / 90.0);
    if (determinant < 0 || !std::isfinite(counterClockwise) ||
        std::fabs(clockwise - quarter * 90.0) > 0.5) {
        char angle[32];
        std::snprintf(angle, sizeof angle, "%.3g", clockwise);
        throw RunError(path_ + ": the movie's display matrix " +
                       (determinant < 0
                            ? std::string("mirrors the picture")
                            : "turns the picture by " + std::string(angle) + " degrees") +
                       "; the tool turns pictures only by quarter turns (0, 90, 180 or 270 "
                       "degrees), so rewrite the movie upright first");
    }
    return static_cast<int>(quarter) % 4 * 90;
}

} // namespace framemeld::cli::movie
