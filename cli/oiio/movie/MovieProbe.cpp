#include "cli/oiio/movie/MovieProbe.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cstring>
#include <memory>

#include "cli/core/CliError.h"
#include "cli/oiio/OiioClaims.h"
#include "cli/oiio/movie/MovieContainer.h"

namespace framemeld::cli::movie {
namespace {

struct PacketFreer {
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};

// MOV and MP4 index every sample when the file is opened, and mark those an edit list leaves out.
bool hasWholeIndex(const AVFormatContext &context)
{
    return std::strncmp(context.iformat->name, "mov,", 4) == 0;
}

long long countFromIndex(AVStream *stream)
{
    const int entries = avformat_index_get_entries_count(stream);
    long long shown = 0;
    for (int i = 0; i < entries; ++i) {
        const AVIndexEntry *entry = avformat_index_get_entry(stream, i);
        if (entry != nullptr && (entry->flags & AVINDEX_DISCARD_FRAME) == 0) {
            ++shown;
        }
    }
    return shown;
}

// Frames are numbered by their time stamps, as the decoder numbers them (see MovieReader), so
// the last one's number sets the count; packets without time stamps count one frame each.
long long countFromPackets(const MovieContainer &movie)
{
    std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    if (!packet) {
        throw RunError("out of memory for a movie packet");
    }
    long long packets = 0;
    long long lastFrame = -1;
    for (;;) {
        const int result = av_read_frame(movie.context(), packet.get());
        movie.throwIfCancelled();
        if (result < 0) {
            break; // the end, or a cut: what was read is what a decode will find
        }
        if (packet->stream_index == movie.stream()->index &&
            (packet->flags & AV_PKT_FLAG_DISCARD) == 0) {
            ++packets;
            const std::int64_t stamp = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            if (stamp != AV_NOPTS_VALUE) {
                lastFrame = std::max(lastFrame, movie.frameAt(stamp));
            }
        }
        av_packet_unref(packet.get());
    }
    return lastFrame >= 0 ? lastFrame + 1 : packets;
}

} // namespace

FootageFormat probeMovieFormat(const std::string &path, const std::atomic<bool> *cancel)
{
    const MovieContainer movie(path, cancel);
    const AVCodecParameters &codec = *movie.stream()->codecpar;
    const AVPixFmtDescriptor *pixels =
        av_pix_fmt_desc_get(static_cast<AVPixelFormat>(codec.format));
    if (codec.width <= 0 || codec.height <= 0 || pixels == nullptr) {
        throw RunError(path +
                       ": cannot read the movie (FFmpeg finds no picture size or pixel "
                       "format for its " +
                       avcodec_get_name(codec.codec_id) + " video)");
    }
    FootageFormat format;
    format.rotation = movie.rotation();
    const bool sideways = format.rotation == 90 || format.rotation == 270;
    format.width = sideways ? codec.height : codec.width;
    format.height = sideways ? codec.width : codec.height;
    format.hasAlpha = (pixels->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
    // FFmpeg's pixel formats with alpha (ProRes 4444, PNG and QuickTime Animation in MOV) hold
    // straight colour.
    format.unassociatedAlpha = format.hasAlpha;
    format.channels = format.hasAlpha ? 4 : 3;
    // Deeper than 8 bits: decoded to 16, so 10- and 12-bit samples keep their steps.
    const bool deep = pixels->comp[0].depth > 8;
    format.naturalDepth = deep ? Depth::Bits16 : Depth::Bits8;
    format.sampleType = deep ? "uint16" : "uint8";
    return format;
}

long long countMovieFrames(const std::string &path, const std::atomic<bool> *cancel)
{
    const MovieContainer movie(path, cancel);
    long long frames = hasWholeIndex(*movie.context()) ? countFromIndex(movie.stream()) : 0;
    if (frames <= 0) {
        frames = countFromPackets(movie);
    }
    if (frames <= 0) {
        throw RunError(path + ": the movie has no video frames");
    }
    oiio::refuseUnbackedFrameCount(path, frames);
    return frames;
}

} // namespace framemeld::cli::movie
