// The host runner: plays After Effects for one loaded effect module. It sends GLOBAL_SETUP and
// PARAMS_SETUP, keeps the registered parameters and their values, and renders frames through the
// smart protocol (SMART_PRE_RENDER, SMART_RENDER, then the plug-in's delete function for the
// pre-render data), answering every callback and suite call the way the host does, with worker
// threads for the iterate functions, progress and cancel hooks, accounting and fault injection.
//
// A Host is used from one thread at a time; only cancelFlag() may be touched from anywhere. Host
// functions that carry no effect reference (suites, iterate, pixel data) find the running command
// through a process-wide slot, so commands of different Host objects take turns.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "AE_Effect.h"
#include "runner/Accounting.h"
#include "runner/FaultPlan.h"
#include "runner/FrameSource.h"
#include "runner/Parameters.h"
#include "runner/PluginModule.h"
#include "runner/World.h"

namespace framemeld::runner {

struct HostOptions {
    unsigned threads = 0;     // worker threads for the iterate functions; 0 = every core
    RowPadding outputPadding; // layout of output worlds
    // Byte written over every output world before the plug-in gets it (0 = transparent black).
    unsigned char outputFill = 0;
    // A cancel flag that outlives the host and that the caller set up before it (a signal handler
    // may already be routed to it); the host's own when null. See cancelFlag().
    std::atomic<bool> *cancel = nullptr;
};

// One command as sent, and what the plug-in wrote back.
struct CommandReply {
    PF_Cmd command = 0;
    bool sent = false;
    PF_Err err = PF_Err_NONE;
    PF_OutData out{};
    std::string message() const; // out.return_msg up to its terminator
};

struct SetupResult {
    CommandReply globalSetup;
    CommandReply paramsSetup;
    A_u_long version = 0;
    PF_OutFlags outFlags = 0;
    PF_OutFlags2 outFlags2 = 0;
    A_long numParams = 0; // as the plug-in reported it (input layer included)
    // Why the runner cannot drive this module (a failed command, no version, no smart-render
    // support, a parameter count that disagrees with the registrations); empty when it can.
    std::vector<std::string> problems;
    Accounting accounting;
    RenderRecord record;

    bool ok() const noexcept { return problems.empty(); }
};

struct RenderRequest {
    A_long frame = 0;        // the layer frame being rendered; current_time = frame x timeStep
    A_long timeStep = 1;     // one frame of the layer, in timeScale units
    A_u_long timeScale = 25; // units per second
    // The host's output request in layer pixels; the whole layer when not given.
    std::optional<PF_LRect> area;
};

struct RenderResult {
    CommandReply preRender;
    CommandReply smartRender;
    World output; // the world handed out by checkout_output; invalid if it was never checked out
    Accounting accounting;
    RenderRecord record;

    // The first failure: the pre-render's code, else the render's.
    PF_Err err() const noexcept
    {
        return preRender.err != PF_Err_NONE ? preRender.err : smartRender.err;
    }
};

struct CommandReport {
    CommandReply outcome;
    Accounting accounting;
    RenderRecord record;
};

class Host {
public:
    explicit Host(EntryPoint entry, HostOptions options = {});
    ~Host();
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;

    // GLOBAL_SETUP, then (when that succeeded) PARAMS_SETUP. Rendering needs an ok() result.
    SetupResult setup();

    const std::vector<Parameter> &parameters() const noexcept;
    const Parameter &parameter(PF_ParamIndex index) const; // throws std::out_of_range
    std::optional<PF_ParamIndex> findParameter(std::string_view name) const noexcept;
    // Clamped to the parameter's valid range; returns the stored value (see ParameterSet::set).
    double setParameter(PF_ParamIndex index, double value);
    double setParameter(std::string_view name, double value);

    // Renders one frame from `source`. Throws std::logic_error without a successful setup(),
    // std::invalid_argument for a request the host would not make: a non-positive time step, a
    // zero time scale, a time beyond 32 bits, or a depth the module's flags do not accept
    // (16 bits needs PF_OutFlag_DEEP_COLOR_AWARE, float PF_OutFlag2_FLOAT_COLOR_AWARE).
    RenderResult render(FrameSource &source, const RenderRequest &request = {});

    // Sends any other command with no extra record (ABOUT, GLOBAL_SETDOWN, an unknown code...);
    // the smart render commands go through render() and are refused here
    // (std::invalid_argument).
    CommandReport sendCommand(PF_Cmd command);

    // Faults for the following operations; stays in force until changed.
    FaultPlan &faults() noexcept;
    // Called on every progress report of the plug-in, from whatever thread made it.
    void setProgressHook(std::function<void(A_long done, A_long total)> hook);
    // While set, every cancel poll and progress report answers PF_Interrupt_CANCEL. Lock-free, so
    // a signal handler may set it. The runner never clears it.
    std::atomic<bool> &cancelFlag() noexcept;

    unsigned threadCount() const noexcept;

    struct State;

private:
    std::unique_ptr<State> state_;
};

} // namespace framemeld::runner
