#include "cli/pixels/PixelConversion.h"
#include "cli/pixels/ByteRowVector.h"
#include "cli/pixels/HalfRowVector.h"

#include <gtest/gtest.h>

#include <OpenImageIO/imageio.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <utility>
#include <vector>

using namespace framemeld::cli;

namespace {

TEST(SixteenBitScale, MapsFileRangeOntoTheHostsWithRounding)
{
    EXPECT_EQ(fileToHost16(0), 0);
    EXPECT_EQ(fileToHost16(65535), 32768);
    EXPECT_EQ(fileToHost16(1), 1);         // 0.50001 rounds up
    EXPECT_EQ(fileToHost16(32767), 16384); // 16383.75 -> 16384
    for (std::uint32_t v = 0; v <= 65535; ++v) {
        // The shortcut against the general rounding formula, for every value.
        ASSERT_EQ(fileToHost16(static_cast<std::uint16_t>(v)),
                  (toHostSample<std::uint16_t, std::uint16_t>(static_cast<std::uint16_t>(v))))
            << v;
    }
    EXPECT_EQ(hostToFile16(32768), 65535);
    EXPECT_EQ(hostToFile16(16384), 32768); // 32767.5 rounds up
    EXPECT_EQ(hostToFile16(40000), 65535); // past the host's full scale: clipped

    int worstRoundTrip = 0;
    std::uint16_t previous = 0;
    for (std::uint32_t v = 0; v <= 65535; ++v) {
        const std::uint16_t host = fileToHost16(static_cast<std::uint16_t>(v));
        ASSERT_GE(host, previous) << "not monotonic at " << v;
        previous = host;
        const int back = hostToFile16(host);
        worstRoundTrip = std::max(worstRoundTrip, std::abs(back - static_cast<int>(v)));
    }
    // One host step is about two file steps; going there and back costs at most one file step.
    EXPECT_EQ(worstRoundTrip, 1);

    // Every host value survives being written to a file and read again.
    for (std::uint32_t h = 0; h <= 32768; ++h) {
        ASSERT_EQ(fileToHost16(hostToFile16(static_cast<std::uint16_t>(h))), h);
    }
}

TEST(OtherDepths, MapFullScaleOntoFullScaleAndClipFloats)
{
    EXPECT_EQ((toHostSample<std::uint8_t, std::uint16_t>(255)), 32768);
    EXPECT_EQ((toHostSample<std::uint8_t, std::uint16_t>(128)), 16448); // 16448.25
    EXPECT_EQ((toHostSample<std::uint8_t, float>(51)), 51 / 255.0f);
    EXPECT_EQ((toHostSample<std::uint16_t, std::uint8_t>(65535)), 255);
    EXPECT_EQ((toHostSample<std::uint16_t, std::uint8_t>(32896)), 128);
    EXPECT_EQ((toHostSample<std::uint16_t, std::uint8_t>(128)), 0); // 0.498
    EXPECT_EQ((toHostSample<std::uint16_t, float>(65535)), 1.0f);
    EXPECT_EQ((toHostSample<float, std::uint8_t>(0.5f)), 128); // 127.5, halves up
    EXPECT_EQ((toHostSample<float, std::uint8_t>(-0.1f)), 0);
    EXPECT_EQ((toHostSample<float, std::uint8_t>(7.0f)), 255);
    EXPECT_EQ((toHostSample<float, std::uint8_t>(std::nanf(""))), 0);
    EXPECT_EQ((toHostSample<float, std::uint16_t>(0.5f)), 16384);
    EXPECT_EQ((toHostSample<float, std::uint16_t>(1.0f)), 32768);
    EXPECT_EQ((toHostSample<float, float>(-3.5f)), -3.5f);
    // The same-depth cases are the plain ones.
    for (int v = 0; v < 256; ++v) {
        ASSERT_EQ((toHostSample<std::uint8_t, std::uint8_t>(static_cast<std::uint8_t>(v))), v);
    }
    for (std::uint32_t v = 0; v <= 65535; v += 7) {
        const auto value = static_cast<std::uint16_t>(v);
        ASSERT_EQ((toHostSample<std::uint16_t, std::uint16_t>(value)), fileToHost16(value));
    }
}

TEST(ChannelMap, FindsColourAndAlphaInCommonLayouts)
{
    const ChannelMap grey = channelMapFor(1, -1);
    EXPECT_EQ(grey.red, 0);
    EXPECT_EQ(grey.green, 0);
    EXPECT_EQ(grey.blue, 0);
    EXPECT_EQ(grey.alpha, -1);

    const ChannelMap greyAlpha = channelMapFor(2, 1);
    EXPECT_EQ(greyAlpha.blue, 0);
    EXPECT_EQ(greyAlpha.alpha, 1);

    const ChannelMap rgba = channelMapFor(4, 3);
    EXPECT_EQ(rgba.red, 0);
    EXPECT_EQ(rgba.blue, 2);
    EXPECT_EQ(rgba.alpha, 3);

    const ChannelMap alphaFirst = channelMapFor(4, 0);
    EXPECT_EQ(alphaFirst.red, 1);
    EXPECT_EQ(alphaFirst.blue, 3);
    EXPECT_EQ(alphaFirst.alpha, 0);

    const ChannelMap fourWithoutAlpha = channelMapFor(4, -1); // e.g. RGB and a depth channel
    EXPECT_EQ(fourWithoutAlpha.blue, 2);
    EXPECT_EQ(fourWithoutAlpha.alpha, -1);
}

TEST(RowConversion, ReordersToAlphaFirstAndFillsMissingAlpha)
{
    const std::uint8_t rgb[] = {10, 20, 30, 40, 50, 60};
    std::uint8_t host8[8] = {};
    fileRowToHost(rgb, channelMapFor(3, -1), 2, host8);
    EXPECT_EQ(std::vector<std::uint8_t>(host8, host8 + 8),
              (std::vector<std::uint8_t>{255, 10, 20, 30, 255, 40, 50, 60}));
    const std::uint8_t rgba[] = {1, 2, 3, 4, 5, 6, 7, 8};
    fileRowToHost(rgba, channelMapFor(4, 3), 2, host8);
    EXPECT_EQ(std::vector<std::uint8_t>(host8, host8 + 8),
              (std::vector<std::uint8_t>{4, 1, 2, 3, 8, 5, 6, 7}));

    const std::uint16_t rgba16[] = {65535, 0, 32767, 65535};
    std::uint16_t host16[4] = {};
    fileRowToHost(rgba16, channelMapFor(4, 3), 1, host16);
    EXPECT_EQ(std::vector<std::uint16_t>(host16, host16 + 4),
              (std::vector<std::uint16_t>{32768, 32768, 0, 16384}));

    const float greyAlpha[] = {-0.25f, 0.5f, 2.0f, 0.0f}; // floats pass unclipped
    float hostFloat[8] = {};
    fileRowToHost(greyAlpha, channelMapFor(2, 1), 2, hostFloat);
    EXPECT_EQ(std::vector<float>(hostFloat, hostFloat + 8),
              (std::vector<float>{0.5f, -0.25f, -0.25f, -0.25f, 0.0f, 2.0f, 2.0f, 2.0f}));

    std::uint16_t opaque16[4] = {};
    fileRowToHost(rgba16, channelMapFor(3, -1), 1, opaque16);
    EXPECT_EQ(opaque16[0], 32768) << "opaque is the host's 16-bit full scale";
}

TEST(RowConversion, WritesRgbOrRgbaBack)
{
    const std::uint8_t host[] = {128, 1, 2, 3, 255, 4, 5, 6};
    std::uint8_t rgb[6] = {};
    hostRowToFile(host, 2, 3, rgb);
    EXPECT_EQ(std::vector<std::uint8_t>(rgb, rgb + 6),
              (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6}));
    std::uint8_t rgba[8] = {};
    hostRowToFile(host, 2, 4, rgba);
    EXPECT_EQ(std::vector<std::uint8_t>(rgba, rgba + 8),
              (std::vector<std::uint8_t>{1, 2, 3, 128, 4, 5, 6, 255}));

    const std::uint16_t host16[] = {32768, 16384, 1, 0};
    std::uint16_t rgba16[4] = {};
    hostRowToFile(host16, 1, 4, rgba16);
    EXPECT_EQ(std::vector<std::uint16_t>(rgba16, rgba16 + 4),
              (std::vector<std::uint16_t>{32768, 2, 0, 65535}));
}

} // namespace

// Rows of 8-bit samples take a faster route than single samples; it must give the same values.
template <typename Host> void expectEveryEightBitValueAsSingleSamples()
{
    std::vector<std::uint8_t> grey(256);
    for (unsigned v = 0; v < 256; ++v) {
        grey[v] = static_cast<std::uint8_t>(v);
    }
    std::vector<Host> host(256 * 4);
    fileRowToHost(grey.data(), channelMapFor(1, -1), 256, host.data());
    for (unsigned v = 0; v < 256; ++v) {
        const Host expected = toHostSample<std::uint8_t, Host>(static_cast<std::uint8_t>(v));
        EXPECT_EQ(host[v * 4 + 1], expected) << v;
        EXPECT_EQ(host[v * 4 + 3], expected) << v;
    }
    std::vector<std::uint8_t> greyAlpha(512);
    for (unsigned v = 0; v < 256; ++v) {
        greyAlpha[2 * v] = static_cast<std::uint8_t>(v);
        greyAlpha[2 * v + 1] = static_cast<std::uint8_t>(255 - v);
    }
    fileRowToHost(greyAlpha.data(), channelMapFor(2, 1), 256, host.data());
    for (unsigned v = 0; v < 256; ++v) {
        EXPECT_EQ(host[v * 4],
                  (toHostSample<std::uint8_t, Host>(static_cast<std::uint8_t>(255 - v))))
            << v;
    }
}

TEST(RowConversion, EightBitRowsGiveWhatSingleSamplesGive)
{
    expectEveryEightBitValueAsSingleSamples<std::uint8_t>();
    expectEveryEightBitValueAsSingleSamples<std::uint16_t>();
    expectEveryEightBitValueAsSingleSamples<float>();
}

// Every half value, against OpenImageIO's own widening (with Imath, what EXR files are read by).
TEST(HalfSamples, WidenExactlyAsOpenImageIODoes)
{
    std::vector<std::uint16_t> bits(65536);
    for (std::uint32_t v = 0; v < 65536; ++v) {
        bits[v] = static_cast<std::uint16_t>(v);
    }
    std::vector<float> theirs(65536);
    ASSERT_TRUE(OIIO::convert_pixel_values(OIIO::TypeDesc::HALF, bits.data(), OIIO::TypeDesc::FLOAT,
                                           theirs.data(), 65536));
    int differences = 0;
    for (std::uint32_t v = 0; v < 65536; ++v) {
        const float ours = halfToFloat(bits[v]);
        const float imath = theirs[v];
        const bool same = std::isnan(imath)
                              ? std::isnan(ours) && std::signbit(ours) == std::signbit(imath)
                              : std::memcmp(&ours, &imath, sizeof ours) == 0;
        if (!same && ++differences <= 5) {
            ADD_FAILURE() << "half 0x" << std::hex << v << ": " << ours << " against " << imath;
        }
    }
    EXPECT_EQ(differences, 0);
}

// Half rows in every layout the row converter tells apart give what single samples give.
template <typename Host> void expectHalfRowsAsSingleSamples()
{
    constexpr int kPixels = 4096;
    for (const auto &[channels, alpha] :
         std::vector<std::pair<int, int>>{{1, -1}, {2, 1}, {3, -1}, {4, 3}, {5, 3}, {4, 0}}) {
        std::vector<std::uint16_t> file(static_cast<std::size_t>(kPixels * channels));
        for (std::size_t i = 0; i < file.size(); ++i) {
            file[i] =
                static_cast<std::uint16_t>((i * 40503u + 7u) & 0xffffu); // every kind of value
        }
        const ChannelMap map = channelMapFor(channels, alpha);
        std::vector<Host> host(kPixels * 4);
        halfRowToHost(file.data(), map, kPixels, host.data());
        int differences = 0;
        for (int x = 0; x < kPixels; ++x) {
            const std::uint16_t *s = file.data() + x * channels;
            auto want = [&](int channel) {
                return toHostSample<float, Host>(halfToFloat(s[channel]));
            };
            const Host expected[4] = {alpha < 0
                                          ? (std::is_same_v<Host, std::uint8_t>    ? Host(255)
                                             : std::is_same_v<Host, std::uint16_t> ? Host(32768)
                                                                                   : Host(1))
                                          : want(map.alpha),
                                      want(map.red), want(map.green), want(map.blue)};
            for (int c = 0; c < 4; ++c) {
                const Host got = host[static_cast<std::size_t>(x * 4 + c)];
                const bool same =
                    got == expected[c] || (std::isnan(static_cast<float>(got)) &&
                                           std::isnan(static_cast<float>(expected[c])));
                if (!same && ++differences <= 3) {
                    ADD_FAILURE() << channels << " channels, pixel " << x << " component " << c;
                }
            }
        }
        EXPECT_EQ(differences, 0) << channels << " channels, alpha " << alpha;
    }
}

TEST(RowConversion, HalfRowsGiveWhatSingleSamplesGive)
{
    expectHalfRowsAsSingleSamples<std::uint8_t>();
    expectHalfRowsAsSingleSamples<std::uint16_t>();
    expectHalfRowsAsSingleSamples<float>();
}

// The layouts with their own row loops (RGB, RGBA, grey, grey and alpha) against the general loop
// they stand for, with float and 16-bit files.
TEST(RowConversion, LayoutLoopsGiveWhatTheGeneralLoopGives)
{
    constexpr int kPixels = 300;
    for (const auto &[channels, alpha] :
         std::vector<std::pair<int, int>>{{1, -1}, {2, 1}, {3, -1}, {4, 3}}) {
        std::vector<float> floats(static_cast<std::size_t>(kPixels * channels));
        std::vector<std::uint16_t> words(floats.size());
        for (std::size_t i = 0; i < floats.size(); ++i) {
            floats[i] = static_cast<float>(i % 97) / 80.0f - 0.1f;
            words[i] = static_cast<std::uint16_t>(i * 977u);
        }
        const ChannelMap map = channelMapFor(channels, alpha);
        std::vector<float> fromFloat(kPixels * 4);
        std::vector<std::uint16_t> fromWords(kPixels * 4);
        fileRowToHost(floats.data(), map, kPixels, fromFloat.data());
        fileRowToHost(words.data(), map, kPixels, fromWords.data());
        for (int x = 0; x < kPixels; ++x) {
            const int base = x * channels;
            const int a = map.alpha < 0 ? -1 : base + map.alpha;
            const std::size_t h = static_cast<std::size_t>(x) * 4;
            ASSERT_EQ(fromFloat[h + 1], floats[static_cast<std::size_t>(base + map.red)]);
            ASSERT_EQ(fromFloat[h + 3], floats[static_cast<std::size_t>(base + map.blue)]);
            ASSERT_EQ(fromFloat[h], a < 0 ? 1.0f : floats[static_cast<std::size_t>(a)]);
            ASSERT_EQ(fromWords[h + 2],
                      fileToHost16(words[static_cast<std::size_t>(base + map.green)]));
            ASSERT_EQ(fromWords[h],
                      a < 0 ? 32768 : fileToHost16(words[static_cast<std::size_t>(a)]));
        }
    }
}

// The vector route for half rows against halfToFloat bit for bit, in the four layouts it takes:
// every finite half value (subnormals and both zeros included) in each channel position, and row
// widths that end at each point of the vector steps. A row holding an infinity or a NaN anywhere
// goes to the scalar conversion, which keeps a signalling NaN's payload as it is.
namespace {

std::uint32_t bitsOf(float value)
{
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Differences between the host row and what halfToFloat gives sample by sample.
int countHalfRowDifferences(const std::vector<std::uint16_t> &file, const ChannelMap &map,
                            int width, const std::vector<float> &host)
{
    int differences = 0;
    for (int x = 0; x < width; ++x) {
        const std::uint16_t *s = file.data() + static_cast<std::size_t>(x * map.fileChannels);
        const float want[4] = {map.alpha < 0 ? 1.0f : halfToFloat(s[map.alpha]),
                               halfToFloat(s[map.red]), halfToFloat(s[map.green]),
                               halfToFloat(s[map.blue])};
        for (int c = 0; c < 4; ++c) {
            const float got = host[static_cast<std::size_t>(x * 4 + c)];
            if (bitsOf(got) != bitsOf(want[c]) && ++differences <= 3) {
                ADD_FAILURE() << map.fileChannels << " channels, width " << width << ", pixel " << x
                              << " component " << c << ": 0x" << std::hex << bitsOf(got)
                              << " against 0x" << bitsOf(want[c]);
            }
        }
    }
    return differences;
}

const std::vector<std::pair<int, int>> kVectorLayouts = {{1, -1}, {2, 1}, {3, -1}, {4, 3}};

TEST(HalfRowVector, FiniteRowsGiveTheScalarBitsInEveryLayoutAndWidth)
{
    std::vector<std::uint16_t> finite;
    for (std::uint32_t v = 0; v < 65536; ++v) {
        if ((v & 0x7c00u) != 0x7c00u) {
            finite.push_back(static_cast<std::uint16_t>(v));
        }
    }
    for (const auto &[channels, alpha] : kVectorLayouts) {
        const ChannelMap map = channelMapFor(channels, alpha);
        // Every finite value once per channel position; then short rows for the tails.
        std::vector<int> widths = {static_cast<int>(finite.size()) + 1};
        for (int w = 1; w <= 9; ++w) {
            widths.push_back(w);
        }
        for (const int width : widths) {
            std::vector<std::uint16_t> file(static_cast<std::size_t>(width * channels));
            for (std::size_t i = 0; i < file.size(); ++i) {
                // Each channel walks through every value, from its own starting point.
                const std::size_t x = i / static_cast<std::size_t>(channels);
                const std::size_t c = i % static_cast<std::size_t>(channels);
                file[i] = finite[(x + c * 9973) % finite.size()];
            }
            // One sample past the row, which no conversion may read into the host.
            file.push_back(0x7e00);
            std::vector<float> host(static_cast<std::size_t>(width * 4), -7.0f);
            EXPECT_EQ(halfRowToFloatVector(file.data(), map, width, host.data()),
                      hasHalfRowVector());
            halfRowToHost(file.data(), map, width, host.data());
            EXPECT_EQ(countHalfRowDifferences(file, map, width, host), 0);
        }
    }
}

TEST(HalfRowVector, RowsWithInfinitiesOrNaNsKeepTheScalarBits)
{
    constexpr int kWidth = 37;
    for (const auto &[channels, alpha] : kVectorLayouts) {
        const ChannelMap map = channelMapFor(channels, alpha);
        const int samples = kWidth * channels;
        for (const std::uint16_t special :
             {std::uint16_t{0x7c00}, std::uint16_t{0xfc00}, std::uint16_t{0x7c01},
              std::uint16_t{0xfd55}, std::uint16_t{0x7e00}}) {
            for (const int at : {0, samples / 2, samples - 1}) {
                std::vector<std::uint16_t> file(static_cast<std::size_t>(samples));
                for (int i = 0; i < samples; ++i) {
                    file[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(0x3000 + i);
                }
                file[static_cast<std::size_t>(at)] = special;
                std::vector<float> host(kWidth * 4, -7.0f);
                EXPECT_FALSE(halfRowToFloatVector(file.data(), map, kWidth, host.data()));
                EXPECT_EQ(host[0], -7.0f) << "the vector route wrote before giving up";
                halfRowToHost(file.data(), map, kWidth, host.data());
                EXPECT_EQ(countHalfRowDifferences(file, map, kWidth, host), 0)
                    << "0x" << std::hex << special << " at " << std::dec << at;
            }
        }
    }
    // A signalling NaN keeps its payload (the processor's conversion would make it quiet).
    const std::uint16_t signalling[3] = {0x7c01, 0x3c00, 0x3c00};
    float host[4] = {};
    halfRowToHost(signalling, channelMapFor(3, -1), 1, host);
    EXPECT_EQ(bitsOf(host[1]), 0x7f802000u);
}

TEST(HalfRowVector, OtherLayoutsAreLeftToTheGeneralLoop)
{
    const std::vector<std::uint16_t> file(5 * 4, 0x3c00);
    std::vector<float> host(4 * 4);
    EXPECT_FALSE(halfRowToFloatVector(file.data(), channelMapFor(5, 3), 4, host.data()));
    EXPECT_FALSE(halfRowToFloatVector(file.data(), channelMapFor(4, 0), 4, host.data()));
    EXPECT_FALSE(halfRowToFloatVector(file.data(), channelMapFor(4, -1), 4, host.data()));
}

} // namespace

// The byte shuffle for 8-bit rows at 8 bits against the plain per-pixel copy, in the four layouts
// it takes, at every width up to a few vector steps (each tail length, the RGB loop's early stop)
// and one long row; the host bytes past the row stay untouched.
namespace {

TEST(ByteRowVector, CopiesEveryLayoutAndWidthAsThePlainLoop)
{
    for (const auto &[channels, alpha] : kVectorLayouts) {
        const ChannelMap map = channelMapFor(channels, alpha);
        std::vector<int> widths = {1920};
        for (int w = 1; w <= 21; ++w) {
            widths.push_back(w);
        }
        for (const int width : widths) {
            std::vector<std::uint8_t> file(static_cast<std::size_t>(width * channels));
            for (std::size_t i = 0; i < file.size(); ++i) {
                file[i] = static_cast<std::uint8_t>(i * 37 + 11);
            }
            std::vector<std::uint8_t> host(static_cast<std::size_t>(width * 4 + 16), 0x5a);
            EXPECT_EQ(byteRowToHostVector(file.data(), map, width, host.data()),
                      hasByteRowVector());
            std::fill(host.begin(), host.end(), 0x5a);
            fileRowToHost(file.data(), map, width, host.data());
            int differences = 0;
            for (int x = 0; x < width; ++x) {
                const std::uint8_t *s = file.data() + x * channels;
                const std::uint8_t want[4] = {alpha < 0 ? std::uint8_t{255} : s[map.alpha],
                                              s[map.red], s[map.green], s[map.blue]};
                for (int c = 0; c < 4; ++c) {
                    if (host[static_cast<std::size_t>(x * 4 + c)] != want[c] &&
                        ++differences <= 3) {
                        ADD_FAILURE() << channels << " channels, width " << width << ", pixel " << x
                                      << " component " << c;
                    }
                }
            }
            EXPECT_EQ(differences, 0);
            for (std::size_t i = static_cast<std::size_t>(width * 4); i < host.size(); ++i) {
                ASSERT_EQ(host[i], 0x5a) << "written past the row at width " << width;
            }
        }
    }
    std::vector<std::uint8_t> host(16);
    const std::vector<std::uint8_t> five(20, 1);
    EXPECT_FALSE(byteRowToHostVector(five.data(), channelMapFor(5, 3), 4, host.data()));
    EXPECT_FALSE(byteRowToHostVector(five.data(), channelMapFor(4, 0), 4, host.data()));
}

} // namespace
