// The fast PNG reader against OpenImageIO's reading of the same files, and its refusals.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "PngTestFiles.h"
#include "cli/core/CliError.h"
#include "cli/png/PngDecoder.h"
#include "cli/png/PngFormat.h"
#include "cli/png/PngProbe.h"

namespace framemeld::cli::png {
namespace {

using test::Image;
using test::LibpngOptions;
using test::PngBuilder;

// Decodes with the probe's idea of the shape, checking that rows come once each, top to bottom,
// and that decode() reports the same header as the probe.
Image decodeAll(PngDecoder &decoder, const std::string &path)
{
    const PngProbe probe = probePng(path);
    EXPECT_EQ(probe.support, PngSupport::Decodable) << path << ": " << probe.reason;
    Image image{probe.info.width, probe.info.height, probe.info.channels, probe.info.bitDepth, {}};
    const std::size_t rowSamples =
        static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.channels);
    int nextRow = 0;
    const PngInfo info = test::decodeFile(decoder, path, [&](int y, const void *row) {
        EXPECT_EQ(y, nextRow++);
        for (std::size_t i = 0; i < rowSamples; ++i) {
            image.samples.push_back(image.bitDepth == 16
                                        ? static_cast<const std::uint16_t *>(row)[i]
                                        : static_cast<const std::uint8_t *>(row)[i]);
        }
    });
    EXPECT_EQ(nextRow, image.height);
    EXPECT_EQ(info.width, probe.info.width);
    EXPECT_EQ(info.height, probe.info.height);
    EXPECT_EQ(info.bitDepth, probe.info.bitDepth);
    EXPECT_EQ(info.channels, probe.info.channels);
    EXPECT_EQ(info.hasAlpha, probe.info.hasAlpha);
    EXPECT_EQ(info.colourType, probe.info.colourType);
    return image;
}

void expectSameImage(const Image &actual, const Image &expected, const std::string &what)
{
    ASSERT_EQ(actual.width, expected.width) << what;
    ASSERT_EQ(actual.height, expected.height) << what;
    ASSERT_EQ(actual.channels, expected.channels) << what;
    ASSERT_EQ(actual.bitDepth, expected.bitDepth) << what;
    ASSERT_EQ(actual.samples.size(), expected.samples.size()) << what;
    for (std::size_t i = 0; i < actual.samples.size(); ++i) {
        ASSERT_EQ(actual.samples[i], expected.samples[i]) << what << ": sample " << i;
    }
}

std::string decodeFailure(const std::vector<std::uint8_t> &bytes)
{
    PngDecoder decoder;
    try {
        decoder.decodeBytes(bytes.data(), bytes.size(), "frame.png", [](int, const void *) {});
    } catch (const RunError &error) {
        return error.what();
    }
    return "(decoded)";
}

// Rows of an RGB 8-bit image led by filter None, for hand-built files.
std::vector<std::uint8_t> plainRows(int width, int height)
{
    std::vector<std::uint8_t> rows;
    for (int y = 0; y < height; ++y) {
        rows.push_back(0);
        for (int i = 0; i < width * 3; ++i) {
            rows.push_back(static_cast<std::uint8_t>(i * 7 + y));
        }
    }
    return rows;
}

TEST(PngReader, MatchesOpenImageIOForEveryFilterColourTypeDepthAndSize)
{
    test::ScratchDir dir;
    PngDecoder decoder; // one for all files, as a worker thread would use it
    const int filters[] = {PNG_FILTER_NONE, PNG_FILTER_SUB,   PNG_FILTER_UP,
                           PNG_FILTER_AVG,  PNG_FILTER_PAETH, PNG_ALL_FILTERS};
    const int sizes[][2] = {{1, 1}, {1, 9}, {9, 1}, {17, 5}};
    unsigned seed = 1;
    for (int channels = 1; channels <= 4; ++channels) {
        for (int bitDepth : {8, 16}) {
            for (int filter : filters) {
                for (const auto &size : sizes) {
                    const Image source =
                        test::makeImage(size[0], size[1], channels, bitDepth, seed++);
                    LibpngOptions options;
                    options.filters = filter;
                    const std::string path = dir.file("f" + std::to_string(seed) + ".png");
                    test::writeFile(path, test::encodeWithLibpng(source, options));
                    const std::string what =
                        std::to_string(channels) + " channels, " + std::to_string(bitDepth) +
                        " bits, filters " + std::to_string(filter) + ", " +
                        std::to_string(size[0]) + "x" + std::to_string(size[1]);
                    const Image oracle = test::readWithOpenImageIO(path);
                    expectSameImage(oracle, source, what + " (OpenImageIO against the source)");
                    expectSameImage(decodeAll(decoder, path), oracle, what);
                }
            }
        }
    }
}

TEST(PngReader, MatchesOpenImageIOWithAncillaryChunksAndManyIdatChunks)
{
    test::ScratchDir dir;
    PngDecoder decoder;
    const unsigned chunkSets[] = {test::kGamma,
                                  test::kSrgb,
                                  test::kIccProfile,
                                  test::kText,
                                  test::kSignificantBits,
                                  test::kPrivateChunk,
                                  test::kGamma | test::kText | test::kSignificantBits |
                                      test::kPrivateChunk};
    int index = 0;
    for (unsigned extras : chunkSets) {
        for (int channels : {1, 2, 3, 4}) {
            for (int bitDepth : {8, 16}) {
                const Image source = test::makeImage(33, 20, channels, bitDepth,
                                                     100u + static_cast<unsigned>(index));
                LibpngOptions options;
                options.extras = extras;
                options.idatBufferSize = 64; // dozens of IDAT chunks
                const std::vector<std::uint8_t> bytes = test::encodeWithLibpng(source, options);
                ASSERT_GT(test::idatLengths(bytes).size(), 4u);
                const std::pair<unsigned, const char *> names[] = {
                    {test::kGamma, "gAMA"},           {test::kSrgb, "sRGB"},
                    {test::kIccProfile, "iCCP"},      {test::kText, "zTXt"},
                    {test::kSignificantBits, "sBIT"}, {test::kPrivateChunk, "prVt"}};
                for (const auto &[flag, name] : names) {
                    const bool present =
                        std::search(bytes.begin(), bytes.end(), name, name + 4) != bytes.end();
                    ASSERT_EQ(present, (extras & flag) != 0) << name << " in set " << extras;
                }
                const std::string path = dir.file("c" + std::to_string(index++) + ".png");
                test::writeFile(path, bytes);
                const std::string what = "chunks " + std::to_string(extras) + ", " +
                                         std::to_string(channels) + " channels, " +
                                         std::to_string(bitDepth) + " bits";
                const Image oracle = test::readWithOpenImageIO(path);
                expectSameImage(oracle, source, what + " (OpenImageIO against the source)");
                expectSameImage(decodeAll(decoder, path), oracle, what);
            }
        }
    }
}

TEST(PngReader, LeavesWhatItDoesNotDecodeToTheGeneralReader)
{
    test::ScratchDir dir;
    const Image grey = test::makeImage(9, 4, 1, 8, 7);
    const Image rgb = test::makeImage(9, 4, 3, 8, 8);
    struct Case {
        const char *name;
        Image image;
        LibpngOptions options;
        const char *reason;
    };
    LibpngOptions palette, lowDepth, interlaced, transparency;
    palette.palette = true;
    lowDepth.lowBitDepth = 4;
    interlaced.interlaced = true;
    transparency.extras = test::kTransparency;
    const Case cases[] = {
        {"palette", grey, palette, "palette colour"},
        {"4-bit grey", grey, lowDepth, "bit depth 4"},
        {"interlaced", rgb, interlaced, "interlaced"},
        {"tRNS", rgb, transparency, "tRNS chunk"},
    };
    for (const Case &c : cases) {
        const std::string path = dir.file(std::string(c.name) + ".png");
        test::writeFile(path, test::encodeWithLibpng(c.image, c.options));
        const PngProbe probe = probePng(path);
        EXPECT_EQ(probe.support, PngSupport::LeaveToGeneral) << c.name;
        EXPECT_EQ(probe.reason, c.reason) << c.name;
        // Cut inside its image data, it is damaged: the general reader must not see it.
        const std::vector<std::uint8_t> whole = test::encodeWithLibpng(c.image, c.options);
        const std::vector<std::uint8_t> cut(whole.begin(), whole.end() - 16);
        test::writeFile(path, cut);
        const PngProbe cutProbe = probePng(path);
        EXPECT_EQ(cutProbe.support, PngSupport::Damaged) << c.name;
        EXPECT_EQ(cutProbe.reason, "truncated file") << c.name;
        test::writeFile(path, whole);
        PngDecoder decoder;
        try {
            test::decodeFile(decoder, path, [](int, const void *) {});
            ADD_FAILURE() << c.name << " was decoded";
        } catch (const RunError &error) {
            EXPECT_EQ(std::string(error.what()),
                      path + ": cannot decode the frame (not handled here: " + c.reason + ")");
        }
    }

    const auto unknownCritical = PngBuilder()
                                     .header(2, 2, 8, 2)
                                     .chunk("CRIT", {1, 2})
                                     .imageData(plainRows(2, 2))
                                     .end()
                                     .bytes();
    const PngProbe critical = probePngBytes(unknownCritical.data(), unknownCritical.size());
    EXPECT_EQ(critical.support, PngSupport::LeaveToGeneral);
    EXPECT_EQ(critical.reason, "unknown critical chunk CRIT");

    const std::string text = "P6\n1 1\n255\nabc";
    EXPECT_EQ(
        probePngBytes(reinterpret_cast<const std::uint8_t *>(text.data()), text.size()).support,
        PngSupport::NotPng);
    EXPECT_EQ(probePngBytes(nullptr, 0).support, PngSupport::NotPng);
    // Unreadable files are reported with the system's reason, never a failure of the probe.
    const PngProbe missing = probePng(dir.file("missing.png"));
    EXPECT_EQ(missing.support, PngSupport::Unreadable);
    EXPECT_EQ(missing.reason, "No such file or directory");
}

TEST(PngReader, RefusesDamagedFilesWithTheirFault)
{
    const Image source = test::makeImage(17, 5, 3, 8, 3);
    const std::vector<std::uint8_t> good = test::encodeWithLibpng(source);
    ASSERT_EQ(decodeFailure(good), "(decoded)");
    const std::string prefix = "frame.png: cannot decode the frame (";

    // A flipped bit in the middle of the image data.
    std::vector<std::uint8_t> flipped = good;
    const std::size_t idatAt = 8 + 25 + 8; // signature, IHDR chunk, IDAT length and name
    ASSERT_EQ(std::memcmp(good.data() + idatAt - 4, "IDAT", 4), 0);
    flipped[idatAt + 10] ^= 0x10;
    EXPECT_EQ(decodeFailure(flipped), prefix + "CRC mismatch in IDAT chunk)");

    std::vector<std::uint8_t> badHeaderCrc = good;
    badHeaderCrc[8 + 8 + 3] ^= 1;
    EXPECT_EQ(decodeFailure(badHeaderCrc), prefix + "CRC mismatch in IHDR chunk)");

    // Every cut short of the whole file fails, naming a fault rather than crashing or succeeding.
    for (std::size_t length = 0; length < good.size(); ++length) {
        const std::vector<std::uint8_t> cut(good.begin(),
                                            good.begin() + static_cast<std::ptrdiff_t>(length));
        const std::string failure = decodeFailure(cut);
        EXPECT_EQ(failure.rfind(prefix, 0), 0u) << "cut at " << length << ": " << failure;
        if (length >= 8) {
            EXPECT_EQ(failure, prefix + "truncated file)") << "cut at " << length;
        }
    }
    EXPECT_EQ(decodeFailure(std::vector<std::uint8_t>(good.begin() + 1, good.end())),
              prefix + "not a PNG file)");

    const std::vector<std::uint8_t> rows = plainRows(4, 3);
    auto build = [](PngBuilder &b) { return b.end().bytes(); };
    struct Case {
        const char *name;
        std::vector<std::uint8_t> bytes;
        std::string reason;
    };
    std::vector<std::uint8_t> badFilter = rows;
    badFilter[2 * (4 * 3 + 1)] = 7; // row 2's filter byte
    std::vector<std::uint8_t> shortRows(rows.begin(), rows.end() - 1);
    std::vector<std::uint8_t> longRows = rows;
    longRows.push_back(0);
    std::vector<std::uint8_t> garbage(40, 0x5A);
    PngBuilder b1, b2, b3, b4, b5, b6, b7, b8, b9, b10, b11, b12, b13;
    const Case cases[] = {
        {"bad filter", build(b1.header(4, 3, 8, 2).imageData(badFilter)),
         "unknown row filter 7 in row 2"},
        {"short stream", build(b2.header(4, 3, 8, 2).imageData(shortRows)),
         "compressed data too short"},
        {"long stream", build(b3.header(4, 3, 8, 2).imageData(longRows)),
         "compressed data too long"},
        {"not zlib", build(b4.header(4, 3, 8, 2).chunk("IDAT", garbage)),
         "compressed data corrupt"},
        {"zero width", build(b5.header(0, 3, 8, 2).imageData(rows)), "invalid image size 0x3"},
        {"side over 2^24", build(b6.header((1u << 24) + 1, 1, 8, 2).imageData(rows)),
         "image too large (16777217x1)"},
        {"side over 2^31", build(b7.header(0x80000000u, 1, 8, 2).imageData(rows)),
         "invalid image size 2147483648x1"},
        {"over 2^40 bytes", build(b8.header(1u << 24, 1u << 24, 16, 6).imageData(rows)),
         "image too large (16777216x16777216)"},
        // Claims 1 GiB of rows from a few bytes: refused before anything that size is allocated.
        {"inflation bomb", build(b9.header(16384, 16384, 8, 6).imageData(rows)),
         "compressed data too short"},
        {"bad depth", build(b10.header(4, 3, 5, 2).imageData(rows)),
         "invalid bit depth 5 for colour type 2"},
        {"no image data", build(b11.header(4, 3, 8, 2)), "no image data"},
        {"split image data",
         build(b12.header(4, 3, 8, 2).chunk("IDAT", {}).chunk("teXt", {1}).imageData(rows)),
         "IDAT chunks not consecutive"},
        {"palette in grey", build(b13.header(4, 3, 8, 0).chunk("PLTE", {1, 2, 3}).imageData(rows)),
         "PLTE chunk in a grey image"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(decodeFailure(c.bytes), prefix + c.reason + ")") << c.name;
    }

    // A chunk length past the format's limit, and one past the end of the file.
    std::vector<std::uint8_t> hugeLength =
        PngBuilder().header(4, 3, 8, 2).imageData(rows).end().bytes();
    hugeLength[33] = 0x80;
    EXPECT_EQ(decodeFailure(hugeLength), prefix + "damaged chunk length)");
    hugeLength[33] = 0x7F;
    EXPECT_EQ(decodeFailure(hugeLength), prefix + "truncated file)");
}

TEST(PngReader, ProbeOnlyAcceptsHeadersTheDecoderAccepts)
{
    const std::vector<std::uint8_t> rows = plainRows(4, 3);
    const auto oversize =
        PngBuilder().header((1u << 24) + 1, 1, 8, 2).imageData(rows).end().bytes();
    const PngProbe probe = probePngBytes(oversize.data(), oversize.size());
    EXPECT_EQ(probe.support, PngSupport::Damaged);
    EXPECT_EQ(probe.reason, "image too large (16777217x1)");

    std::vector<std::uint8_t> badCrc =
        PngBuilder().header(4, 3, 8, 2).imageData(rows).end().bytes();
    badCrc[20] ^= 1;
    EXPECT_EQ(probePngBytes(badCrc.data(), badCrc.size()).reason, "CRC mismatch in IHDR chunk");

    // A text chunk claiming 2 GiB in a file of a hundred bytes is damage, not a PNG for another
    // reader to trust.
    std::vector<std::uint8_t> textClaim =
        PngBuilder().header(4, 3, 8, 2).chunk("tEXt", {'k', 0, 'v'}).imageData(rows).end().bytes();
    ASSERT_EQ(std::memcmp(textClaim.data() + 37, "tEXt", 4), 0);
    format::writeBigEndian32(textClaim.data() + 33, 0x7FFFFFFFu);
    const PngProbe claim = probePngBytes(textClaim.data(), textClaim.size());
    EXPECT_EQ(claim.support, PngSupport::Damaged);
    EXPECT_EQ(claim.reason, "truncated file");

    const auto good =
        PngBuilder().header(4, 3, 16, 4).imageData(std::vector<std::uint8_t>(3 * 17)).end().bytes();
    const PngProbe accepted = probePngBytes(good.data(), good.size());
    ASSERT_EQ(accepted.support, PngSupport::Decodable);
    EXPECT_EQ(accepted.info.width, 4);
    EXPECT_EQ(accepted.info.height, 3);
    EXPECT_EQ(accepted.info.bitDepth, 16);
    EXPECT_EQ(accepted.info.channels, 2);
    EXPECT_TRUE(accepted.info.hasAlpha);
    EXPECT_EQ(accepted.info.colourType, kColourGreyAlpha);
}

TEST(PngReader, AThrowingCallbackLeavesTheDecoderReusable)
{
    test::ScratchDir dir;
    const std::string big = dir.file("big.png");
    const std::string small = dir.file("small.png");
    test::writeFile(big, test::encodeWithLibpng(test::makeImage(40, 30, 4, 16, 5)));
    test::writeFile(small, test::encodeWithLibpng(test::makeImage(7, 3, 3, 8, 6)));

    PngDecoder decoder;
    int rowsSeen = 0;
    EXPECT_THROW(test::decodeFile(decoder, big,
                                  [&](int y, const void *) {
                                      ++rowsSeen;
                                      if (y == 2) {
                                          throw std::runtime_error("stop");
                                      }
                                  }),
                 std::runtime_error);
    EXPECT_EQ(rowsSeen, 3);
    // Smaller, then larger again: buffers shrink and grow without stale bytes leaking through.
    expectSameImage(decodeAll(decoder, small), test::readWithOpenImageIO(small),
                    "small after a throw");
    expectSameImage(decodeAll(decoder, big), test::readWithOpenImageIO(big), "big after small");
}

} // namespace
} // namespace framemeld::cli::png
