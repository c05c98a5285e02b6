#pragma once
// MOTION.json: the registration of a clip's sampled frames, written by `framemeld align` and read
// by a render's --motion, so that the frames are registered once (on one machine, or checked by
// hand) and every render or farm node warps with the same transforms instead of registering
// again. README: "Moving cameras" describes the file.
//
// The file is checked whole before any frame is read: its own consistency when it is read
// (RunError, exit status 1, as for a holdout matte that is wrong), and then that it is the file
// of this run's clip and frames (checkMotionFileFitsRun).

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/formats/AlignModule.h"
#include "cli/job/AlignmentReport.h"

namespace framemeld::cli {

inline constexpr int kMotionFileVersion = 1;
// Tens of bytes a frame: a file past this is no motion file.
inline constexpr std::uint64_t kMotionFileMaxBytes = 64ull << 20;

struct MotionFile {
    align::MotionModel model = align::MotionModel::Similarity;
    int width = 0; // the frames' size in pixels
    int height = 0;
    // Frames in the clip's numbering, in the order sampled, each matrix frame -> reference.
    AlignmentReport alignment;
};

// The file's text for `alignment` (registerPlate's) of width x height frames. Matrices are
// written so that they read back as the same doubles.
std::string motionFileText(const AlignmentReport &alignment, int width, int height);

// Parses and checks `text`; messages name `path` and where in it the fault is. Throws RunError
// for malformed JSON, another version, a missing or mistyped key, a matrix that is not 9 finite
// numbers or cannot be inverted, a reference that is no listed frame or whose matrix is not the
// identity, or a clip marked still whose matrices are not all the identity.
MotionFile parseMotionFile(const std::string &text, const std::string &path);

// Reads `path` (a regular file of at most kMotionFileMaxBytes) and parses it. Throws RunError.
MotionFile readMotionFile(const std::string &path);

// Writes `text` to `path` whole or not at all (a temporary file beside it, renamed into place).
// Throws RunError naming `path`.
void writeMotionFile(const std::string &path, const std::string &text);

// What a render knows of itself when it takes a motion file.
struct MotionRun {
    int width = 0;
    int height = 0;
    std::vector<long long> frames;           // sampled, the clip's numbering, in order
    std::optional<align::MotionModel> model; // --align, when given
    std::optional<long long> reference;      // --reference, when given
};

// Throws RunError when the file is another clip's (another frame size), UsageError when it holds
// other frames than the run samples (naming those missing and extra) or names another model or
// reference than the command line.
void checkMotionFileFitsRun(const MotionFile &file, const std::string &path, const MotionRun &run);

} // namespace framemeld::cli
