#include "runner/Parameters.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace framemeld::runner {

namespace {

// The newest SDK renamed the name field and offers PF_DEF_NAME for it.
#ifdef PF_DEF_NAME
#define FRAMEMELD_PARAM_NAME(def) ((def).PF_DEF_NAME)
#else
#define FRAMEMELD_PARAM_NAME(def) ((def).name)
#endif

constexpr double kFixedOne = 65536.0;
// An angle whose valid range is left at zero has no limit but the fixed-point range.
constexpr double kFixedLimit = 32767.0;

double fromFixed(PF_Fixed value) noexcept
{
    return static_cast<double>(value) / kFixedOne;
}

PF_Fixed toFixed(double value) noexcept
{
    return static_cast<PF_Fixed>(std::llround(value * kFixedOne));
}

bool wholeNumberKind(PF_ParamType type) noexcept
{
    return type == PF_Param_SLIDER || type == PF_Param_CHECKBOX || type == PF_Param_POPUP;
}

double valueField(const PF_ParamDef &def) noexcept
{
    switch (def.param_type) {
    case PF_Param_FLOAT_SLIDER: return def.u.fs_d.value;
    case PF_Param_SLIDER: return def.u.sd.value;
    case PF_Param_FIX_SLIDER: return fromFixed(def.u.fd.value);
    case PF_Param_ANGLE: return fromFixed(def.u.ad.value);
    case PF_Param_CHECKBOX: return def.u.bd.value;
    case PF_Param_POPUP: return def.u.pd.value;
    default: return 0.0;
    }
}

} // namespace

std::string Parameter::name() const
{
    const A_char *text = FRAMEMELD_PARAM_NAME(definition);
    const std::size_t capacity = sizeof(FRAMEMELD_PARAM_NAME(definition));
    const void *end = std::memchr(text, '\0', capacity);
    const std::size_t length =
        end ? static_cast<std::size_t>(static_cast<const A_char *>(end) - text) : capacity;
    return std::string(text, length);
}

bool Parameter::holdsNumber() const noexcept
{
    switch (type()) {
    case PF_Param_FLOAT_SLIDER:
    case PF_Param_SLIDER:
    case PF_Param_FIX_SLIDER:
    case PF_Param_ANGLE:
    case PF_Param_CHECKBOX:
    case PF_Param_POPUP: return true;
    default: return false;
    }
}

double Parameter::validMin() const noexcept
{
    const auto &u = definition.u;
    switch (type()) {
    case PF_Param_FLOAT_SLIDER: return static_cast<double>(u.fs_d.valid_min);
    case PF_Param_SLIDER: return u.sd.valid_min;
    case PF_Param_FIX_SLIDER: return fromFixed(u.fd.valid_min);
    case PF_Param_ANGLE:
        return u.ad.valid_min == 0 && u.ad.valid_max == 0 ? -kFixedLimit
                                                          : fromFixed(u.ad.valid_min);
    case PF_Param_CHECKBOX: return 0.0;
    case PF_Param_POPUP: return 1.0;
    default: return 0.0;
    }
}

double Parameter::validMax() const noexcept
{
    const auto &u = definition.u;
    switch (type()) {
    case PF_Param_FLOAT_SLIDER: return static_cast<double>(u.fs_d.valid_max);
    case PF_Param_SLIDER: return u.sd.valid_max;
    case PF_Param_FIX_SLIDER: return fromFixed(u.fd.valid_max);
    case PF_Param_ANGLE:
        return u.ad.valid_min == 0 && u.ad.valid_max == 0 ? kFixedLimit : fromFixed(u.ad.valid_max);
    case PF_Param_CHECKBOX: return 1.0;
    case PF_Param_POPUP: return std::max<double>(1.0, u.pd.num_choices);
    default: return 0.0;
    }
}

double Parameter::sliderMin() const noexcept
{
    switch (type()) {
    case PF_Param_FLOAT_SLIDER: return static_cast<double>(definition.u.fs_d.slider_min);
    case PF_Param_SLIDER: return definition.u.sd.slider_min;
    case PF_Param_FIX_SLIDER: return fromFixed(definition.u.fd.slider_min);
    default: return validMin();
    }
}

double Parameter::sliderMax() const noexcept
{
    switch (type()) {
    case PF_Param_FLOAT_SLIDER: return static_cast<double>(definition.u.fs_d.slider_max);
    case PF_Param_SLIDER: return definition.u.sd.slider_max;
    case PF_Param_FIX_SLIDER: return fromFixed(definition.u.fd.slider_max);
    default: return validMax();
    }
}

double Parameter::defaultValue() const noexcept
{
    const auto &u = definition.u;
    switch (type()) {
    case PF_Param_FLOAT_SLIDER: return static_cast<double>(u.fs_d.dephault);
    case PF_Param_SLIDER: return u.sd.dephault;
    case PF_Param_FIX_SLIDER: return fromFixed(u.fd.dephault);
    case PF_Param_ANGLE: return fromFixed(u.ad.dephault);
    case PF_Param_CHECKBOX: return u.bd.dephault ? 1.0 : 0.0;
    case PF_Param_POPUP: return u.pd.dephault;
    default: return 0.0;
    }
}

int Parameter::precision() const noexcept
{
    switch (type()) {
    case PF_Param_FLOAT_SLIDER: return definition.u.fs_d.precision;
    case PF_Param_FIX_SLIDER: return definition.u.fd.precision;
    default: return 0;
    }
}

PF_Err ParameterSet::add(const PF_ParamDef &definition, PF_ParamIndex requestedIndex)
{
    if (requestedIndex != -1 && requestedIndex != count() + 1) {
        return PF_Err_INVALID_INDEX;
    }
    Parameter parameter;
    parameter.index = count() + 1;
    parameter.definition = definition;
    parameter.value = valueField(definition);
    params_.push_back(parameter);
    return PF_Err_NONE;
}

const Parameter &ParameterSet::at(PF_ParamIndex index) const
{
    if (index < 1 || index > count()) {
        throw std::out_of_range("no parameter with index " + std::to_string(index));
    }
    return params_[static_cast<std::size_t>(index - 1)];
}

Parameter &ParameterSet::mutableAt(PF_ParamIndex index)
{
    return const_cast<Parameter &>(static_cast<const ParameterSet *>(this)->at(index));
}

std::optional<PF_ParamIndex> ParameterSet::find(std::string_view name) const noexcept
{
    for (const Parameter &parameter : params_) {
        if (parameter.name() == name) {
            return parameter.index;
        }
    }
    return std::nullopt;
}

double ParameterSet::set(PF_ParamIndex index, double value)
{
    Parameter &parameter = mutableAt(index);
    if (!parameter.holdsNumber()) {
        throw std::invalid_argument("parameter '" + parameter.name() + "' holds no number");
    }
    if (std::isnan(value)) {
        throw std::invalid_argument("parameter '" + parameter.name() + "' cannot be set to NaN");
    }
    double stored = std::clamp(value, parameter.validMin(), parameter.validMax());
    if (wholeNumberKind(parameter.type())) {
        stored = std::round(stored);
    }
    parameter.value = stored;
    return stored;
}

double ParameterSet::set(std::string_view name, double value)
{
    const auto index = find(name);
    if (!index) {
        throw std::out_of_range("no parameter named '" + std::string(name) + "'");
    }
    return set(*index, value);
}

void ParameterSet::fillCheckout(PF_ParamIndex index, PF_ParamDef &out) const
{
    const Parameter &parameter = at(index);
    out = parameter.definition;
    const double value = parameter.value;
    switch (parameter.type()) {
    case PF_Param_FLOAT_SLIDER: out.u.fs_d.value = value; break;
    case PF_Param_SLIDER: out.u.sd.value = static_cast<A_long>(value); break;
    case PF_Param_FIX_SLIDER: out.u.fd.value = toFixed(value); break;
    case PF_Param_ANGLE: out.u.ad.value = toFixed(value); break;
    case PF_Param_CHECKBOX: out.u.bd.value = static_cast<A_long>(value); break;
    case PF_Param_POPUP: out.u.pd.value = static_cast<A_long>(value); break;
    default: break;
    }
}

} // namespace framemeld::runner
