#include "cli/footage/MotionEstimate.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "cli/core/ParallelItems.h"

namespace framemeld::cli {
namespace {

constexpr int kGrid = 3;                   // tiles along each axis
constexpr int kSearch = 4;                 // the integer search, in coarsest-level pixels
constexpr int kCoarsestSide = 128;         // the pyramid stops once the longer side is this short
constexpr int kSmallestSide = 16;          // ... or a halving would leave a tile too small to match
constexpr std::size_t kFineSamples = 1500; // samples per tile on the finer levels, at most
constexpr std::size_t kCoarseSamples = 160; // ... and on the coarsest, where 81 shifts are tried
constexpr double kTukey = 4.685;            // Tukey's constant: 95 % efficiency on clean pixels
constexpr double kSigmaFloor = 1.0 / 4096;  // the noise of footage with none, full scale 1
// A tile whose registration is less certain than this (one standard deviation, footage pixels)
// gives no figure: a tenth of a pixel is far below the threshold that matters.
constexpr double kLargestUncertainty = 0.1;
// Below this mean squared gradient (full scale 1, per proxy pixel) a tile is flat whatever its
// noise says.
constexpr double kFlatGradient = 1e-7;
// A tile whose residual is more than this share of its own contrast does not show the same scene
// in both frames.
constexpr double kLargestResidualShare = 0.5;
constexpr double kTranslationAgreement = 0.5; // footage pixels
constexpr double kSimilarityAgreement = 0.75; // footage pixels
// A turn or a zoom must explain this many more tiles than a shift, and the shift no more than
// half, or the extra ones are taken for something moving in front of the camera.
constexpr int kSimilarityMargin = 2;
constexpr int kLeastAgreeingTiles = 3;

struct Plane {
    int width = 0;
    int height = 0;
    std::vector<float> values;

    double at(int x, int y) const
    {
        return static_cast<double>(
            values[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                   static_cast<std::size_t>(x)]);
    }
    // Bilinear; NaN outside the plane or next to a value that is not finite.
    double sample(double x, double y) const
    {
        const double fx = std::floor(x);
        const double fy = std::floor(y);
        const int x0 = static_cast<int>(fx);
        const int y0 = static_cast<int>(fy);
        if (x0 < 0 || y0 < 0 || x0 + 1 >= width || y0 + 1 >= height) {
            return std::numeric_limits<double>::quiet_NaN();
        }
        const double ax = x - fx;
        const double ay = y - fy;
        const double top = at(x0, y0) + ax * (at(x0 + 1, y0) - at(x0, y0));
        const double bottom = at(x0, y0 + 1) + ax * (at(x0 + 1, y0 + 1) - at(x0, y0 + 1));
        return top + ay * (bottom - top);
    }
};

Plane halved(const Plane &plane)
{
    Plane half;
    half.width = plane.width / 2;
    half.height = plane.height / 2;
    half.values.resize(static_cast<std::size_t>(half.width) *
                       static_cast<std::size_t>(half.height));
    for (int y = 0; y < half.height; ++y) {
        for (int x = 0; x < half.width; ++x) {
            // A NaN stays one, so a block with an unusable sample stays unusable.
            half.values[static_cast<std::size_t>(y) * static_cast<std::size_t>(half.width) +
                        static_cast<std::size_t>(x)] =
                static_cast<float>(0.25 *
                                   (plane.at(2 * x, 2 * y) + plane.at(2 * x + 1, 2 * y) +
                                    plane.at(2 * x, 2 * y + 1) + plane.at(2 * x + 1, 2 * y + 1)));
        }
    }
    return half;
}

// The plane under a [1 2 1] / 4 filter each way: grain, which the registration's gradients would
// otherwise take for texture, drops to three eighths, while the structure a shift is measured on
// stays. The edges keep their values.
Plane smoothed(const GreyProxy &proxy)
{
    Plane plane;
    plane.width = proxy.width;
    plane.height = proxy.height;
    const auto width = static_cast<std::size_t>(proxy.width);
    const auto height = static_cast<std::size_t>(proxy.height);
    if (width < 3 || height < 3) {
        plane.values = proxy.values;
        return plane;
    }
    plane.values.resize(width * height);
    std::vector<float> column(width);
    for (std::size_t y = 0; y < height; ++y) {
        const float *in = proxy.values.data() + y * width;
        float *out = plane.values.data() + y * width;
        if (y == 0 || y + 1 == height) {
            std::copy(in, in + width, out);
            continue;
        }
        const float *above = in - width;
        const float *below = in + width;
        for (std::size_t x = 0; x < width; ++x) {
            column[x] = 0.25f * above[x] + 0.5f * in[x] + 0.25f * below[x];
        }
        out[0] = column[0];
        for (std::size_t x = 1; x + 1 < width; ++x) {
            out[x] = 0.25f * column[x - 1] + 0.5f * column[x] + 0.25f * column[x + 1];
        }
        out[width - 1] = column[width - 1];
    }
    return plane;
}

// Levels from the proxy (0) down to the coarsest, where the integer search runs.
std::vector<Plane> pyramidOf(const GreyProxy &proxy)
{
    std::vector<Plane> levels(1, smoothed(proxy));
    while (std::max(levels.back().width, levels.back().height) > kCoarsestSide &&
           std::min(levels.back().width, levels.back().height) / 2 >= kGrid * kSmallestSide) {
        levels.push_back(halved(levels.back()));
    }
    return levels;
}

struct Rect {
    int left, top, right, bottom;
};

Rect tileRect(const Plane &plane, int tile)
{
    const int i = tile % kGrid;
    const int j = tile / kGrid;
    return Rect{plane.width * i / kGrid, plane.height * j / kGrid, plane.width * (i + 1) / kGrid,
                plane.height * (j + 1) / kGrid};
}

// A reference pixel the registration compares: its place, value and gradient.
struct Sample {
    double x, y, value, gx, gy;
};

std::vector<Sample> samplesOf(const Plane &plane, const Rect &rect, int step)
{
    std::vector<Sample> samples;
    for (int y = std::max(rect.top, 1); y < std::min(rect.bottom, plane.height - 1); y += step) {
        for (int x = std::max(rect.left, 1); x < std::min(rect.right, plane.width - 1); x += step) {
            const double v = plane.at(x, y);
            const double gx = 0.5 * (plane.at(x + 1, y) - plane.at(x - 1, y));
            const double gy = 0.5 * (plane.at(x, y + 1) - plane.at(x, y - 1));
            if (std::isfinite(v) && std::isfinite(gx) && std::isfinite(gy)) {
                samples.push_back(
                    Sample{static_cast<double>(x), static_cast<double>(y), v, gx, gy});
            }
        }
    }
    return samples;
}

// The spread of the samples' values.
double contrastOf(const std::vector<Sample> &samples)
{
    double sum = 0;
    double squares = 0;
    for (const Sample &s : samples) {
        sum += s.value;
        squares += s.value * s.value;
    }
    const double n = static_cast<double>(std::max<std::size_t>(samples.size(), 1));
    return std::sqrt(std::max(0.0, squares / n - (sum / n) * (sum / n)));
}

// What the reference offers each tile, on every level.
struct ReferenceTiles {
    std::vector<Plane> levels;
    // [level][tile]: a spread of the tile's pixels, the same for every frame.
    std::vector<std::vector<std::vector<Sample>>> samples;
    std::vector<double> contrast; // per tile, the spread of its finest-level values
};

ReferenceTiles referenceTiles(const GreyProxy &proxy)
{
    ReferenceTiles reference;
    reference.levels = pyramidOf(proxy);
    const std::size_t coarsest = reference.levels.size() - 1;
    reference.samples.resize(reference.levels.size());
    for (std::size_t level = 0; level < reference.levels.size(); ++level) {
        const Plane &plane = reference.levels[level];
        for (int tile = 0; tile < kGrid * kGrid; ++tile) {
            const Rect rect = tileRect(plane, tile);
            const auto pixels = static_cast<std::size_t>(rect.right - rect.left) *
                                static_cast<std::size_t>(rect.bottom - rect.top);
            const std::size_t most = level == coarsest ? kCoarseSamples : kFineSamples;
            int step = 1;
            while (pixels / static_cast<std::size_t>(step * step) > most) {
                ++step;
            }
            reference.samples[level].push_back(samplesOf(plane, rect, step));
        }
    }
    for (const std::vector<Sample> &tile : reference.samples[0]) {
        reference.contrast.push_back(contrastOf(tile));
    }
    return reference;
}

// The whole-pixel shift of the tile on the coarsest level with the least mean absolute
// difference, each difference cut at a quarter of the tile's contrast: a pixel that does not
// match counts the same however bright it is, so a bright object over a third of the tile cannot
// pull the tile along. False when no shift leaves half the tile inside the frame.
bool searchTile(const std::vector<Sample> &samples, const Plane &frame, int &bestX, int &bestY)
{
    const double cut = std::max(0.25 * contrastOf(samples), 4 * kSigmaFloor);
    double bestCost = std::numeric_limits<double>::infinity();
    for (int dy = -kSearch; dy <= kSearch; ++dy) {
        for (int dx = -kSearch; dx <= kSearch; ++dx) {
            double sum = 0;
            std::size_t count = 0;
            for (const Sample &s : samples) {
                const int x = static_cast<int>(s.x) + dx;
                const int y = static_cast<int>(s.y) + dy;
                if (x < 0 || y < 0 || x >= frame.width || y >= frame.height) {
                    continue;
                }
                const double v = frame.at(x, y);
                if (std::isfinite(v)) {
                    sum += std::min(std::fabs(v - s.value), cut);
                    ++count;
                }
            }
            if (count == 0 || 2 * count < samples.size()) {
                continue;
            }
            const double cost = sum / static_cast<double>(count);
            // Ties go to the smaller shift, so a flat tile does not wander.
            if (cost < bestCost ||
                (cost == bestCost && dx * dx + dy * dy < bestX * bestX + bestY * bestY)) {
                bestCost = cost;
                bestX = dx;
                bestY = dy;
            }
        }
    }
    return std::isfinite(bestCost);
}

struct Refinement {
    bool usable = false;
    double dx = 0, dy = 0;
    double sigma = 0;      // the robust spread of the residual
    double leastCurve = 0; // the smaller eigenvalue of the weighted gradient matrix
};

// Gauss-Newton on the Tukey-weighted difference frame(x + d) - reference(x), with the
// reference's gradient; the weights' scale is the median absolute residual of each pass.
Refinement refineTile(const std::vector<Sample> &samples, const Plane &frame, double dx, double dy,
                      int passes)
{
    Refinement result;
    std::vector<double> residuals(samples.size());
    std::vector<double> magnitudes;
    magnitudes.reserve(samples.size());
    for (int pass = 0; pass < passes; ++pass) {
        magnitudes.clear();
        std::size_t compared = 0;
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const Sample &s = samples[i];
            residuals[i] = frame.sample(s.x + dx, s.y + dy) - s.value;
            if (std::isfinite(residuals[i])) {
                ++compared;
                // Every other one is enough for the scale, at half the selection's cost.
                if (i % 2 == 0) {
                    magnitudes.push_back(std::fabs(residuals[i]));
                }
            }
        }
        if (magnitudes.size() < 16 || 2 * compared < samples.size()) {
            result.usable = false;
            return result;
        }
        const auto middle = magnitudes.begin() + static_cast<std::ptrdiff_t>(magnitudes.size() / 2);
        std::nth_element(magnitudes.begin(), middle, magnitudes.end());
        const double sigma = std::max(1.4826 * *middle, kSigmaFloor);
        const double cut = kTukey * sigma;
        double hxx = 0, hxy = 0, hyy = 0, bx = 0, by = 0, weights = 0;
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const double r = residuals[i];
            if (!std::isfinite(r) || std::fabs(r) >= cut) {
                continue;
            }
            const double u = r / cut;
            const double w = (1 - u * u) * (1 - u * u);
            const Sample &s = samples[i];
            hxx += w * s.gx * s.gx;
            hxy += w * s.gx * s.gy;
            hyy += w * s.gy * s.gy;
            bx += w * s.gx * r;
            by += w * s.gy * r;
            weights += w;
        }
        const double det = hxx * hyy - hxy * hxy;
        const double trace = hxx + hyy;
        result.sigma = sigma;
        result.leastCurve =
            0.5 * (trace - std::sqrt(std::max(0.0, (hxx - hyy) * (hxx - hyy) + 4 * hxy * hxy)));
        if (weights <= 0 || !(det > 0) || result.leastCurve <= kFlatGradient * weights) {
            result.usable = false;
            return result;
        }
        const double stepX = -(hyy * bx - hxy * by) / det;
        const double stepY = -(hxx * by - hxy * bx) / det;
        dx += std::clamp(stepX, -2.0, 2.0);
        dy += std::clamp(stepY, -2.0, 2.0);
        result.usable = true;
        if (stepX * stepX + stepY * stepY < 2.5e-5) {
            break;
        }
    }
    result.dx = dx;
    result.dy = dy;
    return result;
}

struct TileShift {
    double cx, cy; // the tile's centre, footage pixels
    double dx, dy; // where its content lies in the frame against the reference, footage pixels
};

// The tiles of a frame that could be registered.
std::vector<TileShift> tileShifts(const ReferenceTiles &reference, const GreyProxy &proxy)
{
    const std::vector<Plane> levels = pyramidOf(proxy);
    const std::size_t coarsest = reference.levels.size() - 1;
    const double scale = proxy.scale;
    const double reach = static_cast<double>(kSearch << coarsest) + 2.0;
    std::vector<TileShift> shifts;
    for (int tile = 0; tile < kGrid * kGrid; ++tile) {
        int sx = 0;
        int sy = 0;
        if (!searchTile(reference.samples[coarsest][static_cast<std::size_t>(tile)],
                        levels[coarsest], sx, sy)) {
            continue;
        }
        double dx = sx;
        double dy = sy;
        Refinement refined;
        for (std::size_t level = coarsest + 1; level-- > 0;) {
            refined = refineTile(reference.samples[level][static_cast<std::size_t>(tile)],
                                 levels[level], dx, dy, level == 0 ? 5 : 2);
            if (!refined.usable) {
                break;
            }
            dx = refined.dx;
            dy = refined.dy;
            if (level > 0) {
                dx *= 2;
                dy *= 2;
            }
        }
        if (!refined.usable || std::fabs(dx) > reach || std::fabs(dy) > reach) {
            continue;
        }
        const double uncertainty = scale * refined.sigma / std::sqrt(refined.leastCurve);
        if (uncertainty > kLargestUncertainty ||
            refined.sigma >
                kLargestResidualShare * reference.contrast[static_cast<std::size_t>(tile)]) {
            continue;
        }
        const Rect rect = tileRect(reference.levels[0], tile);
        shifts.push_back(TileShift{0.5 * (rect.left + rect.right) * scale,
                                   0.5 * (rect.top + rect.bottom) * scale, dx * scale, dy * scale});
    }
    return shifts;
}

struct FrameMotion {
    bool measured = false;
    double largest = 0;
    bool tilesDisagree = false;
};

// The motion most tiles agree on: a shift, unless a turn or zoom explains clearly more of them.
FrameMotion frameMotion(const std::vector<TileShift> &tiles)
{
    FrameMotion motion;
    if (tiles.size() < static_cast<std::size_t>(kLeastAgreeingTiles)) {
        return motion;
    }
    const auto agreeing = [&tiles](auto &&predicted, double tolerance) {
        std::vector<std::size_t> members;
        for (std::size_t k = 0; k < tiles.size(); ++k) {
            double px = 0;
            double py = 0;
            predicted(tiles[k], px, py);
            if (std::hypot(tiles[k].dx - px, tiles[k].dy - py) <= tolerance) {
                members.push_back(k);
            }
        }
        return members;
    };
    std::vector<std::size_t> shifted;
    for (const TileShift &h : tiles) {
        auto members = agreeing(
            [&h](const TileShift &, double &px, double &py) {
                px = h.dx;
                py = h.dy;
            },
            kTranslationAgreement);
        if (members.size() > shifted.size()) {
            shifted = std::move(members);
        }
    }
    std::vector<std::size_t> turned;
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        for (std::size_t j = i + 1; j < tiles.size(); ++j) {
            // The similarity x' = [a -b; b a] x + t through the two tiles' centres.
            const TileShift &p = tiles[i];
            const TileShift &q = tiles[j];
            const double ux = q.cx - p.cx, uy = q.cy - p.cy;
            const double vx = (q.cx + q.dx) - (p.cx + p.dx), vy = (q.cy + q.dy) - (p.cy + p.dy);
            const double norm = ux * ux + uy * uy;
            if (norm <= 0) {
                continue;
            }
            const double a = (ux * vx + uy * vy) / norm;
            const double b = (ux * vy - uy * vx) / norm;
            const double tx = p.cx + p.dx - (a * p.cx - b * p.cy);
            const double ty = p.cy + p.dy - (b * p.cx + a * p.cy);
            auto members = agreeing(
                [=](const TileShift &t, double &px, double &py) {
                    px = a * t.cx - b * t.cy + tx - t.cx;
                    py = b * t.cx + a * t.cy + ty - t.cy;
                },
                kSimilarityAgreement);
            if (members.size() > turned.size()) {
                turned = std::move(members);
            }
        }
    }
    // A shift most tiles agree on stands: a turn fitted through the rest would only be fitting
    // people and their shadows.
    const bool turns =
        2 * shifted.size() <= tiles.size() &&
        turned.size() >= shifted.size() + static_cast<std::size_t>(kSimilarityMargin);
    const std::vector<std::size_t> &members = turns ? turned : shifted;
    if (members.size() < static_cast<std::size_t>(kLeastAgreeingTiles)) {
        return motion;
    }
    motion.measured = true;
    motion.tilesDisagree = turns;
    if (turns) {
        // The tiles move apart: the largest move among those the turn or zoom explains.
        for (const std::size_t k : members) {
            motion.largest = std::max(motion.largest, std::hypot(tiles[k].dx, tiles[k].dy));
        }
    } else {
        // One shift, measured by every tile that agrees on it: their mean is the surer figure.
        double sx = 0;
        double sy = 0;
        for (const std::size_t k : members) {
            sx += tiles[k].dx;
            sy += tiles[k].dy;
        }
        const double n = static_cast<double>(members.size());
        motion.largest = std::hypot(sx / n, sy / n);
    }
    return motion;
}

} // namespace

std::string MotionMeasurement::suggestedAlign() const
{
    if (!moves()) {
        return {};
    }
    return tilesDisagree ? "similarity" : "translation";
}

MotionMeasurement measureMotion(const std::vector<std::pair<int, const GreyProxy *>> &frames,
                                std::size_t reference, int threads)
{
    MotionMeasurement measurement;
    if (frames.size() < 2 || reference >= frames.size()) {
        measurement.reason = "fewer than two frames sampled";
        return measurement;
    }
    measurement.reference = frames[reference].first;
    const GreyProxy &referenceProxy = *frames[reference].second;
    if (referenceProxy.width < kGrid * kSmallestSide ||
        referenceProxy.height < kGrid * kSmallestSide) {
        measurement.reason = "the frames are too small to register";
        return measurement;
    }
    const ReferenceTiles tiles = referenceTiles(referenceProxy);

    std::vector<FrameMotion> motions(frames.size());
    forEachItem(frames.size(), threads, [&](std::size_t i) {
        const GreyProxy &proxy = *frames[i].second;
        if (i != reference && proxy.width == referenceProxy.width &&
            proxy.height == referenceProxy.height) {
            motions[i] = frameMotion(tileShifts(tiles, proxy));
        }
    });

    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (i == reference) {
            continue;
        }
        const FrameMotion &motion = motions[i];
        if (!motion.measured) {
            ++measurement.framesWithoutTexture;
            continue;
        }
        ++measurement.framesMeasured;
        if (motion.largest > measurement.largestDisplacement || measurement.largestFrame < 0) {
            measurement.largestDisplacement = motion.largest;
            measurement.largestFrame = frames[i].first;
        }
        // Only frames that move count towards the model: a still frame's tiles agree anyway.
        if (motion.tilesDisagree && motion.largest > kMotionThreshold) {
            measurement.tilesDisagree = true;
        }
    }
    measurement.measured = measurement.framesMeasured > 0;
    if (!measurement.measured) {
        measurement.reason = "the frames have too little texture to register";
        measurement.largestFrame = -1;
    }
    return measurement;
}

} // namespace framemeld::cli
