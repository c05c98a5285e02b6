// Renders a clean plate of a generated clip (a static background crossed by a moving square) at
// 8, 16 and 32 bits per channel through the host runner and the built plug-in module, and checks
// that the square is gone: every plate pixel must equal the background.
//
//   framemeld_plate_demo [path/to/Framemeld.so]
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>

#include "AE_Effect.h"
#include "runner/Host.h"

namespace rn = framemeld::runner;

namespace {

constexpr int kWidth = 96;
constexpr int kHeight = 54;
constexpr int kFrames = 30;
constexpr int kSquare = 14;

// Background channel c (0 alpha .. 3 blue) at (x, y), as a fraction of full scale.
double Background(int x, int y, int c)
{
    if (c == 0) {
        return 1.0;
    }
    const bool check = ((x / 8) + (y / 8)) % 2 == 0;
    const double ramp[] = {0.0, static_cast<double>(x) / kWidth, static_cast<double>(y) / kHeight,
                           0.5};
    return 0.15 + 0.6 * ramp[c] + (check ? 0.1 : 0.0);
}

// The square's corner in frame f: it crosses the picture diagonally.
bool InSquare(int f, int x, int y)
{
    const int left = f * (kWidth - kSquare) / (kFrames - 1);
    const int top = f * (kHeight - kSquare) / (kFrames - 1);
    return x >= left && x < left + kSquare && y >= top && y < top + kSquare;
}

double Channel(int f, int x, int y, int c)
{
    if (InSquare(f, x, y)) {
        const double square[] = {1.0, 0.95, 0.1, 0.05};
        return square[c];
    }
    return Background(x, y, c);
}

template <typename Pixel> void Store(Pixel &p, double a, double r, double g, double b, double scale)
{
    using Channel = decltype(p.alpha);
    p.alpha = static_cast<Channel>(a * scale);
    p.red = static_cast<Channel>(r * scale);
    p.green = static_cast<Channel>(g * scale);
    p.blue = static_cast<Channel>(b * scale);
}

void Paint(rn::World &world, double (*value)(int, int, int, int), int f)
{
    const double scale = rn::channelFullScale(world.depth());
    for (int y = 0; y < world.height(); ++y) {
        for (int x = 0; x < world.width(); ++x) {
            const double a = value(f, x, y, 0), r = value(f, x, y, 1), g = value(f, x, y, 2),
                         b = value(f, x, y, 3);
            switch (world.depth()) {
            case rn::PixelDepth::Bits8: Store(world.at<PF_Pixel8>(x, y), a, r, g, b, scale); break;
            case rn::PixelDepth::Bits16:
                Store(world.at<PF_Pixel16>(x, y), a, r, g, b, scale);
                break;
            case rn::PixelDepth::Float32:
                Store(world.at<PF_PixelFloat>(x, y), a, r, g, b, scale);
                break;
            }
        }
    }
}

double BackgroundOnly(int, int x, int y, int c)
{
    return Background(x, y, c);
}

// Integer depths must match exactly (their means are exact); float means of equal values may
// differ from the value in the last bits, so they are held to a millionth of full scale.
template <typename Pixel> bool Same(const rn::World &a, const rn::World &b, int x, int y)
{
    const Pixel &p = a.at<Pixel>(x, y);
    const Pixel &q = b.at<Pixel>(x, y);
    const double tolerance = a.depth() == rn::PixelDepth::Float32 ? 1e-6 : 0.0;
    auto near = [tolerance](double u, double v) { return std::fabs(u - v) <= tolerance; };
    return near(p.alpha, q.alpha) && near(p.red, q.red) && near(p.green, q.green) &&
           near(p.blue, q.blue);
}

bool SamePixel(const rn::World &a, const rn::World &b, int x, int y)
{
    switch (a.depth()) {
    case rn::PixelDepth::Bits8: return Same<PF_Pixel8>(a, b, x, y);
    case rn::PixelDepth::Bits16: return Same<PF_Pixel16>(a, b, x, y);
    case rn::PixelDepth::Float32: return Same<PF_PixelFloat>(a, b, x, y);
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string modulePath = argc > 1 ? argv[1] : FRAMEMELD_MODULE_PATH;
    try {
        rn::PluginModule module(modulePath);
        int failures = 0;
        for (rn::PixelDepth depth :
             {rn::PixelDepth::Bits8, rn::PixelDepth::Bits16, rn::PixelDepth::Float32}) {
            rn::InMemoryFrameSource clip(kWidth, kHeight, depth);
            for (int f = 0; f < kFrames; ++f) {
                Paint(clip.addFrame(), Channel, f);
            }
            rn::World background(kWidth, kHeight, depth);
            Paint(background, BackgroundOnly, 0);

            rn::Host host(module.entryPoint());
            if (!host.setup().ok()) {
                std::fprintf(stderr, "plate_demo: the effect did not set up\n");
                return 1;
            }
            host.setParameter("Start Frame", 0);
            host.setParameter("End Frame", kFrames - 1);
            host.setParameter("Every n-th Frame", 1);

            const auto started = std::chrono::steady_clock::now();
            const rn::RenderResult result = host.render(clip);
            const auto elapsed = std::chrono::duration<double, std::milli>(
                std::chrono::steady_clock::now() - started);
            const int bits = rn::bitsPerChannel(depth);
            if (result.err() != PF_Err_NONE || !result.output.valid()) {
                std::printf("%2d-bit: render failed with error %d\n", bits,
                            static_cast<int>(result.err()));
                ++failures;
                continue;
            }

            int crossed = 0;
            int background_pixels = 0;
            for (int y = 0; y < kHeight; ++y) {
                for (int x = 0; x < kWidth; ++x) {
                    bool covered = false;
                    for (int f = 0; f < kFrames && !covered; ++f) {
                        covered = InSquare(f, x, y);
                    }
                    crossed += covered ? 1 : 0;
                    background_pixels += SamePixel(result.output, background, x, y) ? 1 : 0;
                }
            }
            const bool clean = background_pixels == kWidth * kHeight;
            std::printf(
                "%2d-bit: %dx%d plate from %d frames in %.0f ms on %u threads: %d of %d pixels are "
                "background (%d crossed by the square): %s\n",
                bits, kWidth, kHeight, kFrames, elapsed.count(), host.threadCount(),
                background_pixels, kWidth * kHeight, crossed,
                clean ? "the square is gone" : "THE SQUARE REMAINS");
            failures += clean ? 0 : 1;
        }
        return failures == 0 ? 0 : 1;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "plate_demo: %s\n", error.what());
        return 1;
    }
}
