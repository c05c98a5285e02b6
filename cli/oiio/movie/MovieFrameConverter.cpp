#include "cli/oiio/movie/MovieFrameConverter.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "cli/core/CliError.h"
#include "cli/pixels/PixelConversion.h"

namespace framemeld::cli::movie {

struct MovieFrameConverter::Layout {
    int width = 0;
    int height = 0;
    int sourceFormat = AV_PIX_FMT_NONE;
    int colourSpace = AVCOL_SPC_UNSPECIFIED;
    int range = AVCOL_RANGE_UNSPECIFIED;
    bool operator==(const Layout &other) const
    {
        return width == other.width && height == other.height &&
               sourceFormat == other.sourceFormat && colourSpace == other.colourSpace &&
               range == other.range;
    }
};

namespace {

// The "J" formats are their plain twins at full range; the scaler complains about them (on the
// terminal) unless it is told the range instead.
AVPixelFormat withoutJpegAlias(AVPixelFormat format, bool &fullRange)
{
    switch (format) {
    case AV_PIX_FMT_YUVJ420P: fullRange = true; return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: fullRange = true; return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: fullRange = true; return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: fullRange = true; return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P: fullRange = true; return AV_PIX_FMT_YUV411P;
    default: return format;
    }
}

// The matrix the movie is tagged with; untagged movies keep the scaler's default (BT.601), which
// is what they were read with before.
int matrixOf(int colourSpace)
{
    switch (colourSpace) {
    case AVCOL_SPC_BT709: return SWS_CS_ITU709;
    case AVCOL_SPC_FCC: return SWS_CS_FCC;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M: return SWS_CS_ITU601;
    case AVCOL_SPC_SMPTE240M: return SWS_CS_SMPTE240M;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: return SWS_CS_BT2020;
    default: return SWS_CS_DEFAULT;
    }
}

template <typename File, typename Host>
void rowsToHost(const AVFrame &rgb, const ChannelMap &map, const FrameTarget &target)
{
    for (int y = 0; y < rgb.height; ++y) {
        const auto *file = reinterpret_cast<const File *>(rgb.data[0] + y * rgb.linesize[0]);
        auto *host = reinterpret_cast<Host *>(target.pixels + y * target.rowBytes);
        fileRowToHost(file, map, rgb.width, host);
    }
}

// Planar 16-bit G, B, R (and A) rows, interleaved a row at a time so that the host gets them by
// the same conversion as interleaved files.
template <typename Host>
void planarRowsToHost(const AVFrame &planes, const ChannelMap &map, const FrameTarget &target)
{
    std::vector<std::uint16_t> row(static_cast<std::size_t>(planes.width) *
                                   static_cast<std::size_t>(map.fileChannels));
    const auto plane = [&](int index, int y) {
        return reinterpret_cast<const std::uint16_t *>(planes.data[index] +
                                                       y * planes.linesize[index]);
    };
    for (int y = 0; y < planes.height; ++y) {
        const std::uint16_t *green = plane(0, y);
        const std::uint16_t *blue = plane(1, y);
        const std::uint16_t *red = plane(2, y);
        const std::uint16_t *alpha = map.alpha >= 0 ? plane(3, y) : nullptr;
        std::uint16_t *out = row.data();
        for (int x = 0; x < planes.width; ++x) {
            *out++ = red[x];
            *out++ = green[x];
            *out++ = blue[x];
            if (alpha != nullptr) {
                *out++ = alpha[x];
            }
        }
        fileRowToHost(row.data(), map, planes.width,
                      reinterpret_cast<Host *>(target.pixels + y * target.rowBytes));
    }
}

// A planar RGB picture deeper than 8 bits (G, B, R and A planes of 9 to 16 bits), its samples
// scaled to 16 bits with rounding, straight from the decoder's planes.
template <typename Host>
void deepRgbToHost(const AVFrame &picture, const AVPixFmtDescriptor &described,
                   const ChannelMap &map, const FrameTarget &target)
{
    const int bits = described.comp[0].depth;
    const std::uint32_t top = (1u << bits) - 1u;
    const bool bigEndian = (described.flags & AV_PIX_FMT_FLAG_BE) != 0;
    std::vector<std::uint16_t> row(static_cast<std::size_t>(picture.width) *
                                   static_cast<std::size_t>(map.fileChannels));
    // The descriptor lists red, green, blue and alpha, each with the plane that holds it (a GBR
    // format keeps green in plane 0).
    const int planeOf[4] = {described.comp[0].plane, described.comp[1].plane,
                            described.comp[2].plane,
                            described.nb_components > 3 ? described.comp[3].plane : -1};
    const auto sample = [&](int plane, int x, int y) {
        const auto *bytes = picture.data[plane] + y * picture.linesize[plane] + 2 * x;
        const std::uint32_t raw = bigEndian ? (std::uint32_t{bytes[0]} << 8) | bytes[1]
                                            : (std::uint32_t{bytes[1]} << 8) | bytes[0];
        const std::uint32_t value = std::min(raw, top);
        return static_cast<std::uint16_t>((value * 65535u + top / 2) / top);
    };
    for (int y = 0; y < picture.height; ++y) {
        std::uint16_t *out = row.data();
        for (int x = 0; x < picture.width; ++x) {
            *out++ = sample(planeOf[0], x, y);
            *out++ = sample(planeOf[1], x, y);
            *out++ = sample(planeOf[2], x, y);
            if (map.alpha >= 0) {
                *out++ = sample(planeOf[3], x, y);
            }
        }
        fileRowToHost(row.data(), map, picture.width,
                      reinterpret_cast<Host *>(target.pixels + y * target.rowBytes));
    }
}

// Whether the picture is planar RGB deeper than 8 bits in 16-bit words (gbrp10, gbrap12, ...).
bool isDeepPlanarRgb(const AVPixFmtDescriptor &described)
{
    return (described.flags & AV_PIX_FMT_FLAG_RGB) != 0 &&
           (described.flags & AV_PIX_FMT_FLAG_PLANAR) != 0 &&
           (described.flags &
            (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_BITSTREAM)) == 0 &&
           described.nb_components >= 3 && described.comp[0].depth > 8 &&
           described.comp[0].depth <= 16 && described.comp[0].step == 2 &&
           described.comp[0].shift == 0;
}

// Copies host pixels turned clockwise by `rotation` degrees: a picture width x height becomes
// height x width at 90 and 270.
void turnInto(const unsigned char *from, std::size_t fromRowBytes, int width, int height,
              std::size_t pixelBytes, int rotation, const FrameTarget &target)
{
    for (int y = 0; y < height; ++y) {
        const unsigned char *source = from + static_cast<std::size_t>(y) * fromRowBytes;
        for (int x = 0; x < width; ++x) {
            int toX = x;
            int toY = y;
            switch (rotation) {
            case 90:
                toX = height - 1 - y;
                toY = x;
                break;
            case 180:
                toX = width - 1 - x;
                toY = height - 1 - y;
                break;
            case 270:
                toX = y;
                toY = width - 1 - x;
                break;
            default: break;
            }
            std::memcpy(target.pixels + toY * target.rowBytes +
                            static_cast<std::size_t>(toX) * pixelBytes,
                        source + static_cast<std::size_t>(x) * pixelBytes, pixelBytes);
        }
    }
}

template <typename Host>
void toHost(const AVFrame &rgb, const ChannelMap &map, const FrameTarget &target)
{
    if (rgb.format == AV_PIX_FMT_GBRP16 || rgb.format == AV_PIX_FMT_GBRAP16) {
        planarRowsToHost<Host>(rgb, map, target);
    } else {
        rowsToHost<std::uint8_t, Host>(rgb, map, target);
    }
}

} // namespace

MovieFrameConverter::MovieFrameConverter(Depth depth, bool withAlpha, int threads, int rotation)
    : depth_(depth), withAlpha_(withAlpha), threads_(threads < 1 ? 1 : threads), rotation_(rotation)
{}

MovieFrameConverter::~MovieFrameConverter()
{
    sws_freeContext(scaler_);
    av_frame_free(&rgb_);
}

void MovieFrameConverter::prepare(const AVFrame &picture, const std::string &what)
{
    Layout wanted;
    wanted.width = picture.width;
    wanted.height = picture.height;
    wanted.sourceFormat = picture.format;
    wanted.colourSpace = picture.colorspace;
    wanted.range = picture.color_range;
    if (layout_ && *layout_ == wanted) {
        return;
    }
    sws_freeContext(scaler_);
    scaler_ = nullptr;
    av_frame_free(&rgb_);
    layout_.reset();

    const auto failed = [&](const char *step) {
        return RunError(what + ": cannot convert the frame's pixels (" + step + ", format " +
                        (av_get_pix_fmt_name(static_cast<AVPixelFormat>(picture.format))
                             ? av_get_pix_fmt_name(static_cast<AVPixelFormat>(picture.format))
                             : "unknown") +
                        ")");
    };
    const AVPixFmtDescriptor *described =
        av_pix_fmt_desc_get(static_cast<AVPixelFormat>(picture.format));
    if (described == nullptr) {
        throw failed("unknown pixel format");
    }
    bool fullRange = picture.color_range == AVCOL_RANGE_JPEG;
    const AVPixelFormat source =
        withoutJpegAlias(static_cast<AVPixelFormat>(picture.format), fullRange);
    const bool deep = described->comp[0].depth > 8;
    const bool alpha = withAlpha_ && (described->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
    // Deep pictures go to planar 16-bit RGB: the scaler's packed 16-bit output runs about four
    // times slower (it looks up the pixel format's byte order for every sample) and repeats each
    // chroma sample where the planar one interpolates it.
    const AVPixelFormat rgb = deep ? (alpha ? AV_PIX_FMT_GBRAP16 : AV_PIX_FMT_GBRP16)
                                   : (alpha ? AV_PIX_FMT_RGBA : AV_PIX_FMT_RGB24);

    // SWS_AREA and no other flag: OpenImageIO's movie reader used it, so 8-bit movies give the
    // values they gave before. The picture is not resized, so the flag only picks how chroma is
    // brought up to full size.
    scaler_ = sws_alloc_context();
    if (scaler_ == nullptr) {
        throw failed("out of memory");
    }
    av_opt_set_int(scaler_, "srcw", picture.width, 0);
    av_opt_set_int(scaler_, "srch", picture.height, 0);
    av_opt_set_int(scaler_, "src_format", source, 0);
    av_opt_set_int(scaler_, "dstw", picture.width, 0);
    av_opt_set_int(scaler_, "dsth", picture.height, 0);
    av_opt_set_int(scaler_, "dst_format", rgb, 0);
    av_opt_set_int(scaler_, "sws_flags", SWS_AREA, 0);
    av_opt_set_int(scaler_, "threads", threads_, 0);
    if (sws_init_context(scaler_, nullptr, nullptr) < 0) {
        throw failed("no conversion to RGB");
    }
    if ((described->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) == 0 &&
        described->nb_components >= 3) {
        sws_setColorspaceDetails(scaler_, sws_getCoefficients(matrixOf(picture.colorspace)),
                                 fullRange ? 1 : 0, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0,
                                 1 << 16, 1 << 16);
    }
    rgb_ = av_frame_alloc();
    if (rgb_ == nullptr) {
        throw failed("out of memory");
    }
    rgb_->format = rgb;
    rgb_->width = picture.width;
    rgb_->height = picture.height;
    if (av_frame_get_buffer(rgb_, 0) < 0) {
        throw failed("out of memory");
    }
    layout_ = std::make_unique<Layout>(wanted);
}

void MovieFrameConverter::convert(const AVFrame &picture, const std::string &what,
                                  const FrameTarget &target)
{
    if (rotation_ == 0) {
        convertUpright(picture, what, target);
        return;
    }
    const std::size_t pixelBytes = runner::bytesPerPixel(depth_);
    const std::size_t rowBytes = static_cast<std::size_t>(picture.width) * pixelBytes;
    unturned_.resize(rowBytes * static_cast<std::size_t>(picture.height));
    convertUpright(picture, what,
                   FrameTarget{unturned_.data(), static_cast<std::ptrdiff_t>(rowBytes)});
    turnInto(unturned_.data(), rowBytes, picture.width, picture.height, pixelBytes, rotation_,
             target);
}

void MovieFrameConverter::convertUpright(const AVFrame &picture, const std::string &what,
                                         const FrameTarget &target)
{
    const AVPixFmtDescriptor *described =
        av_pix_fmt_desc_get(static_cast<AVPixelFormat>(picture.format));
    if (described != nullptr && isDeepPlanarRgb(*described)) {
        ChannelMap map;
        const bool alpha = withAlpha_ && described->nb_components > 3 &&
                           (described->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
        map.fileChannels = alpha ? 4 : 3;
        map.alpha = alpha ? 3 : -1;
        switch (depth_) {
        case Depth::Bits8: deepRgbToHost<std::uint8_t>(picture, *described, map, target); break;
        case Depth::Bits16: deepRgbToHost<std::uint16_t>(picture, *described, map, target); break;
        case Depth::Float32: deepRgbToHost<float>(picture, *described, map, target); break;
        }
        return;
    }
    prepare(picture, what);
    if (sws_scale_frame(scaler_, rgb_, &picture) < 0) {
        throw RunError(what + ": cannot convert the frame's pixels");
    }
    ChannelMap map;
    const bool alpha = rgb_->format == AV_PIX_FMT_GBRAP16 || rgb_->format == AV_PIX_FMT_RGBA;
    map.fileChannels = alpha ? 4 : 3;
    map.alpha = alpha ? 3 : -1;
    switch (depth_) {
    case Depth::Bits8: toHost<std::uint8_t>(*rgb_, map, target); break;
    case Depth::Bits16: toHost<std::uint16_t>(*rgb_, map, target); break;
    case Depth::Float32: toHost<float>(*rgb_, map, target); break;
    }
}

} // namespace framemeld::cli::movie
