#include "runner/Host.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "runner/ModuleCalls.h"
#include "runner/SdkNames.h"
#include "runner/detail/HostState.h"

namespace framemeld::runner {

namespace {

using detail::ActiveSession;
using detail::RenderContext;
using detail::Session;

// Sends one command; exceptions that leave the plug-in are recorded, never passed on.
CommandReply send(Session &session, PF_Cmd command, PF_InData &inData, void *extra,
                  PF_ParamDef **params)
{
    CommandReply outcome;
    outcome.command = command;
    outcome.sent = true;
    session.beginCommand(command);
    const EntryPoint entry = session.host.entry;
    const char *name = commandName(command);
    const ModuleCallScope inFlight(name ? name : "a command unknown to the SDK");
    outcome.err = detail::guardedCall(
        session, [&] { return entry(command, &inData, &outcome.out, params, nullptr, extra); },
        PF_Err_INTERNAL_STRUCT_DAMAGED);
    return outcome;
}

// The params array the host passes along with a command: the layer, then every parameter's
// current value, null-terminated. Plug-ins with smart render read parameters through
// checkout_param, but the array is valid as with the host.
struct ParamArray {
    explicit ParamArray(const ParameterSet &params)
        : defs(static_cast<std::size_t>(params.count()) + 1),
          pointers(static_cast<std::size_t>(params.count()) + 2, nullptr)
    {
        defs[0].param_type = PF_Param_LAYER;
        for (A_long i = 1; i <= params.count(); ++i) {
            params.fillCheckout(i, defs[static_cast<std::size_t>(i)]);
        }
        for (std::size_t i = 0; i < defs.size(); ++i) {
            pointers[i] = &defs[i];
        }
    }
    std::vector<PF_ParamDef> defs;
    std::vector<PF_ParamDef *> pointers;
};

std::string describeFlags(A_long flags)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(flags));
    return text;
}

} // namespace

std::string CommandReply::message() const
{
    const void *end = std::memchr(out.return_msg, '\0', sizeof out.return_msg);
    const std::size_t length =
        end ? static_cast<std::size_t>(static_cast<const char *>(end) - out.return_msg)
            : sizeof out.return_msg;
    return std::string(out.return_msg, length);
}

Host::Host(EntryPoint entry, HostOptions options)
{
    if (!entry) {
        throw std::invalid_argument("Host needs an entry point");
    }
    state_ = std::make_unique<State>(entry, options);
}

Host::~Host() = default;

SetupResult Host::setup()
{
    SetupResult result;
    Session session(*state_);
    {
        ActiveSession active(session);
        state_->setupDone = false;

        PF_InData inData = session.makeInData();
        result.globalSetup = send(session, PF_Cmd_GLOBAL_SETUP, inData, nullptr, nullptr);
        const PF_OutData &global = result.globalSetup.out;
        result.version = global.my_version;
        result.outFlags = global.out_flags;
        result.outFlags2 = global.out_flags2;
        state_->globalData = global.global_data;
        state_->outFlags = global.out_flags;
        state_->outFlags2 = global.out_flags2;
        if (result.globalSetup.err != PF_Err_NONE) {
            result.problems.push_back("GLOBAL_SETUP returned " +
                                      describeError(result.globalSetup.err));
        } else {
            if (global.my_version == 0) {
                // The host compares it with the PiPL's version; zero means it was never set.
                result.problems.push_back("GLOBAL_SETUP left my_version at 0");
            }
            if ((global.out_flags2 & PF_OutFlag2_SUPPORTS_SMART_RENDER) == 0) {
                result.problems.push_back(
                    "out_flags2 " + describeFlags(global.out_flags2) +
                    " lacks PF_OutFlag2_SUPPORTS_SMART_RENDER; the runner drives only the smart "
                    "render protocol");
            }
            state_->params.clear();
            session.paramsSetupOpen = true;
            PF_InData paramsIn = session.makeInData();
            result.paramsSetup = send(session, PF_Cmd_PARAMS_SETUP, paramsIn, nullptr, nullptr);
            session.paramsSetupOpen = false;
            result.numParams = result.paramsSetup.out.num_params;
            if (result.paramsSetup.err != PF_Err_NONE) {
                result.problems.push_back("PARAMS_SETUP returned " +
                                          describeError(result.paramsSetup.err));
            } else if (result.numParams != state_->params.count() + 1) {
                result.problems.push_back("PARAMS_SETUP reported num_params " +
                                          std::to_string(result.numParams) + " but registered " +
                                          std::to_string(state_->params.count()) +
                                          " parameters after the input layer");
            }
        }
        session.finish();
    }
    result.accounting = std::move(session.accounting);
    result.record = std::move(session.record);
    state_->setupDone = result.ok();
    return result;
}

const std::vector<Parameter> &Host::parameters() const noexcept
{
    return state_->params.all();
}

const Parameter &Host::parameter(PF_ParamIndex index) const
{
    return state_->params.at(index);
}

std::optional<PF_ParamIndex> Host::findParameter(std::string_view name) const noexcept
{
    return state_->params.find(name);
}

double Host::setParameter(PF_ParamIndex index, double value)
{
    return state_->params.set(index, value);
}

double Host::setParameter(std::string_view name, double value)
{
    return state_->params.set(name, value);
}

RenderResult Host::render(FrameSource &source, const RenderRequest &request)
{
    if (!state_->setupDone) {
        throw std::logic_error("render() needs a successful setup() first");
    }
    if (request.timeStep <= 0 || request.timeScale == 0) {
        throw std::invalid_argument("a render needs a positive time step and time scale");
    }
    // The host renders deeper than 8 bits only for effects that said they can.
    if (source.depth() == PixelDepth::Bits16 &&
        (state_->outFlags & PF_OutFlag_DEEP_COLOR_AWARE) == 0) {
        throw std::invalid_argument(
            "a 16-bit render needs PF_OutFlag_DEEP_COLOR_AWARE, which the module did not set");
    }
    if (source.depth() == PixelDepth::Float32 &&
        (state_->outFlags2 & PF_OutFlag2_FLOAT_COLOR_AWARE) == 0) {
        throw std::invalid_argument(
            "a float render needs PF_OutFlag2_FLOAT_COLOR_AWARE, which the module did not set");
    }
    const std::int64_t currentTime = static_cast<std::int64_t>(request.frame) * request.timeStep;
    const std::int64_t totalTime =
        static_cast<std::int64_t>(source.frameCount()) * request.timeStep;
    constexpr std::int64_t kLongMax = std::numeric_limits<A_long>::max();
    constexpr std::int64_t kLongMin = std::numeric_limits<A_long>::min();
    if (currentTime > kLongMax || currentTime < kLongMin || totalTime > kLongMax) {
        throw std::invalid_argument("render time does not fit the host's 32-bit time values");
    }

    RenderResult result;
    RenderContext render;
    render.source = &source;
    render.request = request;
    PF_LRect layer{0, 0, source.width(), source.height()};
    render.requestRect = request.area ? *request.area : layer;

    const auto bitdepth = static_cast<short>(bitsPerChannel(source.depth()));
    Session session(*state_);
    session.render = &render;
    {
        ActiveSession active(session);
        PF_InData inData = session.makeInData();
        inData.current_time = static_cast<A_long>(currentTime);
        inData.time_step = request.timeStep;
        inData.local_time_step = request.timeStep;
        inData.total_time = static_cast<A_long>(totalTime);
        inData.time_scale = request.timeScale;
        inData.width = source.width();
        inData.height = source.height();
        inData.extent_hint = layer;

        PF_PreRenderInput preInput{};
        preInput.output_request.rect = render.requestRect;
        preInput.output_request.field = PF_Field_FRAME;
        preInput.output_request.channel_mask = PF_ChannelMask_ARGB;
        preInput.bitdepth = bitdepth;
        PF_PreRenderOutput preOutput{};
        PF_PreRenderCallbacks preCallbacks{};
        detail::fillPreRenderCallbacks(preCallbacks);
        PF_PreRenderExtra preExtra{&preInput, &preOutput, &preCallbacks};

        ParamArray params(state_->params);
        PF_InData preIn = inData;
        result.preRender =
            send(session, PF_Cmd_SMART_PRE_RENDER, preIn, &preExtra, params.pointers.data());

        void *const data = preOutput.pre_render_data;
        const PF_DeletePreRenderDataFunc deleteData = preOutput.delete_pre_render_data_func;
        {
            std::lock_guard<std::mutex> lock(session.mutex);
            session.accounting.preRenderDataAttached = data != nullptr;
            session.accounting.deleteFunctionMissing = data != nullptr && deleteData == nullptr;
            // The host makes the output as large as the plug-in's result, within the request.
            const PF_LRect &r = preOutput.result_rect;
            PF_LRect out;
            out.left = std::max(r.left, render.requestRect.left);
            out.top = std::max(r.top, render.requestRect.top);
            out.right = std::max(out.left, std::min(r.right, render.requestRect.right));
            out.bottom = std::max(out.top, std::min(r.bottom, render.requestRect.bottom));
            render.outputRect = out;
        }

        if (result.preRender.err == PF_Err_NONE) {
            PF_SmartRenderInput input{};
            input.output_request = preInput.output_request;
            input.bitdepth = bitdepth;
            input.pre_render_data = data;
            PF_SmartRenderCallbacks callbacks{};
            detail::fillSmartRenderCallbacks(callbacks);
            PF_SmartRenderExtra extra{&input, &callbacks};
            PF_InData renderIn = inData;
            result.smartRender =
                send(session, PF_Cmd_SMART_RENDER, renderIn, &extra, params.pointers.data());
        }

        if (data && deleteData) {
            const ModuleCallScope inFlight("the delete function of the pre-render data");
            detail::guardedCall(
                session,
                [&]() -> PF_Err {
                    deleteData(data);
                    return PF_Err_NONE;
                },
                PF_Err_NONE);
            std::lock_guard<std::mutex> lock(session.mutex);
            ++session.accounting.preRenderDataDeletes;
        }
        session.finish();
        session.render = nullptr;
    }
    result.output = std::move(render.output);
    result.accounting = std::move(session.accounting);
    result.record = std::move(session.record);
    return result;
}

CommandReport Host::sendCommand(PF_Cmd command)
{
    if (command == PF_Cmd_SMART_PRE_RENDER || command == PF_Cmd_SMART_RENDER) {
        throw std::invalid_argument("smart render commands are sent by render()");
    }
    CommandReport result;
    Session session(*state_);
    {
        ActiveSession active(session);
        PF_InData inData = session.makeInData();
        ParamArray params(state_->params);
        result.outcome = send(session, command, inData, nullptr, params.pointers.data());
        session.finish();
    }
    result.accounting = std::move(session.accounting);
    result.record = std::move(session.record);
    return result;
}

FaultPlan &Host::faults() noexcept
{
    return state_->faults;
}

void Host::setProgressHook(std::function<void(A_long, A_long)> hook)
{
    state_->progressHook = std::move(hook);
}

std::atomic<bool> &Host::cancelFlag() noexcept
{
    return state_->cancel;
}

unsigned Host::threadCount() const noexcept
{
    return state_->pool.size();
}

} // namespace framemeld::runner
