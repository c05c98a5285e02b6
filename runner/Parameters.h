// The parameters a plug-in registers during PARAMS_SETUP, and the values the host holds for
// them. Values are clamped to each definition's valid range when set, as the host does with
// typed-in values.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "AE_Effect.h"

namespace framemeld::runner {

struct Parameter {
    PF_ParamIndex index = 0; // position in the host's list: 0 is the input layer, 1 the first added
    PF_ParamDef definition{}; // the record exactly as add_param received it
    double value = 0.0;       // in the parameter's own units (degrees, slider units, 0/1, choice)

    std::string name() const;
    PF_ParamType type() const noexcept { return definition.param_type; }
    A_long id() const noexcept { return definition.uu.id; }

    // Whether the kind carries a number that setParameter can set (sliders, angle, checkbox,
    // popup).
    bool holdsNumber() const noexcept;
    double validMin() const noexcept;
    double validMax() const noexcept;
    double sliderMin() const noexcept;
    double sliderMax() const noexcept;
    double defaultValue() const noexcept;
    int precision() const noexcept; // decimals shown; 0 for kinds without one
};

class ParameterSet {
public:
    void clear() noexcept { params_.clear(); }

    // add_param: `requestedIndex` is -1 (append) or the next free index.
    PF_Err add(const PF_ParamDef &definition, PF_ParamIndex requestedIndex);

    const std::vector<Parameter> &all() const noexcept { return params_; }
    A_long count() const noexcept { return static_cast<A_long>(params_.size()); }

    // Throws std::out_of_range for an index that names no registered parameter.
    const Parameter &at(PF_ParamIndex index) const;
    std::optional<PF_ParamIndex> find(std::string_view name) const noexcept;

    // Stores `value` clamped to the valid range (rounded for whole-number kinds) and returns
    // what was stored. Throws std::invalid_argument for a NaN or a kind that holds no number,
    // std::out_of_range for an unknown index or name.
    double set(PF_ParamIndex index, double value);
    double set(std::string_view name, double value);

    // checkout_param: the definition with the current value written into its value field.
    void fillCheckout(PF_ParamIndex index, PF_ParamDef &out) const;

private:
    Parameter &mutableAt(PF_ParamIndex index);

    std::vector<Parameter> params_;
};

} // namespace framemeld::runner
