#pragma once
// What --align found, for --json and the summary: the reference, the model, and each sampled
// frame's transform with how much of the frame supports it, so a pipeline can check the
// registration and put the plate back over every frame (README: "Moving cameras").

#include <array>
#include <string>
#include <vector>

namespace framemeld::cli {

struct AlignedFrameReport {
    long long frame = 0;                                     // the clip's numbering
    std::array<double, 9> matrix{1, 0, 0, 0, 1, 0, 0, 0, 1}; // frame -> reference, row-major
    double support = 0;  // share of the reference's textured pixels the warped frame agrees with
    double residual = 0; // RMS difference there, levels of 255
    int features = 0;
    int matches = 0;
    int inliers = 0;

    // One entry of `frames` in --json and in a motion file; the matrix reads back as the same
    // doubles.
    std::string json() const;
};

struct AlignmentReport {
    std::string model;       // as --align names it
    long long reference = 0; // the clip's numbering
    int passes = 1;
    double largestDisplacement = 0; // corner displacement of any frame, pixels
    bool still = false;             // nothing moved: no frame was warped
    std::vector<AlignedFrameReport> frames;

    std::string json() const;
};

} // namespace framemeld::cli
