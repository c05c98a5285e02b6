#include "cli/workspace/WorkingSpace.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "cli/workspace/LogCurve.h"

namespace framemeld::cli {
namespace {

using runner::PixelDepth;

// An encoded value at an integer depth: clipped to 0..1 and rounded, as the host stores it.
template <class Channel> Channel toLevel(float value, double fullScale)
{
    const double clipped =
        std::isnan(value) ? 0.0 : std::clamp(static_cast<double>(value), 0.0, 1.0);
    return static_cast<Channel>(std::lround(clipped * fullScale));
}

template <class Pixel>
void throughTable(const std::vector<unsigned short> &levels, unsigned char *pixels,
                  std::ptrdiff_t rowBytes, int width, int rows)
{
    using Channel = decltype(Pixel::red);
    // Levels above full scale (which no decoder makes) count as full scale.
    const std::size_t top = levels.size() - 1;
    const auto mapped = [&levels, top](Channel level) {
        return static_cast<Channel>(levels[std::min<std::size_t>(level, top)]);
    };
    for (int y = 0; y < rows; ++y) {
        auto *row = reinterpret_cast<Pixel *>(pixels + y * rowBytes);
        for (int x = 0; x < width; ++x) {
            row[x].red = mapped(row[x].red);
            row[x].green = mapped(row[x].green);
            row[x].blue = mapped(row[x].blue);
        }
    }
}

// A transform that mixes channels, at an integer depth: each row through floats and back.
template <class Pixel>
void throughFloats(const ColourTransform &transform, unsigned char *pixels, std::ptrdiff_t rowBytes,
                   int width, int rows, double fullScale)
{
    using Channel = decltype(Pixel::red);
    std::vector<float> rgb(static_cast<std::size_t>(width) * 3);
    const auto scale = static_cast<float>(1.0 / fullScale);
    for (int y = 0; y < rows; ++y) {
        auto *row = reinterpret_cast<Pixel *>(pixels + y * rowBytes);
        for (int x = 0; x < width; ++x) {
            float *at = &rgb[static_cast<std::size_t>(x) * 3];
            at[0] = static_cast<float>(row[x].red) * scale;
            at[1] = static_cast<float>(row[x].green) * scale;
            at[2] = static_cast<float>(row[x].blue) * scale;
        }
        transform.apply(rgb.data(), static_cast<std::size_t>(width), 3);
        for (int x = 0; x < width; ++x) {
            const float *at = &rgb[static_cast<std::size_t>(x) * 3];
            row[x].red = toLevel<Channel>(at[0], fullScale);
            row[x].green = toLevel<Channel>(at[1], fullScale);
            row[x].blue = toLevel<Channel>(at[2], fullScale);
        }
    }
}

} // namespace

WorkingSpace::WorkingSpace(Kind kind, std::string name, PixelDepth depth,
                           std::shared_ptr<const ColourTransform> encode,
                           std::shared_ptr<const ColourTransform> decode, Curve exactEncode,
                           Curve exactDecode)
    : kind_(kind), name_(std::move(name)), depth_(depth)
{
    if (kind != Kind::Linear && (!encode || !decode)) {
        throw std::invalid_argument("a working space needs both of its transforms");
    }
    encode_ = direction(std::move(encode), exactEncode);
    decode_ = direction(std::move(decode), exactDecode);
}

WorkingSpace WorkingSpace::linear(PixelDepth depth)
{
    return WorkingSpace(Kind::Linear, "linear", depth, nullptr, nullptr);
}

WorkingSpace WorkingSpace::log(PixelDepth depth)
{
    return WorkingSpace(Kind::Log, "log", depth, logEncoding(), logDecoding(), logEncode,
                        logDecode);
}

WorkingSpace WorkingSpace::colourSpace(const std::string &name, PixelDepth depth,
                                       std::shared_ptr<const ColourTransform> encode,
                                       std::shared_ptr<const ColourTransform> decode)
{
    return WorkingSpace(Kind::ColourSpace, name, depth, std::move(encode), std::move(decode));
}

WorkingSpaceUnits WorkingSpace::units() const
{
    if (kind_ == Kind::Log) {
        return {"stops", kLogStopsPerUnit};
    }
    if (depth_ != PixelDepth::Float32) {
        return {"levels of 255", 255.0};
    }
    return {kind_ == Kind::Linear ? "linear" : "code values", 1.0};
}

WorkingSpace::Direction WorkingSpace::direction(std::shared_ptr<const ColourTransform> transform,
                                                Curve exact) const
{
    Direction made;
    made.transform = std::move(transform);
    if (made.transform && depth_ != PixelDepth::Float32 && made.transform->perChannel()) {
        const double fullScale = runner::channelFullScale(depth_);
        const auto top = static_cast<std::size_t>(fullScale);
        made.levels.resize(top + 1);
        if (exact != nullptr) {
            for (std::size_t level = 0; level <= top; ++level) {
                const double value = exact(static_cast<double>(level) / fullScale);
                const double clipped = std::isnan(value) ? 0.0 : std::clamp(value, 0.0, 1.0);
                made.levels[level] = static_cast<unsigned short>(std::lround(clipped * fullScale));
            }
            return made;
        }
        std::vector<float> rgb((top + 1) * 3);
        for (std::size_t level = 0; level <= top; ++level) {
            for (std::size_t c = 0; c < 3; ++c) {
                rgb[level * 3 + c] = static_cast<float>(static_cast<double>(level) / fullScale);
            }
        }
        made.transform->apply(rgb.data(), top + 1, 3);
        for (std::size_t level = 0; level <= top; ++level) {
            made.levels[level] = toLevel<unsigned short>(rgb[level * 3], fullScale);
        }
    }
    return made;
}

void WorkingSpace::run(const Direction &direction, unsigned char *pixels, std::ptrdiff_t rowBytes,
                       int width, int rows) const
{
    if (!direction.transform || width <= 0 || rows <= 0) {
        return;
    }
    switch (depth_) {
    case PixelDepth::Bits8:
        if (!direction.levels.empty()) {
            throughTable<PF_Pixel8>(direction.levels, pixels, rowBytes, width, rows);
        } else {
            throughFloats<PF_Pixel8>(*direction.transform, pixels, rowBytes, width, rows, 255.0);
        }
        break;
    case PixelDepth::Bits16:
        if (!direction.levels.empty()) {
            throughTable<PF_Pixel16>(direction.levels, pixels, rowBytes, width, rows);
        } else {
            throughFloats<PF_Pixel16>(*direction.transform, pixels, rowBytes, width, rows,
                                      runner::channelFullScale(depth_));
        }
        break;
    case PixelDepth::Float32:
        for (int y = 0; y < rows; ++y) {
            auto *row = reinterpret_cast<PF_PixelFloat *>(pixels + y * rowBytes);
            direction.transform->apply(&row[0].red, static_cast<std::size_t>(width),
                                       sizeof(PF_PixelFloat) / sizeof(float));
        }
        break;
    }
}

void WorkingSpace::encodeRows(unsigned char *pixels, std::ptrdiff_t rowBytes, int width,
                              int rows) const
{
    run(encode_, pixels, rowBytes, width, rows);
}

void WorkingSpace::decodeRows(unsigned char *pixels, std::ptrdiff_t rowBytes, int width,
                              int rows) const
{
    run(decode_, pixels, rowBytes, width, rows);
}

void WorkingSpace::encode(runner::World &world) const
{
    if (world.depth() != depth_) {
        throw std::invalid_argument("the world is not at the working space's depth");
    }
    encodeRows(world.row(0), world.rowStride(), world.width(), world.height());
}

void WorkingSpace::decode(runner::World &world) const
{
    if (world.depth() != depth_) {
        throw std::invalid_argument("the world is not at the working space's depth");
    }
    decodeRows(world.row(0), world.rowStride(), world.width(), world.height());
}

} // namespace framemeld::cli
