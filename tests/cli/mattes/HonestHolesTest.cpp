// The two ways a plate pixel can look like a blend of codes without being one, and one way it
// can be one without looking like it, on single pixels whose plate the consensus oracle makes
// as the plug-in would.
#include "cli/mattes/HonestHoles.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/engine/ConsensusOracle.h"

using framemeld::mattes::HoldoutCodes;
using framemeld::mattes::HoleRowInput;
using framemeld::runner::PixelDepth;

namespace {

// One 8-bit pixel over the given samples, frame 0 held out (its sample replaced by its code).
struct OnePixel {
    std::vector<PF_Pixel8> samples;
    double divergence = 10.0;
    double ratingRange = 1.0;

    // The plate pixel as the plug-in makes it, then the tool's verdict; returns the holes.
    long run(PF_Pixel8 &plate) const
    {
        const HoldoutCodes codes(PixelDepth::Bits8, divergence);
        std::vector<PF_Pixel8> prepared = samples;
        prepared[0] = codes.code8(0);
        std::vector<Pixel<unsigned char>> strings;
        for (const PF_Pixel8 &p : prepared) {
            strings.push_back({p.red, p.green, p.blue, p.alpha});
        }
        FramemeldParameter parameter;
        parameter.divergence = static_cast<float>(divergence);
        parameter.ratingRange = static_cast<float>(ratingRange);
        parameter.frameCount = static_cast<int>(strings.size());
        const Pixel<unsigned char> mean =
            framemeld::oracle::consensusPixel(strings.data(), parameter);
        plate = PF_Pixel8{mean.alpha, mean.red, mean.green, mean.blue};

        std::vector<const unsigned char *> rows;
        std::vector<const std::uint8_t *> mattes;
        const std::uint8_t held = 1;
        for (const PF_Pixel8 &p : prepared) {
            rows.push_back(reinterpret_cast<const unsigned char *>(&p));
            mattes.push_back(rows.size() == 1 ? &held : nullptr);
        }
        HoleRowInput input;
        input.codes = &codes;
        input.ratingRange = ratingRange;
        input.frameCount = static_cast<int>(rows.size());
        input.width = 1;
        input.frameRows = rows.data();
        input.matteRows = mattes.data();
        return framemeld::mattes::makeHolesHonest(input, reinterpret_cast<unsigned char *>(&plate));
    }
};

TEST(HonestHoles, TransparentFootageThatAgreesWithItselfIsNoHole)
{
    // 99 transparent black samples win; the plain mean of all 100, the code's colours of 20
    // among them, truncates to transparent black too, so only the witnesses tell them apart.
    OnePixel pixel;
    pixel.samples.assign(100, PF_Pixel8{0, 0, 0, 0});
    PF_Pixel8 plate{};
    EXPECT_EQ(pixel.run(plate), 0);
}

TEST(HonestHoles, APlateThatIsThePlainMeanOfEverySampleIsAHole)
{
    // Two visible samples that agree, Rating Range 2: the code passes the cutoff with them.
    OnePixel pixel;
    pixel.ratingRange = 2.0;
    pixel.samples.assign(3, PF_Pixel8{255, 120, 80, 40});
    PF_Pixel8 plate{};
    EXPECT_EQ(pixel.run(plate), 1);
    EXPECT_EQ(plate.alpha + plate.red + plate.green + plate.blue, 0);
    pixel.samples.push_back(PF_Pixel8{255, 121, 80, 40}); // a third: the code stays out
    EXPECT_EQ(pixel.run(plate), 0);
    EXPECT_EQ(plate.red, 120);
}

TEST(HonestHoles, FootageThatAgreesWithAHeldOutCodeMakesAHole)
{
    // Straight-alpha footage, transparent, coloured like frame 0's code: the code collects
    // three partners and enters the mean although a lone outlier stays out, so the plate is no
    // plain mean and still carries the code.
    OnePixel pixel;
    pixel.ratingRange = 2.0;
    const PF_Pixel8 code = HoldoutCodes(PixelDepth::Bits8, pixel.divergence).code8(0);
    EXPECT_EQ(code.red, 20);
    pixel.samples.assign(1, PF_Pixel8{});
    pixel.samples.insert(pixel.samples.end(), 3, code);
    pixel.samples.insert(pixel.samples.end(), 5, PF_Pixel8{255, 90, 90, 90});
    pixel.samples.push_back(PF_Pixel8{255, 200, 200, 200});
    PF_Pixel8 plate{};
    EXPECT_EQ(pixel.run(plate), 1);
    EXPECT_EQ(plate.alpha + plate.red + plate.green + plate.blue, 0);
}

} // namespace
