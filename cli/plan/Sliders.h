#pragma once
// The plug-in's five sliders as the tool speaks of them: the labels the plug-in registers them
// under (how users know them from the host, and how the runner finds them), the ranges it gives
// them, the values a run hands over, and what the user asked for each. Everything the tool
// decides ends as these five values, so that the effect set to them in the host renders the
// same plate.

#include <string>

namespace framemeld::cli {

inline constexpr const char *kStartFrameLabel = "Start Frame";
inline constexpr const char *kEndFrameLabel = "End Frame";
inline constexpr const char *kEveryFrameLabel = "Every n-th Frame";
inline constexpr const char *kDivergenceLabel = "Divergence";
inline constexpr const char *kRatingRangeLabel = "Rating Range";

// One registered slider, as far as the command line cares.
struct SliderRange {
    std::string label; // the name the host shows, e.g. "Every n-th Frame"
    double validMin = 0.0;
    double validMax = 0.0;
    double defaultValue = 0.0;
};

struct SliderRanges {
    SliderRange start;
    SliderRange end;
    SliderRange every;
    SliderRange divergence;
    SliderRange ratingRange;
};

// The values handed to the plug-in. Frames are layer frames, counted from 0 whatever the
// footage's own numbering.
struct SliderValues {
    int start = 0;
    int end = 0;
    int every = 1;
    double divergence = 0.0;
    double ratingRange = 0.0;
};

// What the user asked of a slider the tool can also choose by itself: nothing, `auto`, or a
// number. What "nothing" means is decided in one place (plan/AutoSettings.h).
struct SliderChoice {
    enum class Kind { Unset, Auto, Value };
    Kind kind = Kind::Unset;
    double value = 0.0; // when kind is Value

    static SliderChoice automatic() { return {Kind::Auto, 0.0}; }
    static SliderChoice of(double number) { return {Kind::Value, number}; }
    bool isAuto() const { return kind == Kind::Auto; }
    bool isValue() const { return kind == Kind::Value; }
    bool isUnset() const { return kind == Kind::Unset; }
    bool operator==(const SliderChoice &other) const
    {
        return kind == other.kind && (kind != Kind::Value || value == other.value);
    }
};

} // namespace framemeld::cli
