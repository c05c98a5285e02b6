// Internal: what a Host keeps between operations, and the per-operation session that the
// callbacks reach (through effect_ref, or through the process-wide active slot for the host
// functions that carry no reference).
#pragma once

#include <array>
#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>

#include "AE_Effect.h"
#include "AE_EffectCB.h"
#include "SPBasic.h"
#include "runner/Accounting.h"
#include "runner/FaultPlan.h"
#include "runner/FrameSource.h"
#include "runner/Host.h"
#include "runner/Parameters.h"
#include "runner/detail/WorkerPool.h"

namespace framemeld::runner {

struct Host::State {
    State(EntryPoint entryPoint, HostOptions hostOptions);

    EntryPoint entry;
    HostOptions options;
    WorkerPool pool;
    ParameterSet params;
    FaultPlan faults;
    std::function<void(A_long, A_long)> progressHook;
    std::atomic<bool> ownCancel{false};
    // options.cancel when the caller keeps the flag, else ownCancel.
    std::atomic<bool> &cancel;
    bool setupDone = false;
    PF_OutFlags outFlags = 0;
    PF_OutFlags2 outFlags2 = 0;
    PF_Handle globalData = nullptr;
};

namespace detail {

// A frame the pre-render requested: the clip frame (none outside the clip) and the part of it
// the host answered with, which the pixels handed out at render cover.
struct LayerCheckout {
    std::optional<A_long> frame;
    PF_LRect area{};
};

// Everything that only exists while a frame is rendered.
struct RenderContext {
    FrameSource *source = nullptr;
    RenderRequest request;
    PF_LRect requestRect{};
    PF_LRect outputRect{};
    std::map<A_long, LayerCheckout> requested; // by checkout id
    std::map<A_long, long> checkedOut;         // checkout id -> times
    std::deque<PF_EffectWorld> handedOut;      // records given to the plug-in
    std::deque<World> extraWorlds;             // transparent, partial and shrunken frames
    const World *transparent = nullptr;        // covers transparentArea
    PF_LRect transparentArea{};
    World output;
};

class Session {
public:
    explicit Session(Host::State &host);

    Host::State &host;
    PF_Cmd command = 0;
    bool paramsSetupOpen = false;
    RenderContext *render = nullptr;

    std::mutex mutex; // guards accounting, record and render
    Accounting accounting;
    RenderRecord record;

    // Counts a call and returns the code of a fault planned for it, else PF_Err_NONE.
    PF_Err enter(HostFunction function);
    // Counts a cancel poll; PF_Interrupt_CANCEL once cancelling, else PF_Err_NONE.
    PF_Err poll(bool fromIterate);
    bool cancelling() const noexcept;

    void beginCommand(PF_Cmd cmd);
    CommandTally &tally(); // the running command's; caller holds `mutex`
    SuiteUse &suiteUse(const char *name, A_long version); // caller holds `mutex`
    // Records; never throw (they run inside host functions).
    void noteRefused(const char *what) noexcept;
    void noteHostError(const std::string &what) noexcept;
    void noteEscapedException(const std::string &what) noexcept;

    // Copies the counters into record.calls and the poll totals.
    void finish();

    PF_ProgPtr effectRef() noexcept { return reinterpret_cast<PF_ProgPtr>(this); }
    PF_InData makeInData();

    // The session of the command in progress, or null outside commands.
    static Session *active() noexcept;
    // The session `ref` names, when it is the active one.
    static Session *fromRef(PF_ProgPtr ref) noexcept;

private:
    // Call counts. When a fault must hit an exact call, every call goes through one shared
    // counter so that "the k-th call" is well defined; otherwise each worker counts on its own
    // cache line (a per-pixel callback would make a shared counter the render's bottleneck) and
    // finish() adds the lines up.
    static constexpr std::size_t kPollSlot = kHostFunctionCount;
    struct alignas(64) Counters {
        std::array<std::atomic<long>, kHostFunctionCount + 1> slots{}; // functions, then polls
    };
    void countOnThisThread(std::size_t which) noexcept;

    const bool exactCounts_;
    const bool exactPolls_;
    std::unique_ptr<Counters[]> counters_; // [0]: threads outside the pool; [1 + w]: worker w
    std::size_t counterSlots_ = 0;
    std::atomic<long> total_{0};
    std::atomic<long> iteratePolls_{0};
    std::atomic<bool> pollCancelled_{false};
    std::size_t tallyIndex_ = 0;
    PF_UtilCallbacks utils_{};
    SPBasicSuite basic_{};
};

// Makes a session the active one for its lifetime; operations of all hosts take turns.
class ActiveSession {
public:
    explicit ActiveSession(Session &session);
    ~ActiveSession();
    ActiveSession(const ActiveSession &) = delete;
    ActiveSession &operator=(const ActiveSession &) = delete;

private:
    std::unique_lock<std::mutex> lock_;
};

// The clip frame shown at `whatTime` (in units of `timeScale`, not zero); none outside the clip.
std::optional<A_long> clipFrameAt(const RenderContext &render, A_long whatTime, A_u_long timeScale);

// Host function tables, filled in by the files that implement them.
void fillInteractCallbacks(PF_InteractCallbacks &inter);
void fillUtilCallbacks(PF_UtilCallbacks &utils);
void fillPreRenderCallbacks(PF_PreRenderCallbacks &cb);
void fillSmartRenderCallbacks(PF_SmartRenderCallbacks &cb);
SPBasicSuite *basicSuite();

// Host functions are called from the plug-in's C code, so nothing may be thrown back into it: a
// host-side failure becomes an error code.
template <class Body> auto shielded(Body &&body) noexcept -> decltype(body())
{
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return PF_Err_OUT_OF_MEMORY;
    } catch (...) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
}

// Runs a call into the plug-in; a C++ exception that comes out of it is recorded and turned
// into `failure` (exceptions must not cross into the host).
template <class Call> PF_Err guardedCall(Session &session, Call &&call, PF_Err failure)
{
    try {
        return call();
    } catch (const std::exception &error) {
        session.noteEscapedException(error.what());
    } catch (int code) {
        session.noteEscapedException("int " + std::to_string(code));
    } catch (...) {
        session.noteEscapedException("an exception of unknown type");
    }
    return failure;
}

} // namespace detail
} // namespace framemeld::runner
