// in_data->inter: parameters, abort and progress.
#include "runner/detail/HostState.h"
#include "runner/detail/Refuse.h"

namespace framemeld::runner::detail {

namespace {

// The layer parameter: the input frame at `what_time`, or a zeroed layer outside a render.
void fillLayerCheckout(Session &session, A_long whatTime, A_u_long timeScale, PF_ParamDef &def);

PF_Err checkoutParam(PF_ProgPtr ref, PF_ParamIndex index, A_long whatTime, A_long timeStep,
                     A_u_long timeScale, PF_ParamDef *param)
{
    (void)timeStep; // a parameter has one value at any time step
    return shielded([&]() -> PF_Err {
        Session *session = Session::fromRef(ref);
        if (!session) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        if (PF_Err fault = session->enter(HostFunction::CheckoutParam)) {
            return fault;
        }
        if (!param) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        if (index == 0) {
            fillLayerCheckout(*session, whatTime, timeScale, *param);
        } else if (index > 0 && index <= session->host.params.count()) {
            session->host.params.fillCheckout(index, *param);
            const auto &raw = session->host.faults.rawSliderValues;
            const auto rawValue = raw.find(index);
            if (rawValue != raw.end() && param->param_type == PF_Param_FLOAT_SLIDER) {
                param->u.fs_d.value = rawValue->second;
            }
        } else {
            return PF_Err_INVALID_INDEX;
        }
        std::lock_guard<std::mutex> lock(session->mutex);
        ++session->tally().paramCheckouts;
        return PF_Err_NONE;
    });
}

PF_Err checkinParam(PF_ProgPtr ref, PF_ParamDef *param)
{
    return shielded([&]() -> PF_Err {
        Session *session = Session::fromRef(ref);
        if (!session) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        const PF_Err fault = session->enter(HostFunction::CheckinParam);
        if (!param) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        std::lock_guard<std::mutex> lock(session->mutex);
        ++session->tally().paramCheckins; // taken back even when the call reports a fault
        return fault;
    });
}

PF_Err addParam(PF_ProgPtr ref, PF_ParamIndex index, PF_ParamDefPtr def)
{
    return shielded([&]() -> PF_Err {
        Session *session = Session::fromRef(ref);
        if (!session) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        if (PF_Err fault = session->enter(HostFunction::AddParam)) {
            return fault;
        }
        if (!def || !session->paramsSetupOpen) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        return session->host.params.add(*def, index);
    });
}

PF_Err abortPoll(PF_ProgPtr ref)
{
    return shielded([&]() -> PF_Err {
        Session *session = Session::fromRef(ref);
        if (!session) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        if (PF_Err fault = session->enter(HostFunction::Abort)) {
            return fault;
        }
        return session->poll(false);
    });
}

PF_Err progress(PF_ProgPtr ref, A_long current, A_long total)
{
    return shielded([&]() -> PF_Err {
        Session *session = Session::fromRef(ref);
        if (!session) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        if (PF_Err fault = session->enter(HostFunction::Progress)) {
            return fault;
        }
        {
            std::lock_guard<std::mutex> lock(session->mutex);
            session->record.progress.push_back(ProgressReport{current, total});
        }
        if (session->host.progressHook) {
            try {
                session->host.progressHook(current, total);
            } catch (const std::exception &error) {
                session->noteHostError(std::string("progress hook failed: ") + error.what());
            } catch (...) {
                session->noteHostError("progress hook failed");
            }
        }
        return session->cancelling() ? PF_Interrupt_CANCEL : PF_Err_NONE;
    });
}

void fillLayerCheckout(Session &session, A_long whatTime, A_u_long timeScale, PF_ParamDef &def)
{
    def = PF_ParamDef{};
    def.param_type = PF_Param_LAYER;
    std::lock_guard<std::mutex> lock(session.mutex);
    RenderContext *render = session.render;
    if (!render || timeScale == 0) {
        return;
    }
    const std::optional<A_long> frame = clipFrameAt(*render, whatTime, timeScale);
    try {
        if (frame) {
            def.u.ld = *render->source->frame(*frame).effectWorld();
        }
    } catch (const std::exception &error) {
        session.record.hostErrors.push_back(error.what());
    }
}

} // namespace

std::optional<A_long> clipFrameAt(const RenderContext &render, A_long whatTime, A_u_long timeScale)
{
    // frame = (whatTime / timeScale) seconds / (timeStep / clipScale) seconds per frame; both
    // products stay below 2^63 for any 32-bit inputs.
    const std::int64_t numerator =
        static_cast<std::int64_t>(whatTime) * static_cast<std::int64_t>(render.request.timeScale);
    const std::int64_t denominator =
        static_cast<std::int64_t>(timeScale) * static_cast<std::int64_t>(render.request.timeStep);
    std::int64_t frame = numerator / denominator;
    if (numerator % denominator != 0 && numerator < 0) {
        --frame;
    }
    if (frame < 0 || frame >= render.source->frameCount()) {
        return std::nullopt;
    }
    return static_cast<A_long>(frame);
}

void fillInteractCallbacks(PF_InteractCallbacks &inter)
{
    inter = PF_InteractCallbacks{};
    inter.checkout_param = &checkoutParam;
    inter.checkin_param = &checkinParam;
    inter.add_param = &addParam;
    inter.abort = &abortPoll;
    inter.progress = &progress;
    FRAMEMELD_REFUSE(inter, register_ui, "register_ui");
    FRAMEMELD_REFUSE(inter, checkout_layer_audio, "checkout_layer_audio");
    FRAMEMELD_REFUSE(inter, checkin_layer_audio, "checkin_layer_audio");
    FRAMEMELD_REFUSE(inter, get_audio_data, "get_audio_data");
}

} // namespace framemeld::runner::detail
