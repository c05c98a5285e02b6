#include "cli/mattes/HonestHoles.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace framemeld::mattes {

namespace {

// The engine's store of a float mean into a byte: truncation into 0..255, NaN as 0.
A_u_char meanByte(float value)
{
    if (!(value > 0.0f)) {
        return 0;
    }
    if (value >= 255.0f) {
        return 255;
    }
    return static_cast<A_u_char>(value);
}

// The render's store of a float result into a 16-bit channel.
A_u_short meanDeep16(float value)
{
    if (!(value > 0.0f)) {
        return 0;
    }
    if (value >= 1.0f) {
        return 32768;
    }
    return static_cast<A_u_short>(value * 32768.0f);
}

bool finite(float value)
{
    return std::isfinite(value);
}

// Component sums in sample order, in float, as the engine's mean adds them; a float sample with
// a non-finite component never enters the engine's mean.
struct PlainMean {
    float sums[4] = {0.0f, 0.0f, 0.0f, 0.0f}; // red, green, blue, alpha
    float count = 0.0f;

    void add(float r, float g, float b, float a)
    {
        sums[0] += r;
        sums[1] += g;
        sums[2] += b;
        sums[3] += a;
        count += 1.0f;
    }
    void add(const PF_Pixel8 &p) { add(p.red, p.green, p.blue, p.alpha); }
    void add(const PF_Pixel16 &p)
    {
        add(engineValue(p.red), engineValue(p.green), engineValue(p.blue), engineValue(p.alpha));
    }
    void add(const PF_PixelFloat &p)
    {
        if (finite(p.red) && finite(p.green) && finite(p.blue) && finite(p.alpha)) {
            add(p.red, p.green, p.blue, p.alpha);
        }
    }
    float component(int c) const { return count == 0.0f ? 0.0f : sums[c] / count; }
};

bool equalsMean(const PlainMean &mean, const PF_Pixel8 &plate)
{
    return plate.red == meanByte(mean.component(0)) && plate.green == meanByte(mean.component(1)) &&
           plate.blue == meanByte(mean.component(2)) && plate.alpha == meanByte(mean.component(3));
}

bool equalsMean(const PlainMean &mean, const PF_Pixel16 &plate)
{
    return plate.red == meanDeep16(mean.component(0)) &&
           plate.green == meanDeep16(mean.component(1)) &&
           plate.blue == meanDeep16(mean.component(2)) &&
           plate.alpha == meanDeep16(mean.component(3));
}

bool sameFloat(float a, float b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

bool equalsMean(const PlainMean &mean, const PF_PixelFloat &plate)
{
    return sameFloat(plate.red, mean.component(0)) && sameFloat(plate.green, mean.component(1)) &&
           sameFloat(plate.blue, mean.component(2)) && sameFloat(plate.alpha, mean.component(3));
}

// Samples this close to the plate value in every component agree with one another: 2 x half
// stays below the tolerance, at 8 bits exactly, in float with room for the rounding of three
// subtractions.
class Witness {
public:
    explicit Witness(const AgreementTest &test)
        : byteHalf_(test.byteTolerance() > 0 ? (test.byteTolerance() - 1) / 2 : -1),
          floatHalf_(test.floatTolerance() > 0.0f ? test.floatTolerance() * 0.45f : -1.0f)
    {}

    bool near(const PF_Pixel8 &sample, const PF_Pixel8 &plate) const
    {
        return near(sample.red, plate.red) && near(sample.green, plate.green) &&
               near(sample.blue, plate.blue) && near(sample.alpha, plate.alpha);
    }
    bool near(const PF_Pixel16 &sample, const PF_Pixel16 &plate) const
    {
        return near(engineValue(sample.red), engineValue(plate.red)) &&
               near(engineValue(sample.green), engineValue(plate.green)) &&
               near(engineValue(sample.blue), engineValue(plate.blue)) &&
               near(engineValue(sample.alpha), engineValue(plate.alpha));
    }
    bool near(const PF_PixelFloat &sample, const PF_PixelFloat &plate) const
    {
        return near(sample.red, plate.red) && near(sample.green, plate.green) &&
               near(sample.blue, plate.blue) && near(sample.alpha, plate.alpha);
    }

private:
    bool near(int a, int b) const { return (a > b ? a - b : b - a) <= byteHalf_; }
    bool near(float a, float b) const { return std::fabs(a - b) <= floatHalf_; }

    int byteHalf_;
    float floatHalf_;
};

template <class HostPixel> long holesInRow(const HoleRowInput &input, unsigned char *plateRow)
{
    const HoldoutCodes &codes = *input.codes;
    const int n = input.frameCount;
    const float ratingRange = static_cast<float>(input.ratingRange);
    const Witness witness(codes.test());
    HostPixel *plate = reinterpret_cast<HostPixel *>(plateRow);
    std::vector<std::uint8_t> heldOutStore(static_cast<std::size_t>(n));
    std::vector<const HostPixel *> frameStore(static_cast<std::size_t>(n));
    std::uint8_t *const heldOut = heldOutStore.data();
    const HostPixel **const frames = frameStore.data();
    for (int k = 0; k < n; ++k) {
        frames[k] = reinterpret_cast<const HostPixel *>(input.frameRows[k]);
    }
    long holes = 0;
    for (int x = 0; x < input.width; ++x) {
        int heldCount = 0;
        for (int k = 0; k < n; ++k) {
            const std::uint8_t *matte = input.matteRows[k];
            heldOut[k] = matte != nullptr && matte[x] != 0 ? 1 : 0;
            heldCount += heldOut[k];
        }
        if (heldCount == 0) {
            continue;
        }
        bool hole = false;
        PlainMean mean;
        int near = 0;
        for (int k = 0; k < n && !hole; ++k) {
            if (heldOut[k] != 0) {
                mean.add(codes.code<HostPixel>(k));
                continue;
            }
            const HostPixel &sample = frames[k][x];
            hole = codes.agreesWithHeldOutCode(sample, heldOut, n);
            mean.add(sample);
            near += witness.near(sample, plate[x]) ? 1 : 0;
        }
        if (!hole && equalsMean(mean, plate[x])) {
            // The engine's own comparison of a rating with its cutoff.
            hole = !(static_cast<float>(near) - ratingRange >= 1.0f);
        }
        if (hole) {
            std::memset(&plate[x], 0, sizeof(HostPixel));
            ++holes;
        }
    }
    return holes;
}

} // namespace

long makeHolesHonest(const HoleRowInput &input, unsigned char *plateRow)
{
    if (input.matteRows == nullptr) {
        return 0; // nothing held out anywhere
    }
    switch (input.codes->depth()) {
    case runner::PixelDepth::Bits8: return holesInRow<PF_Pixel8>(input, plateRow);
    case runner::PixelDepth::Bits16: return holesInRow<PF_Pixel16>(input, plateRow);
    case runner::PixelDepth::Float32: return holesInRow<PF_PixelFloat>(input, plateRow);
    }
    return 0;
}

} // namespace framemeld::mattes
