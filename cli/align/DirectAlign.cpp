#include "cli/align/DirectAlign.h"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace framemeld::cli::align {
namespace {

constexpr int kCell = 16;
constexpr float kMinimumGradient = 1.0f / 255.0f; // per pixel, on the smoothed reference
constexpr double kTukey = 4.685;
constexpr double kSigmaFloor = 0.5 / 255.0;
constexpr int kMinimumPoints = 24;
constexpr double kConverged = 1e-3; // level pixels at the corners

Transform normaliser(const DirectLevel &level)
{
    Transform n;
    n.m = {1 / level.scale,
           0,
           -level.centreX / level.scale,
           0,
           1 / level.scale,
           -level.centreY / level.scale,
           0,
           0,
           1};
    return n;
}

Transform denormaliser(const DirectLevel &level)
{
    Transform n;
    n.m = {level.scale, 0, level.centreX, 0, level.scale, level.centreY, 0, 0, 1};
    return n;
}

// The small motion of the parameters, in normalised coordinates.
Transform deltaOf(MotionModel model, const double *p)
{
    Transform d;
    switch (model) {
    case MotionModel::None:
    case MotionModel::Translation: d.m = {1, 0, p[0], 0, 1, p[1], 0, 0, 1}; break;
    case MotionModel::Similarity:
        d.m = {1 + p[0], -p[1], p[2], p[1], 1 + p[0], p[3], 0, 0, 1};
        break;
    case MotionModel::Perspective:
        d.m = {1 + p[0], p[1], p[2], p[3], 1 + p[4], p[5], p[6], p[7], 1};
        break;
    }
    return d;
}

// The gradient of the reference times the motion's derivative at the identity.
void jacobianRow(MotionModel model, double xn, double yn, double gx, double gy, float *row)
{
    switch (model) {
    case MotionModel::None:
    case MotionModel::Translation:
        row[0] = static_cast<float>(gx);
        row[1] = static_cast<float>(gy);
        break;
    case MotionModel::Similarity:
        row[0] = static_cast<float>(gx * xn + gy * yn);
        row[1] = static_cast<float>(-gx * yn + gy * xn);
        row[2] = static_cast<float>(gx);
        row[3] = static_cast<float>(gy);
        break;
    case MotionModel::Perspective: {
        const double radial = gx * xn + gy * yn;
        row[0] = static_cast<float>(gx * xn);
        row[1] = static_cast<float>(gx * yn);
        row[2] = static_cast<float>(gx);
        row[3] = static_cast<float>(gy * xn);
        row[4] = static_cast<float>(gy * yn);
        row[5] = static_cast<float>(gy);
        row[6] = static_cast<float>(-xn * radial);
        row[7] = static_cast<float>(-yn * radial);
        break;
    }
    }
}

// Solves the symmetric positive definite system h x = b (n at most 8) by Cholesky; false when
// it is not positive definite enough to trust.
bool solve(double *h, const double *b, int n, double *x)
{
    double l[64] = {};
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j <= i; ++j) {
            double sum = h[i * n + j];
            for (int k = 0; k < j; ++k) {
                sum -= l[i * n + k] * l[j * n + k];
            }
            if (i == j) {
                if (!(sum > 1e-12 * std::fabs(h[i * n + i])) || !(sum > 0)) {
                    return false;
                }
                l[i * n + i] = std::sqrt(sum);
            } else {
                l[i * n + j] = sum / l[j * n + j];
            }
        }
    }
    double y[8];
    for (int i = 0; i < n; ++i) {
        double sum = b[i];
        for (int k = 0; k < i; ++k) {
            sum -= l[i * n + k] * y[k];
        }
        y[i] = sum / l[i * n + i];
    }
    for (int i = n - 1; i >= 0; --i) {
        double sum = y[i];
        for (int k = i + 1; k < n; ++k) {
            sum -= l[k * n + i] * x[k];
        }
        x[i] = sum / l[i * n + i];
    }
    return true;
}

// Samples the frame at every point moved by w; the count of points it covers.
int sampleFrame(const DirectLevel &level, const Plane &frame, const Transform &w,
                std::vector<float> &sampled, std::vector<std::uint8_t> &covered)
{
    const std::size_t n = level.x.size();
    sampled.resize(n);
    covered.resize(n);
    int count = 0;
    const auto &m = w.m;
    const bool affine = m[6] == 0 && m[7] == 0 && m[8] == 1;
    for (std::size_t k = 0; k < n; ++k) {
        const double x = level.x[k];
        const double y = level.y[k];
        double u = 0, v = 0;
        float value = 0;
        bool inside = true;
        if (affine) {
            u = m[0] * x + m[1] * y + m[2];
            v = m[3] * x + m[4] * y + m[5];
        } else {
            inside = applyTransform(w, x, y, u, v);
        }
        inside = inside && sampleBilinear(frame, u - 0.5, v - 0.5, value);
        covered[k] = inside ? 1 : 0;
        sampled[k] = value;
        count += inside ? 1 : 0;
    }
    return count;
}

// Weighted least squares sampled = gain * value + offset; false when the fitted gain is not
// between 1/2 and 2 (a frame that does not show the reference's texture: flat, another scene),
// the gain then 1 and the offset the mean difference.
bool fitPhotometric(const DirectLevel &level, const std::vector<float> &sampled,
                    const std::vector<std::uint8_t> &use, const std::vector<float> &weight,
                    double &gain, double &offset)
{
    double sw = 0, sr = 0, sf = 0, srr = 0, srf = 0;
    for (std::size_t k = 0; k < sampled.size(); ++k) {
        if (!use[k]) {
            continue;
        }
        const double w = weight[k];
        const double r = level.value[k];
        const double f = sampled[k];
        sw += w;
        sr += w * r;
        sf += w * f;
        srr += w * r * r;
        srf += w * r * f;
    }
    gain = 1;
    offset = 0;
    if (!(sw > 0)) {
        return false;
    }
    bool plausible = false;
    const double spread = sw * srr - sr * sr;
    if (spread > 1e-9 * sw * sw) {
        gain = (sw * srf - sr * sf) / spread;
        plausible = gain >= 0.5 && gain <= 2.0;
    }
    if (!plausible) {
        gain = 1;
    }
    offset = (sf - gain * sr) / sw;
    return plausible;
}

} // namespace

int parameterCount(MotionModel model)
{
    switch (model) {
    case MotionModel::None:
    case MotionModel::Translation: return 2;
    case MotionModel::Similarity: return 4;
    case MotionModel::Perspective: return 8;
    }
    return 2;
}

DirectLevel prepareDirectLevel(const Plane &reference, int shrink, MotionModel model, int perCell)
{
    DirectLevel level;
    level.shrink = shrink;
    level.width = reference.width;
    level.height = reference.height;
    level.parameters = parameterCount(model);
    level.centreX = reference.width / 2.0;
    level.centreY = reference.height / 2.0;
    level.scale = std::max(reference.width, reference.height) / 2.0;

    struct Candidate {
        float strength;
        int x;
        int y;
        float gx;
        float gy;
    };
    std::vector<Candidate> cell;
    for (int cy = 0; cy < reference.height; cy += kCell) {
        for (int cx = 0; cx < reference.width; cx += kCell) {
            cell.clear();
            for (int y = std::max(cy, 2); y < std::min(cy + kCell, reference.height - 2); ++y) {
                for (int x = std::max(cx, 2); x < std::min(cx + kCell, reference.width - 2); ++x) {
                    if (!reference.valid.empty() &&
                        (!reference.validAt(x - 1, y) || !reference.validAt(x + 1, y) ||
                         !reference.validAt(x, y - 1) || !reference.validAt(x, y + 1) ||
                         !reference.validAt(x, y))) {
                        continue;
                    }
                    const float gx = (reference.at(x + 1, y) - reference.at(x - 1, y)) * 0.5f;
                    const float gy = (reference.at(x, y + 1) - reference.at(x, y - 1)) * 0.5f;
                    const float strength = gx * gx + gy * gy;
                    if (strength >= kMinimumGradient * kMinimumGradient) {
                        cell.push_back({strength, x, y, gx, gy});
                    }
                }
            }
            const auto stronger = [](const Candidate &a, const Candidate &b) {
                return std::make_tuple(-a.strength, a.y, a.x) <
                       std::make_tuple(-b.strength, b.y, b.x);
            };
            const std::size_t keep =
                std::min<std::size_t>(cell.size(), static_cast<std::size_t>(perCell));
            std::partial_sort(cell.begin(), cell.begin() + static_cast<std::ptrdiff_t>(keep),
                              cell.end(), stronger);
            for (std::size_t i = 0; i < keep; ++i) {
                const Candidate &c = cell[i];
                const double px = c.x + 0.5;
                const double py = c.y + 0.5;
                level.x.push_back(static_cast<float>(px));
                level.y.push_back(static_cast<float>(py));
                level.value.push_back(reference.at(c.x, c.y));
                const double xn = (px - level.centreX) / level.scale;
                const double yn = (py - level.centreY) / level.scale;
                float row[8];
                jacobianRow(model, xn, yn, static_cast<double>(c.gx) * level.scale,
                            static_cast<double>(c.gy) * level.scale, row);
                level.jacobian.insert(level.jacobian.end(), row, row + level.parameters);
            }
        }
    }
    return level;
}

DirectFit alignDirect(const DirectLevel &level, const Plane &frame, MotionModel model,
                      const Transform &initial, int maxIterations)
{
    DirectFit fit;
    const std::size_t n = level.x.size();
    if (n < static_cast<std::size_t>(kMinimumPoints)) {
        return fit;
    }
    const int p = level.parameters;
    const Transform toNormal = normaliser(level);
    const Transform fromNormal = denormaliser(level);
    Transform w = initial;
    std::vector<float> sampled;
    std::vector<std::uint8_t> covered;
    std::vector<std::uint8_t> excluded(n, 0);
    std::vector<float> weight(n, 1.0f);
    std::vector<float> residual(n);
    std::vector<float> magnitude;
    magnitude.reserve(n);
    double gain = 1, offset = 0;

    // Gauss-Newton steps until the corners move by less than kConverged; false when the frame
    // covers too few points or the steps fail or diverge.
    const auto iterate = [&](int iterations) {
        for (int iteration = 0; iteration < iterations; ++iteration) {
            const int count = sampleFrame(level, frame, w, sampled, covered);
            for (std::size_t k = 0; k < n; ++k) {
                covered[k] = covered[k] && !excluded[k];
            }
            if (count < kMinimumPoints) {
                return false;
            }
            fitPhotometric(level, sampled, covered, weight, gain, offset);
            magnitude.clear();
            for (std::size_t k = 0; k < n; ++k) {
                if (covered[k]) {
                    residual[k] =
                        static_cast<float>((static_cast<double>(sampled[k]) - offset) / gain -
                                           static_cast<double>(level.value[k]));
                    if (k % 4 == 0 ||
                        n < 4096) { // the scale from a quarter of the points is as good
                        magnitude.push_back(std::fabs(residual[k]));
                    }
                }
            }
            if (magnitude.size() < 8) {
                return false;
            }
            // The noise scale from the lower quartile of the residuals (a quarter of Gaussian
            // residuals lie within 0.3186 sigma): unlike the median it holds while up to three
            // quarters of the points disagree (what moves, what is misaligned at first).
            const auto quartile =
                magnitude.begin() + static_cast<std::ptrdiff_t>(magnitude.size() / 4);
            std::nth_element(magnitude.begin(), quartile, magnitude.end());
            const double sigma = std::max(static_cast<double>(*quartile) / 0.3186, kSigmaFloor);
            const double limit = kTukey * sigma;
            double h[64] = {};
            double b[8] = {};
            for (std::size_t k = 0; k < n; ++k) {
                if (!covered[k]) {
                    weight[k] = 0;
                    continue;
                }
                const double u = static_cast<double>(residual[k]) / limit;
                const double tukey = std::fabs(u) < 1 ? (1 - u * u) * (1 - u * u) : 0.0;
                weight[k] = static_cast<float>(tukey);
                if (tukey == 0) {
                    continue;
                }
                const float *j = level.jacobian.data() + k * static_cast<std::size_t>(p);
                for (int a = 0; a < p; ++a) {
                    const double wa = tukey * static_cast<double>(j[a]);
                    b[a] += wa * static_cast<double>(residual[k]);
                    for (int c = 0; c <= a; ++c) {
                        h[a * p + c] += wa * static_cast<double>(j[c]);
                    }
                }
            }
            for (int a = 0; a < p; ++a) {
                for (int c = a + 1; c < p; ++c) {
                    h[a * p + c] = h[c * p + a];
                }
            }
            double step[8] = {};
            if (!solve(h, b, p, step)) {
                return false;
            }
            const Transform delta = multiply(fromNormal, multiply(deltaOf(model, step), toNormal));
            Transform undo;
            if (!invert(delta, undo)) {
                return false;
            }
            const double moved = cornerDisplacement(delta, level.width, level.height);
            if (!(moved < std::max(level.width, level.height))) {
                return false; // diverging
            }
            w = normalised(multiply(w, undo));
            if (moved < kConverged) {
                break;
            }
        }
        return true;
    };
    if (!iterate(maxIterations)) {
        return fit;
    }

    // Whatever moves is rejected point by point, but the points along its outline disagree only
    // in part and keep some weight, on one side of the frame: a pull. Cells where many points
    // were rejected, and the cells around them, are left out, and the fit is run again.
    const int columns = (level.width + kCell - 1) / kCell;
    const int rows = (level.height + kCell - 1) / kCell;
    const auto cellOf = [&](std::size_t k) {
        const int cx = std::clamp(static_cast<int>(level.x[k]) / kCell, 0, columns - 1);
        const int cy = std::clamp(static_cast<int>(level.y[k]) / kCell, 0, rows - 1);
        return static_cast<std::size_t>(cy * columns + cx);
    };
    std::vector<int> seen(static_cast<std::size_t>(columns * rows), 0);
    std::vector<int> rejected(seen.size(), 0);
    for (std::size_t k = 0; k < n; ++k) {
        if (covered[k]) {
            ++seen[cellOf(k)];
            rejected[cellOf(k)] += weight[k] == 0 ? 1 : 0;
        }
    }
    std::vector<std::uint8_t> bad(seen.size(), 0);
    bool anyBad = false;
    for (int cy = 0; cy < rows; ++cy) {
        for (int cx = 0; cx < columns; ++cx) {
            const auto c = static_cast<std::size_t>(cy * columns + cx);
            if (seen[c] >= 3 && 5 * rejected[c] >= 2 * seen[c]) {
                for (int dy = -1; dy <= 1; ++dy) {
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int x = cx + dx, y = cy + dy;
                        if (x >= 0 && y >= 0 && x < columns && y < rows) {
                            bad[static_cast<std::size_t>(y * columns + x)] = 1;
                            anyBad = true;
                        }
                    }
                }
            }
        }
    }
    if (anyBad) {
        std::size_t kept = 0;
        for (std::size_t k = 0; k < n; ++k) {
            excluded[k] = bad[cellOf(k)];
            kept += excluded[k] ? 0u : 1u;
        }
        // Only when enough is left to fit: otherwise the first fit stands.
        if (kept >= n / 5 && kept >= static_cast<std::size_t>(4 * kMinimumPoints)) {
            const Transform before = w;
            if (!iterate(maxIterations)) {
                w = before;
            }
        }
    }
    fit = measureAgreement(level, frame, w, 12.0 / 255.0);
    return fit;
}

DirectFit measureAgreement(const DirectLevel &level, const Plane &frame,
                           const Transform &referenceToFrame, double tolerance)
{
    DirectFit fit;
    fit.referenceToFrame = referenceToFrame;
    std::vector<float> sampled;
    std::vector<std::uint8_t> covered;
    const int count = sampleFrame(level, frame, referenceToFrame, sampled, covered);
    fit.points = count;
    if (count < kMinimumPoints) {
        return fit;
    }
    const std::size_t n = level.x.size();
    std::vector<float> weight(n, 1.0f);
    std::vector<std::uint8_t> agree = covered;
    double gain = 1, offset = 0;
    int agreeing = 0;
    double squares = 0;
    // The gain over every covered point first: a frame whose grey levels do not follow the
    // reference's at all supports nothing, however many of its pixels happen to be near the mean.
    if (!fitPhotometric(level, sampled, covered, weight, gain, offset)) {
        return fit;
    }
    for (int round = 0; round < 3; ++round) {
        fitPhotometric(level, sampled, agree, weight, gain, offset);
        agreeing = 0;
        squares = 0;
        for (std::size_t k = 0; k < n; ++k) {
            agree[k] = 0;
            if (!covered[k]) {
                continue;
            }
            const double r = (static_cast<double>(sampled[k]) - offset) / gain -
                             static_cast<double>(level.value[k]);
            if (std::fabs(r) <= tolerance) {
                agree[k] = 1;
                ++agreeing;
                squares += r * r;
            }
        }
        if (agreeing == 0) {
            break;
        }
    }
    fit.ok = agreeing >= kMinimumPoints;
    fit.gain = gain;
    fit.offset = offset;
    fit.support = static_cast<double>(agreeing) / count;
    fit.residual = agreeing > 0 ? std::sqrt(squares / agreeing) * 255.0 : 0.0;
    return fit;
}

} // namespace framemeld::cli::align
