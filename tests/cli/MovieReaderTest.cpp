// Movies decoded through FFmpeg's libraries: deep sources keep their depth, the codec's threads
// change nothing, and 8-bit movies give the frames OpenImageIO's movie reader gave.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <utility>
#include <vector>

#include "CliTestSupport.h"
#include "cli/core/CliError.h"
#include "cli/footage/FootageDecoder.h"
#include "cli/footage/FootageDiscovery.h"
#include "cli/pixels/PixelConversion.h"

using namespace framemeld::cli;
using framemeld::cli::test::TempDir;
using framemeld::runner::PixelDepth;
using framemeld::runner::World;
using testing::HasSubstr;

namespace {

struct Movie {
    Clip clip;
    FootageFormat format;
};

Movie openMovie(const std::string &path)
{
    Movie movie{discoverClip(path), {}};
    movie.format = probeFootage(movie.clip);
    return movie;
}

bool ffmpeg(std::vector<std::string> args)
{
    args.insert(args.begin(), {"ffmpeg", "-nostdin", "-loglevel", "error", "-y"});
    return test::runProgram(args).exitStatus == 0;
}

// The requested frames decoded into worlds of their own, in request order.
std::vector<World> decode(const Movie &movie, const std::vector<int> &frames, PixelDepth depth,
                          int threads)
{
    std::vector<World> worlds;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        worlds.emplace_back(movie.format.width, movie.format.height, depth);
    }
    DecodeRequest request;
    request.clip = &movie.clip;
    request.format = movie.format;
    request.frames = frames;
    request.depth = depth;
    request.threads = threads;
    request.target = [&](std::size_t index) {
        return FrameTarget{worlds[index].row(0), worlds[index].rowStride()};
    };
    decodeFrames(request);
    return worlds;
}

// FFmpeg's own decode of frame `frame` as interleaved RGB of `Sample` (8 or 16 bits), converted
// as the reader converts (the scaler's area mode; 16 bits through planar RGB); the reference the
// reader is held to.
template <typename Sample>
std::vector<Sample> referenceRgb(const TempDir &dir, const std::string &movie, int frame,
                                 std::size_t samples)
{
    const bool deep = sizeof(Sample) == 2;
    const std::string raw = dir.file("reference.rgb");
    EXPECT_TRUE(ffmpeg({"-i", movie, "-vf", "select=eq(n\\," + std::to_string(frame) + ")",
                        "-frames:v", "1", "-sws_flags", "area", "-pix_fmt",
                        deep ? "gbrp16le" : "rgb24", "-f", "rawvideo", raw}));
    std::ifstream in(raw, std::ios::binary);
    std::vector<Sample> values(samples);
    in.read(reinterpret_cast<char *>(values.data()),
            static_cast<std::streamsize>(samples * sizeof(Sample)));
    EXPECT_EQ(static_cast<std::size_t>(in.gcount()), samples * sizeof(Sample));
    if (!deep) {
        return values;
    }
    const std::size_t pixels = samples / 3;
    std::vector<Sample> interleaved(samples);
    for (std::size_t i = 0; i < pixels; ++i) {
        interleaved[i * 3] = values[2 * pixels + i]; // planes G, B, R
        interleaved[i * 3 + 1] = values[i];
        interleaved[i * 3 + 2] = values[pixels + i];
    }
    return interleaved;
}

// A 16-bit horizontal ramp, a different one for red, green and blue, moving with the frame.
void writeRamps(const TempDir &dir, int width, int height, int frames)
{
    for (int f = 0; f < frames; ++f) {
        std::vector<std::uint16_t> samples;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const double t = (x + 0.25 * y + 3.0 * f) / (width + 0.25 * height + 3.0 * frames);
                samples.push_back(static_cast<std::uint16_t>(65535.0 * t));
                samples.push_back(static_cast<std::uint16_t>(65535.0 * (1.0 - t)));
                samples.push_back(static_cast<std::uint16_t>(65535.0 * (0.25 + 0.5 * t)));
            }
        }
        test::writeImage(dir.file("ramp." + std::to_string(100 + f) + ".png"), width, height, 3,
                         OIIO::TypeDesc::UINT16, OIIO::TypeDesc::UINT16, samples.data());
    }
}

std::string writeProRes(const TempDir &dir, int width, int height, int frames)
{
    writeRamps(dir, width, height, frames);
    const std::string movie = dir.file("ramp.mov");
    if (!ffmpeg({"-framerate", "25", "-start_number", "100", "-i", dir.file("ramp.%03d.png"),
                 "-c:v", "prores_ks", "-profile:v", "3", "-pix_fmt", "yuv422p10le", movie})) {
        return {};
    }
    return movie;
}

// Where component c of pixel (x, y) sits in interleaved RGB rows `width` pixels wide.
std::size_t rgbIndex(int width, int x, int y, int c)
{
    return (static_cast<std::size_t>(width) * static_cast<std::size_t>(y) +
            static_cast<std::size_t>(x)) *
               3 +
           static_cast<std::size_t>(c);
}

template <typename Sample> Sample component(const World &world, int x, int y, int c)
{
    // Host pixels are alpha, red, green, blue.
    return reinterpret_cast<const Sample *>(world.row(y))[x * 4 + 1 + c];
}

TEST(MovieReader, TenBitMoviesKeepTheirStepsAtSixteenAndThirtyTwoBits)
{
    if (!test::haveProgram("ffmpeg"))
        GTEST_SKIP() << "ffmpeg makes the movies";
    TempDir dir;
    constexpr int kW = 1024, kH = 16;
    std::vector<std::string> movies;
    const std::string prores = writeProRes(dir, kW, kH, 3);
    if (!prores.empty())
        movies.push_back(prores);
    const std::string h264 = dir.file("ramp10.mp4");
    if (ffmpeg({"-framerate", "25", "-start_number", "100", "-i", dir.file("ramp.%03d.png"), "-c:v",
                "libx264", "-crf", "4", "-pix_fmt", "yuv420p10le", h264}))
        movies.push_back(h264);
    if (movies.empty())
        GTEST_SKIP() << "ffmpeg has neither a ProRes nor a 10-bit H.264 encoder";
    for (const std::string &path : movies) {
        SCOPED_TRACE(path);
        const Movie movie = openMovie(path);
        ASSERT_EQ(movie.clip.frameCount, 3);

        const auto reference = referenceRgb<std::uint16_t>(dir, path, 1, std::size_t{kW} * kH * 3);
        const std::vector<World> at16 = decode(movie, {1}, PixelDepth::Bits16, 2);
        const std::vector<World> at32 = decode(movie, {1}, PixelDepth::Float32, 2);
        std::set<std::uint16_t> levels16;
        std::set<float> levels32;
        int worst16 = 0;
        float worst32 = 0.0f;
        for (int y = 0; y < kH; ++y) {
            for (int x = 0; x < kW; ++x) {
                for (int c = 0; c < 3; ++c) {
                    const std::uint16_t file = reference[rgbIndex(kW, x, y, c)];
                    const auto h16 = component<std::uint16_t>(at16[0], x, y, c);
                    const auto h32 = component<float>(at32[0], x, y, c);
                    worst16 = std::max(worst16, std::abs(int{h16} - int{fileToHost16(file)}));
                    worst32 = std::max(worst32, std::fabs(h32 - file / 65535.0f));
                    if (c == 0) {
                        levels16.insert(h16);
                        levels32.insert(h32);
                    }
                }
            }
        }
        // Through 8 bits the ramp could not have more than 256 levels.
        EXPECT_GT(levels16.size(), 600u);
        EXPECT_GT(levels32.size(), 600u);
        // The reader converts as FFmpeg does; the host's 16-bit scale only rounds once more.
        EXPECT_LE(worst16, 1);
        EXPECT_LE(worst32, 1e-6f);
    }
}

TEST(MovieReader, TheCodecsThreadCountDoesNotChangeASample)
{
    if (!test::haveProgram("ffmpeg"))
        GTEST_SKIP() << "ffmpeg makes the movies";
    TempDir dir;
    const std::string prores = writeProRes(dir, 320, 96, 6);
    const std::string h264 = dir.file("ramp.mp4");
    // BT.709-tagged, with B-frames: frame threads reorder, and the tag takes its own conversion.
    const bool haveH264 =
        ffmpeg({"-framerate", "25", "-start_number", "100", "-i", dir.file("ramp.%03d.png"), "-vf",
                "scale=out_color_matrix=bt709", "-colorspace", "bt709", "-c:v", "libx264", "-bf",
                "3", "-g", "4", "-pix_fmt", "yuv420p", h264});
    std::vector<std::string> movies;
    if (!prores.empty())
        movies.push_back(prores);
    if (haveH264)
        movies.push_back(h264);
    if (movies.empty())
        GTEST_SKIP() << "ffmpeg has neither a ProRes nor an H.264 encoder";
    for (const std::string &path : movies) {
        SCOPED_TRACE(path);
        const Movie movie = openMovie(path);
        for (const PixelDepth depth : {PixelDepth::Bits8, PixelDepth::Float32}) {
            const std::vector<int> frames{5, 1, 2};
            const std::vector<World> one = decode(movie, frames, depth, 1);
            const std::size_t rowBytes = static_cast<std::size_t>(movie.format.width) *
                                         framemeld::runner::bytesPerPixel(depth);
            for (const int threads : {2, 5}) {
                const std::vector<World> many = decode(movie, frames, depth, threads);
                for (std::size_t i = 0; i < frames.size(); ++i) {
                    for (int y = 0; y < movie.format.height; ++y) {
                        ASSERT_EQ(std::memcmp(one[i].row(y), many[i].row(y), rowBytes), 0)
                            << threads << " threads, frame " << frames[i] << " row " << y;
                    }
                }
            }
        }
    }
}

// OpenImageIO's movie reader, as the tool read movies before: `frames` (ascending; it cannot
// start at the last frames of a movie with reordered frames) as 8-bit RGB.
std::vector<std::vector<std::uint8_t>> oiioFrames(const std::string &path,
                                                  const std::vector<int> &frames)
{
    std::vector<std::vector<std::uint8_t>> result;
    auto input = OIIO::ImageInput::open(path);
    for (const int frame : frames) {
        EXPECT_TRUE(input && input->seek_subimage(frame, 0));
        const OIIO::ImageSpec &spec = input->spec();
        std::vector<std::uint8_t> rgb(rgbIndex(spec.width, 0, spec.height, 0));
        EXPECT_TRUE(input->read_image(frame, 0, 0, 3, OIIO::TypeDesc::UINT8, rgb.data()));
        result.push_back(std::move(rgb));
    }
    return result;
}

TEST(MovieReader, EightBitH264GivesTheFramesOpenImageIOGave)
{
    if (!test::haveProgram("ffmpeg"))
        GTEST_SKIP() << "ffmpeg makes the movie";
    TempDir dir;
    const std::string path = dir.file("noise.mp4");
    if (!ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=160x90:rate=25:duration=0.8", "-c:v",
                 "libx264", "-bf", "2", "-g", "8", "-pix_fmt", "yuv420p", path}))
        GTEST_SKIP() << "ffmpeg has no H.264 encoder";
    const Movie movie = openMovie(path);
    ASSERT_EQ(movie.clip.frameCount, 20);
    const std::vector<int> frames{0, 9, 19};
    const std::vector<World> worlds = decode(movie, frames, PixelDepth::Bits8, 2);
    const std::vector<std::vector<std::uint8_t>> oiio = oiioFrames(path, frames);
    const std::size_t samples = rgbIndex(movie.format.width, 0, movie.format.height, 0);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const std::vector<std::uint8_t> ffmpegFrame =
            referenceRgb<std::uint8_t>(dir, path, frames[i], samples);
        int worstToOiio = 0;
        int worstToFfmpeg = 0;
        for (int y = 0; y < movie.format.height; ++y) {
            for (int x = 0; x < movie.format.width; ++x) {
                for (int c = 0; c < 3; ++c) {
                    const int value = component<std::uint8_t>(worlds[i], x, y, c);
                    const std::size_t at = rgbIndex(movie.format.width, x, y, c);
                    worstToOiio = std::max(worstToOiio, std::abs(value - oiio[i][at]));
                    worstToFfmpeg = std::max(worstToFfmpeg, std::abs(value - ffmpegFrame[at]));
                }
            }
        }
        // Same scaler mode and matrix for an untagged movie: only the scaler's rounding
        // differs. OpenImageIO's reader gave another picture than FFmpeg's own decode for the
        // last frame of a movie with reordered frames, so that frame is held to FFmpeg only.
        EXPECT_LE(worstToFfmpeg, 1) << "frame " << frames[i];
        if (frames[i] != frames.back()) {
            EXPECT_LE(worstToOiio, 1) << "frame " << frames[i];
        }
    }
}

TEST(MovieReader, AMatrixTagIsHonoured)
{
    if (!test::haveProgram("ffmpeg"))
        GTEST_SKIP() << "ffmpeg makes the movie";
    TempDir dir;
    // A flat colour made with the BT.709 matrix and tagged so; read with BT.601, as OpenImageIO
    // read every movie, its green is off by about 10 steps.
    const std::string path = dir.file("flat709.mp4");
    if (!ffmpeg({"-f", "lavfi", "-i", "color=c=0xC82878:size=64x48:rate=25:duration=0.2", "-vf",
                 "scale=out_color_matrix=bt709:out_range=tv", "-colorspace", "bt709",
                 "-color_primaries", "bt709", "-color_trc", "bt709", "-c:v", "libx264", "-qp", "0",
                 "-pix_fmt", "yuv444p", path}))
        GTEST_SKIP() << "ffmpeg has no H.264 encoder";
    const Movie movie = openMovie(path);
    const std::vector<World> worlds = decode(movie, {2}, PixelDepth::Bits8, 1);
    const int expected[3] = {0xC8, 0x28, 0x78};
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(component<std::uint8_t>(worlds[0], 32, 24, c), expected[c], 2)
            << "component " << c;
    }
}

TEST(MovieReader, FailuresNameTheFileAndFrameAndCancelStops)
{
    if (!test::haveProgram("ffmpeg"))
        GTEST_SKIP() << "ffmpeg makes the movie";
    TempDir dir;
    const std::string path = dir.file("clip.mov");
    ASSERT_TRUE(ffmpeg(
        {"-f", "lavfi", "-i", "testsrc=size=32x24:rate=10:duration=0.7", "-c:v", "png", path}));
    const Movie movie = openMovie(path);
    ASSERT_EQ(movie.clip.frameCount, 7);

    try {
        decode(movie, {2, 9}, PixelDepth::Bits8, 1);
        FAIL() << "a frame past the end was given";
    } catch (const RunError &error) {
        EXPECT_THAT(error.what(), HasSubstr(path + " (frame 9): the movie ends before this frame"));
        EXPECT_THAT(error.what(), HasSubstr("frame 6"));
    }

    Movie wider = movie;
    wider.format.width = 40;
    try {
        decode(wider, {3}, PixelDepth::Bits8, 1);
        FAIL() << "a frame of another size was taken";
    } catch (const RunError &error) {
        EXPECT_THAT(error.what(), HasSubstr(path));
    }

    std::vector<World> worlds;
    worlds.emplace_back(32, 24, PixelDepth::Bits8);
    std::atomic<bool> cancel{false};
    int handedOn = 0;
    DecodeRequest request;
    request.clip = &movie.clip;
    request.format = movie.format;
    request.frames = {1, 5};
    request.cancel = &cancel;
    request.target = [&](std::size_t) {
        return FrameTarget{worlds[0].row(0), worlds[0].rowStride()};
    };
    request.decoded = [&](std::size_t, const FrameTarget &) {
        ++handedOn;
        cancel = true;
    };
    EXPECT_THROW(decodeFrames(request), CancelledError);
    EXPECT_EQ(handedOn, 1) << "decoding stopped at the next frame";
}

} // namespace
