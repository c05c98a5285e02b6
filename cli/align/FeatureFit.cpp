#include "cli/align/FeatureFit.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <tuple>

#include <opencv2/calib3d.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>

namespace framemeld::cli::align {
namespace {

constexpr int kGridColumns = 16;
constexpr int kGridRows = 9;
constexpr int kFeaturesWanted = 800;
constexpr float kRatio = 0.8f;
constexpr double kRansacThreshold = 1.5; // pixels of the feature plane
constexpr int kMinimumFeatures = 24;
constexpr int kMinimumMatches = 12;
constexpr int kMinimumInliers = 10;
constexpr double kMinimumInlierShare = 0.15;

// Keeps the strongest keypoints of each grid cell, then sorts them by position so that their
// order never depends on how the detector split its work.
std::vector<cv::KeyPoint> spread(std::vector<cv::KeyPoint> keypoints, int width, int height)
{
    const auto byStrength = [](const cv::KeyPoint &a, const cv::KeyPoint &b) {
        return std::make_tuple(-a.response, a.pt.y, a.pt.x, a.octave, a.size) <
               std::make_tuple(-b.response, b.pt.y, b.pt.x, b.octave, b.size);
    };
    std::sort(keypoints.begin(), keypoints.end(), byStrength);
    const int perCell =
        (kFeaturesWanted + kGridColumns * kGridRows - 1) / (kGridColumns * kGridRows);
    std::vector<int> taken(static_cast<std::size_t>(kGridColumns * kGridRows), 0);
    std::vector<cv::KeyPoint> kept;
    for (const cv::KeyPoint &k : keypoints) {
        const int column =
            std::clamp(static_cast<int>(static_cast<double>(k.pt.x) * kGridColumns / width), 0,
                       kGridColumns - 1);
        const int row = std::clamp(
            static_cast<int>(static_cast<double>(k.pt.y) * kGridRows / height), 0, kGridRows - 1);
        int &count = taken[static_cast<std::size_t>(row * kGridColumns + column)];
        if (count < perCell) {
            ++count;
            kept.push_back(k);
        }
    }
    std::sort(kept.begin(), kept.end(), [](const cv::KeyPoint &a, const cv::KeyPoint &b) {
        return std::make_tuple(a.pt.y, a.pt.x, a.octave, -a.response, a.size, a.angle) <
               std::make_tuple(b.pt.y, b.pt.x, b.octave, -b.response, b.size, b.angle);
    });
    return kept;
}

// Hamming distances of binary descriptors, 8 bytes at a time; the processor's popcount
// instruction where it has one.
__attribute__((target("popcnt"))) int hammingPopcnt(const std::uint64_t *a, const std::uint64_t *b,
                                                    int words)
{
    int d = 0;
    for (int i = 0; i < words; ++i) {
        d += __builtin_popcountll(a[i] ^ b[i]);
    }
    return d;
}

int hammingPortable(const std::uint64_t *a, const std::uint64_t *b, int words)
{
    int d = 0;
    for (int i = 0; i < words; ++i) {
        d += __builtin_popcountll(a[i] ^ b[i]);
    }
    return d;
}

struct Match {
    std::size_t query = 0;
    std::size_t train = 0;
    int best = 0;
    int second = 0;
};

// For every query descriptor, its nearest train descriptor and the distance of the second
// nearest (brute force; ties go to the lower index, so the result depends on nothing else).
template <int (*Distance)(const std::uint64_t *, const std::uint64_t *, int)>
std::vector<Match> nearestTwoWith(const std::vector<std::uint64_t> &query, std::size_t queries,
                                  const std::vector<std::uint64_t> &train, std::size_t trains,
                                  int words)
{
    std::vector<Match> matches;
    if (trains < 2) {
        return matches;
    }
    matches.reserve(queries);
    for (std::size_t q = 0; q < queries; ++q) {
        const std::uint64_t *a = query.data() + q * static_cast<std::size_t>(words);
        Match m;
        m.query = q;
        m.best = m.second = 1 << 30;
        for (std::size_t t = 0; t < trains; ++t) {
            const int d = Distance(a, train.data() + t * static_cast<std::size_t>(words), words);
            if (d < m.best) {
                m.second = m.best;
                m.best = d;
                m.train = t;
            } else if (d < m.second) {
                m.second = d;
            }
        }
        matches.push_back(m);
    }
    return matches;
}

// Descriptor rows as whole 64-bit words, the last one padded with zeros.
std::vector<std::uint64_t> wordsOf(const cv::Mat &descriptors, int words)
{
    std::vector<std::uint64_t> out(
        static_cast<std::size_t>(descriptors.rows) * static_cast<std::size_t>(words), 0);
    for (int r = 0; r < descriptors.rows; ++r) {
        std::memcpy(out.data() + static_cast<std::size_t>(r) * static_cast<std::size_t>(words),
                    descriptors.ptr(r), static_cast<std::size_t>(descriptors.cols));
    }
    return out;
}

std::vector<Match> nearestTwo(const cv::Mat &query, const cv::Mat &train)
{
    const int words = (query.cols + 7) / 8;
    const std::vector<std::uint64_t> q = wordsOf(query, words);
    const std::vector<std::uint64_t> t = wordsOf(train, words);
    const auto queries = static_cast<std::size_t>(query.rows);
    const auto trains = static_cast<std::size_t>(train.rows);
    static const bool popcnt = __builtin_cpu_supports("popcnt");
    return popcnt ? nearestTwoWith<hammingPopcnt>(q, queries, t, trains, words)
                  : nearestTwoWith<hammingPortable>(q, queries, t, trains, words);
}

// The translation with the most matches within the threshold (each match's own shift tried),
// then the mean shift of its inliers.
bool fitTranslation(const std::vector<cv::Point2f> &from, const std::vector<cv::Point2f> &to,
                    Transform &fit, std::vector<unsigned char> &mask)
{
    const std::size_t n = from.size();
    const double limit = kRansacThreshold * kRansacThreshold;
    std::size_t best = 0;
    int bestCount = -1;
    for (std::size_t i = 0; i < n; ++i) {
        const double dx = static_cast<double>(to[i].x - from[i].x);
        const double dy = static_cast<double>(to[i].y - from[i].y);
        int count = 0;
        for (std::size_t j = 0; j < n; ++j) {
            const double ex = static_cast<double>(to[j].x - from[j].x) - dx;
            const double ey = static_cast<double>(to[j].y - from[j].y) - dy;
            count += ex * ex + ey * ey <= limit ? 1 : 0;
        }
        if (count > bestCount) {
            bestCount = count;
            best = i;
        }
    }
    if (n == 0) {
        return false;
    }
    double dx = static_cast<double>(to[best].x - from[best].x);
    double dy = static_cast<double>(to[best].y - from[best].y);
    mask.assign(n, 0);
    for (int round = 0; round < 3; ++round) {
        double sx = 0, sy = 0;
        int count = 0;
        for (std::size_t j = 0; j < n; ++j) {
            const double ex = static_cast<double>(to[j].x - from[j].x);
            const double ey = static_cast<double>(to[j].y - from[j].y);
            const bool in = (ex - dx) * (ex - dx) + (ey - dy) * (ey - dy) <= limit;
            mask[j] = in ? 1 : 0;
            if (in) {
                sx += ex;
                sy += ey;
                ++count;
            }
        }
        if (count == 0) {
            return false;
        }
        dx = sx / count;
        dy = sy / count;
    }
    fit = identityTransform();
    fit.m[2] = dx;
    fit.m[5] = dy;
    return true;
}

// One robust fit at the model: the transform and which matches it explains.
bool fitOnce(MotionModel model, const std::vector<cv::Point2f> &from,
             const std::vector<cv::Point2f> &to, Transform &fit, std::vector<unsigned char> &mask)
{
    if (model == MotionModel::Translation || model == MotionModel::None) {
        return fitTranslation(from, to, fit, mask);
    }
    if (model == MotionModel::Similarity) {
        if (from.size() < 2) {
            return false;
        }
        const cv::Mat affine = cv::estimateAffinePartial2D(from, to, mask, cv::RANSAC,
                                                           kRansacThreshold, 4000, 0.999, 10);
        if (affine.empty()) {
            return false;
        }
        fit.m = {affine.at<double>(0, 0),
                 affine.at<double>(0, 1),
                 affine.at<double>(0, 2),
                 affine.at<double>(1, 0),
                 affine.at<double>(1, 1),
                 affine.at<double>(1, 2),
                 0,
                 0,
                 1};
        return true;
    }
    if (from.size() < 4) {
        return false;
    }
    const cv::Mat h = cv::findHomography(from, to, cv::RANSAC, kRansacThreshold, mask, 4000, 0.999);
    if (h.empty()) {
        return false;
    }
    for (int i = 0; i < 9; ++i) {
        fit.m[static_cast<std::size_t>(i)] = h.at<double>(i / 3, i % 3);
    }
    fit = normalised(fit);
    return true;
}

// How much of the frame a fit's inliers cover: the cells of an 8 x 6 grid holding two or more.
int coverage(const std::vector<cv::Point2f> &from, const std::vector<unsigned char> &mask,
             int width, int height)
{
    std::vector<int> cells(48, 0);
    for (std::size_t i = 0; i < from.size(); ++i) {
        if (mask[i]) {
            const int column =
                std::clamp(static_cast<int>(static_cast<double>(from[i].x) * 8 / width), 0, 7);
            const int row =
                std::clamp(static_cast<int>(static_cast<double>(from[i].y) * 6 / height), 0, 5);
            ++cells[static_cast<std::size_t>(row * 8 + column)];
        }
    }
    return static_cast<int>(
        std::count_if(cells.begin(), cells.end(), [](int c) { return c >= 2; }));
}

} // namespace

FeatureSet detectFeatures(const Plane &plane, FeatureKind kind)
{
    FeatureSet set;
    set.width = plane.width;
    set.height = plane.height;
    if (plane.width < 32 || plane.height < 32) {
        return set;
    }
    std::vector<std::uint8_t> bytes = bytesOf(plane);
    const cv::Mat image(plane.height, plane.width, CV_8U, bytes.data());
    cv::Mat mask;
    constexpr int kReach = 16; // the descriptors' patches reach this far from the keypoint
    if (!plane.valid.empty()) {
        cv::Mat valid(plane.height, plane.width, CV_8U,
                      const_cast<std::uint8_t *>(plane.valid.data()));
        cv::erode(
            valid, mask,
            cv::getStructuringElement(cv::MORPH_RECT, cv::Size(2 * kReach + 1, 2 * kReach + 1)),
            cv::Point(-1, -1), 1, cv::BORDER_CONSTANT, cv::Scalar(0));
    }
    cv::Ptr<cv::Feature2D> detector;
    if (kind == FeatureKind::Orb) {
        detector =
            cv::ORB::create(4 * kFeaturesWanted, 1.2f, 3, 19, 0, 2, cv::ORB::HARRIS_SCORE, 19, 10);
    } else {
        detector = cv::AKAZE::create(cv::AKAZE::DESCRIPTOR_MLDB, 0, 3, 0.0005f, 3, 4,
                                     cv::KAZE::DIFF_PM_G2);
    }
    std::vector<cv::KeyPoint> keypoints;
    detector->detect(image, keypoints, mask);
    set.keypoints = spread(std::move(keypoints), plane.width, plane.height);
    if (!set.keypoints.empty()) {
        detector->compute(image, set.keypoints, set.descriptors);
    }
    return set;
}

FeatureFit fitFeatures(const FeatureSet &reference, const FeatureSet &frame, MotionModel model)
{
    FeatureFit result;
    result.features = static_cast<int>(frame.keypoints.size());
    if (static_cast<int>(reference.keypoints.size()) < kMinimumFeatures ||
        result.features < kMinimumFeatures || reference.descriptors.empty() ||
        frame.descriptors.empty()) {
        result.failure = RegistrationFailure::TooFewFeatures;
        return result;
    }
    std::vector<cv::Point2f> from;
    std::vector<cv::Point2f> to;
    for (const Match &m : nearestTwo(frame.descriptors, reference.descriptors)) {
        if (static_cast<float>(m.best) < kRatio * static_cast<float>(m.second)) {
            const cv::Point2f f = frame.keypoints[m.query].pt;
            const cv::Point2f r = reference.keypoints[m.train].pt;
            // OpenCV's pixel centres are whole numbers; ours are at + 0.5.
            from.emplace_back(f.x + 0.5f, f.y + 0.5f);
            to.emplace_back(r.x + 0.5f, r.y + 0.5f);
        }
    }
    result.matches = static_cast<int>(from.size());
    if (result.matches < kMinimumMatches) {
        result.failure = RegistrationFailure::TooFewMatches;
        return result;
    }

    // What moves through the shot can be more textured than the background and give more
    // matches than it, but covers less of the frame: fit up to three motions in turn (each on
    // the matches the ones before left unexplained) and keep the one whose inliers spread over
    // most of the frame, among those with at least a fifth of the first one's inliers.
    Transform fit;
    int inliers = 0;
    bool fitted = false;
    int firstCount = 0;
    struct Found {
        int cells;
        int count;
        Transform fit;
    };
    std::vector<Found> found;
    std::vector<cv::Point2f> restFrom = from;
    std::vector<cv::Point2f> restTo = to;
    for (int hypothesis = 0; hypothesis < 3; ++hypothesis) {
        Transform candidate;
        std::vector<unsigned char> mask;
        if (static_cast<int>(restFrom.size()) < kMinimumMatches ||
            !fitOnce(model, restFrom, restTo, candidate, mask) || !isUsable(candidate)) {
            break;
        }
        const int count = static_cast<int>(std::count(mask.begin(), mask.end(), 1));
        if (hypothesis == 0) {
            firstCount = count;
        }
        if (count < kMinimumInliers || 5 * count < firstCount) {
            break;
        }
        const int cells = coverage(restFrom, mask, frame.width, frame.height);
        found.push_back({cells, count, candidate});
        std::vector<cv::Point2f> keptFrom, keptTo;
        for (std::size_t i = 0; i < mask.size(); ++i) {
            if (!mask[i]) {
                keptFrom.push_back(restFrom[i]);
                keptTo.push_back(restTo[i]);
            }
        }
        restFrom.swap(keptFrom);
        restTo.swap(keptTo);
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const Found &a, const Found &b) { return a.cells > b.cells; });
    if (!found.empty()) {
        fit = found.front().fit;
        inliers = found.front().count;
        fitted = true;
        for (std::size_t i = 1; i < found.size(); ++i) {
            result.alternatives.push_back(found[i].fit);
        }
    }
    result.inliers = inliers;
    if (!fitted || inliers < kMinimumInliers || inliers < kMinimumInlierShare * result.matches ||
        !isUsable(fit)) {
        result.failure = RegistrationFailure::TooLittleSupport;
        return result;
    }
    result.frameToReference = fit;
    return result;
}

} // namespace framemeld::cli::align
