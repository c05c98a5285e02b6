#pragma once
// What one run did, filled in as it goes, for --json: the run's outcome as one JSON object, so
// that pipeline tools read it instead of parsing messages. A failed run reports what it had
// reached, with the exit status and the message.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/plan/SamplingPlan.h"

namespace framemeld::cli {

struct RunReport {
    std::string input;
    std::string output;
    std::string plugin; // the module file, once found
    std::optional<FrameNumbering> numbering;
    std::optional<SamplingPlan> plan;
    bool divergenceAuto = false;      // `--divergence auto` (the default)
    bool ratingRangeAuto = false;     // `--rating-range auto` (the default with auto Divergence)
    std::optional<double> noiseSigma; // the measured noise in full scale, once measured
    int renderBits = 0;               // 0 until known
    int plateWidth = 0;
    int plateHeight = 0;
    std::vector<std::pair<std::string, double>> phaseSeconds; // in the order run
    int exitStatus = 0;
    std::string message; // empty on success

    std::string json() const;
};

} // namespace framemeld::cli
