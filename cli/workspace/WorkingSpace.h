#pragma once
// The values the consensus compares and averages. The plug-in's Divergence is one absolute
// tolerance for the whole frame, so what a difference of one unit means depends on how the
// frames encode light: in scene-linear float footage a tolerance that fits the highlights' noise
// is wider than a whole shadow. A working space other than `linear` encodes every frame before
// the plug-in reads it and decodes the plate after, so the consensus runs in that encoding and the
// Divergence is measured and given in its units; a host reproduces the plate with the same
// encoding applied before the effect and its inverse after, at the same depth.
//
// The encoding is pure pixel work, a row at a time, on host pixels at the render depth (alpha
// first, then red, green, blue; 8 bits 0..255, 16 bits 0..32768, float as it is): colour is
// encoded, alpha is left as it is. At 8 and 16 bits the encoded values are clipped to 0..1 and
// rounded to the depth, as an effect at that depth in the host would; float keeps every value.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "cli/core/ColourTransform.h"
#include "runner/World.h"

namespace framemeld::cli {

// What the noise and the tolerance are said in: `name` ("levels of 255", "stops", ...) and how
// many of them full scale of the encoded values is.
struct WorkingSpaceUnits {
    std::string name;
    double perFullScale = 1.0;
};

class WorkingSpace {
public:
    enum class Kind { Linear, Log, ColourSpace };

    // The footage's values as they are.
    static WorkingSpace linear(runner::PixelDepth depth);
    // The log curve of LogCurve.h.
    static WorkingSpace log(runner::PixelDepth depth);
    // A colour space by name, through `encode` (footage to it) and `decode` (back).
    static WorkingSpace colourSpace(const std::string &name, runner::PixelDepth depth,
                                    std::shared_ptr<const ColourTransform> encode,
                                    std::shared_ptr<const ColourTransform> decode);

    Kind kind() const { return kind_; }
    // "linear", "log", or the colour space's name.
    const std::string &name() const { return name_; }
    runner::PixelDepth depth() const { return depth_; }
    bool changesPixels() const { return kind_ != Kind::Linear; }
    WorkingSpaceUnits units() const;

    // Encode or decode `rows` rows of `width` host pixels at depth(), `rowBytes` apart, in place.
    // Safe to call from several threads at once.
    void encodeRows(unsigned char *pixels, std::ptrdiff_t rowBytes, int width, int rows) const;
    void decodeRows(unsigned char *pixels, std::ptrdiff_t rowBytes, int width, int rows) const;
    // The same over a whole world of depth().
    void encode(runner::World &world) const;
    void decode(runner::World &world) const;

private:
    // A curve of one value, in double precision, for the tables of a transform per channel.
    using Curve = double (*)(double);

    WorkingSpace(Kind kind, std::string name, runner::PixelDepth depth,
                 std::shared_ptr<const ColourTransform> encode,
                 std::shared_ptr<const ColourTransform> decode, Curve exactEncode = nullptr,
                 Curve exactDecode = nullptr);

    // One direction: the transform, and at 8 and 16 bits, for a transform per channel, the
    // table of what every level becomes (from `exact` where given, which rounds every level
    // right at 16 bits, where single precision is a thousandth of a level off).
    struct Direction {
        std::shared_ptr<const ColourTransform> transform;
        std::vector<unsigned short> levels;
    };
    Direction direction(std::shared_ptr<const ColourTransform> transform, Curve exact) const;
    void run(const Direction &direction, unsigned char *pixels, std::ptrdiff_t rowBytes, int width,
             int rows) const;

    Kind kind_;
    std::string name_;
    runner::PixelDepth depth_;
    Direction encode_;
    Direction decode_;
};

} // namespace framemeld::cli
