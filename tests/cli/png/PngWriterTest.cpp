// The PNG writer: what it writes reads back exactly through OpenImageIO and libpng, and its
// failures are reported, never passed off as a written file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "PngTestFiles.h"
#include "cli/core/CliError.h"
#include "cli/files/FileHandle.h"
#include "cli/png/PngDecoder.h"
#include "cli/png/PngWriter.h"

namespace framemeld::cli::png {
namespace {

using test::Image;

void writeImage(const std::string &path, const Image &image)
{
    const std::size_t rowSamples =
        static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.channels);
    int nextRow = 0;
    test::writePngFile(path, image.width, image.height, image.channels, image.bitDepth,
                       [&](int y, void *row) {
                           EXPECT_EQ(y, nextRow++);
                           const std::uint16_t *source =
                               image.samples.data() + static_cast<std::size_t>(y) * rowSamples;
                           if (image.bitDepth == 16) {
                               std::memcpy(row, source, rowSamples * 2);
                           } else {
                               auto *out = static_cast<std::uint8_t *>(row);
                               for (std::size_t i = 0; i < rowSamples; ++i) {
                                   out[i] = static_cast<std::uint8_t>(source[i]);
                               }
                           }
                       });
    EXPECT_EQ(nextRow, image.height);
}

void expectSamples(const Image &actual, const Image &expected, const std::string &what)
{
    ASSERT_EQ(actual.width, expected.width) << what;
    ASSERT_EQ(actual.height, expected.height) << what;
    ASSERT_EQ(actual.channels, expected.channels) << what;
    ASSERT_EQ(actual.bitDepth, expected.bitDepth) << what;
    ASSERT_TRUE(actual.samples == expected.samples) << what;
}

// Writes a 64x64 image to an open `file`, with `name` standing for it in messages.
std::string writeFailure(std::FILE *file, const std::string &name)
{
    try {
        writePng(file, name, 64, 64, 3, 8, [](int, void *row) { std::memset(row, 128, 64 * 3); });
    } catch (const RunError &error) {
        return error.what();
    }
    return "(written)";
}

bool havePngcheck()
{
    return std::system("command -v pngcheck >/dev/null 2>&1") == 0;
}

TEST(PngWriter, RoundTripsExactlyThroughOpenImageIOLibpngAndTheReader)
{
    test::ScratchDir dir;
    PngDecoder decoder;
    const int sizes[][2] = {{1, 1}, {17, 5}, {64, 33}};
    for (int channels : {3, 4}) {
        for (int bitDepth : {8, 16}) {
            for (const auto &size : sizes) {
                const Image source =
                    test::makeImage(size[0], size[1], channels, bitDepth,
                                    static_cast<unsigned>(channels * 100 + bitDepth + size[0]));
                const std::string what = std::to_string(channels) + " channels, " +
                                         std::to_string(bitDepth) + " bits, " +
                                         std::to_string(size[0]) + "x" + std::to_string(size[1]);
                const std::string path = dir.file("w.png");
                writeImage(path, source);
                expectSamples(test::readWithOpenImageIO(path), source,
                              what + " through OpenImageIO");
                expectSamples(test::readWithLibpng(path), source, what + " through libpng");

                Image ours{source.width, source.height, channels, bitDepth, {}};
                test::decodeFile(decoder, path, [&](int, const void *row) {
                    for (int i = 0; i < source.width * channels; ++i) {
                        ours.samples.push_back(bitDepth == 16
                                                   ? static_cast<const std::uint16_t *>(row)[i]
                                                   : static_cast<const std::uint8_t *>(row)[i]);
                    }
                });
                expectSamples(ours, source, what + " through the reader");
                if (havePngcheck()) {
                    EXPECT_EQ(std::system(("pngcheck -q '" + path + "' >/dev/null").c_str()), 0)
                        << what;
                }
            }
        }
    }
}

TEST(PngWriter, SplitsLargeDataIntoChunksOfAtMostOneMebibyte)
{
    test::ScratchDir dir;
    // Noise does not compress: about 2 MiB of image data.
    Image noise{500, 700, 3, 16, {}};
    unsigned state = 12345;
    for (int i = 0; i < noise.width * noise.height * 3; ++i) {
        state = state * 1103515245u + 12345u;
        noise.samples.push_back(static_cast<std::uint16_t>(state >> 8));
    }
    const std::string path = dir.file("noise.png");
    writeImage(path, noise);
    const std::vector<std::size_t> lengths = test::idatLengths(test::readFile(path));
    ASSERT_GE(lengths.size(), 2u);
    for (std::size_t length : lengths) {
        EXPECT_LE(length, std::size_t{1} << 20);
    }
    expectSamples(test::readWithOpenImageIO(path), noise, "noise");
}

TEST(PngWriter, PicksTheFilterThatPredictsEachRowBest)
{
    test::ScratchDir dir;
    // Every row the same noise: all rows after the first are best told as "Up" (all zeros).
    Image repeated = test::makeImage(50, 6, 3, 8, 9);
    for (std::size_t i = 150; i < repeated.samples.size(); ++i) {
        repeated.samples[i] = repeated.samples[i % 150];
    }
    // Ramps along x with a different slope on each row. Worked out by hand from the signed-byte
    // sums: Sub wins on rows 0, 2, 4 (row 0 ties with Paeth; the earlier filter is kept) and
    // Paeth, by a few units, on rows 1, 3, 5. Up, Average and None cost ten times more.
    const int slopes[] = {1, 5, 2, 7, 3, 6};
    Image ramp{50, 6, 3, 8, {}};
    for (int y = 0; y < ramp.height; ++y) {
        for (int x = 0; x < ramp.width * 3; ++x) {
            ramp.samples.push_back(static_cast<std::uint16_t>((x / 3) * slopes[y] % 256));
        }
    }
    const std::string path = dir.file("f.png");
    writeImage(path, repeated);
    const std::vector<int> repeatedFilters = test::rowFilters(test::readFile(path), 6, 150);
    for (int y = 1; y < 6; ++y) {
        EXPECT_EQ(repeatedFilters[static_cast<std::size_t>(y)], 2) << "row " << y;
    }
    writeImage(path, ramp);
    const std::vector<int> rampFilters = test::rowFilters(test::readFile(path), 6, 150);
    EXPECT_EQ(rampFilters, (std::vector<int>{1, 4, 1, 4, 1, 4}));
}

TEST(PngWriter, ReportsFailuresAndWritesNothingForAFailingRowSource)
{
    test::ScratchDir dir;
    if (std::filesystem::exists("/dev/full")) {
        UniqueFile full(std::fopen("/dev/full", "wb"));
        ASSERT_TRUE(full);
        // The name given, not the descriptor's own path, is the one users see.
        EXPECT_EQ(writeFailure(full.get(), "out/plate.png"),
                  "out/plate.png: cannot write the output (No space left on device)");
    }

    const std::string path = dir.file("plate.png");
    EXPECT_THROW(test::writePngFile(path, 8, 8, 3, 8,
                                    [](int y, void *) {
                                        if (y == 4) {
                                            throw std::runtime_error("render failed");
                                        }
                                    }),
                 std::runtime_error);
    EXPECT_EQ(std::filesystem::file_size(path), 0u);

    for (const auto &shape : {std::vector<int>{0, 1, 3, 8},
                              {1, 0, 3, 8},
                              {1, 1, 2, 8},
                              {1, 1, 3, 12},
                              {(1 << 24) + 1, 1, 4, 16}}) {
        EXPECT_THROW(
            test::writePngFile(path, shape[0], shape[1], shape[2], shape[3], [](int, void *) {}),
            std::invalid_argument);
    }
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
}

} // namespace
} // namespace framemeld::cli::png
