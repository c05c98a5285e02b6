#pragma once
// A transform of colour values, as the working space applies them to every frame before the
// plug-in sees it and to the plate after: the tool's own log curve, or a transform between two
// colour spaces of an OpenColorIO configuration, which the OpenImageIO module builds (it holds the
// library) and hands over through this interface.

#include <cstddef>

namespace framemeld::cli {

class ColourTransform {
public:
    virtual ~ColourTransform() = default;

    // Transforms `count` pixels in place: the red, green and blue of each are three floats in a
    // row from `red`, `stride` floats apart from one pixel to the next; whatever lies between
    // (alpha) is left alone. Safe to call from several threads at once.
    virtual void apply(float *red, std::size_t count, std::ptrdiff_t stride) const = 0;

    // Whether each channel's result depends on that channel alone (a curve, not a matrix), so
    // that a table of every integer level can stand in for it.
    virtual bool perChannel() const = 0;
};

} // namespace framemeld::cli
