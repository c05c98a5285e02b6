#include <cstring>

#include "runner/detail/HostState.h"

namespace framemeld::runner {

Host::State::State(EntryPoint entryPoint, HostOptions hostOptions)
    : entry(entryPoint), options(hostOptions), pool(hostOptions.threads),
      cancel(hostOptions.cancel != nullptr ? *hostOptions.cancel : ownCancel)
{}

namespace detail {

namespace {

std::mutex g_operationMutex;
std::atomic<Session *> g_active{nullptr};

// in_data->appl_id of After Effects.
constexpr A_long kAfterEffectsApplId = 0x46585443; // 'FXTC'

} // namespace

Session::Session(Host::State &hostState)
    : host(hostState),
      exactCounts_(hostState.faults.failNthCall != 0 || !hostState.faults.callFaults.empty()),
      exactPolls_(hostState.faults.cancelAfterPolls > 0),
      counters_(new Counters[hostState.pool.size() + 1]), counterSlots_(hostState.pool.size() + 1)
{
    fillUtilCallbacks(utils_);
    basic_ = *basicSuite();
}

void Session::countOnThisThread(std::size_t which) noexcept
{
    const std::optional<unsigned> worker = host.pool.currentWorkerIndex();
    if (!worker) {
        // Shared by the command thread and any thread the plug-in made itself.
        counters_[0].slots[which].fetch_add(1, std::memory_order_relaxed);
        return;
    }
    // Only this worker writes its line, and finish() reads it after the workers are done, so a
    // plain increment suffices (no locked instruction per pixel).
    std::atomic<long> &count = counters_[*worker + 1].slots[which];
    count.store(count.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

PF_Err Session::enter(HostFunction function)
{
    const auto slot = static_cast<std::size_t>(function);
    if (!exactCounts_) {
        countOnThisThread(slot);
        return PF_Err_NONE;
    }
    const long nth = ++counters_[0].slots[slot];
    const long call = ++total_;
    const FaultPlan &plan = host.faults;
    PF_Err code = PF_Err_NONE;
    if (plan.failNthCall != 0 && plan.failNthCall == call) {
        code = plan.failNthCallCode;
    }
    for (const CallFault &fault : plan.callFaults) {
        if (code == PF_Err_NONE && fault.function == function && fault.nth == nth) {
            code = fault.code;
        }
    }
    if (code != PF_Err_NONE) {
        // May throw (out of memory); every caller runs shielded.
        std::lock_guard<std::mutex> lock(mutex);
        record.injectedFaults.push_back(InjectedFault{function, call, code});
    }
    return code;
}

bool Session::cancelling() const noexcept
{
    return host.cancel.load(std::memory_order_relaxed) ||
           pollCancelled_.load(std::memory_order_relaxed);
}

PF_Err Session::poll(bool fromIterate)
{
    if (fromIterate) {
        ++iteratePolls_; // once per row, so a shared counter costs nothing
    }
    if (exactPolls_) {
        if (++counters_[0].slots[kPollSlot] >= host.faults.cancelAfterPolls) {
            pollCancelled_.store(true, std::memory_order_relaxed);
        }
    } else {
        countOnThisThread(kPollSlot);
    }
    return cancelling() ? PF_Interrupt_CANCEL : PF_Err_NONE;
}

void Session::beginCommand(PF_Cmd cmd)
{
    std::lock_guard<std::mutex> lock(mutex);
    command = cmd;
    CommandTally tallyOfCommand;
    tallyOfCommand.command = cmd;
    accounting.commands.push_back(tallyOfCommand);
    tallyIndex_ = accounting.commands.size() - 1;
}

CommandTally &Session::tally()
{
    if (accounting.commands.empty()) {
        accounting.commands.push_back(CommandTally{});
        tallyIndex_ = 0;
    }
    return accounting.commands[tallyIndex_];
}

SuiteUse &Session::suiteUse(const char *name, A_long version)
{
    CommandTally &current = tally();
    for (SuiteUse &use : current.suites) {
        if (use.name == name && use.version == version) {
            return use;
        }
    }
    SuiteUse use;
    use.name = name;
    use.version = version;
    current.suites.push_back(use);
    return current.suites.back();
}

void Session::noteRefused(const char *what) noexcept
{
    try {
        std::lock_guard<std::mutex> lock(mutex);
        record.refusedCalls.emplace_back(what);
    } catch (...) {
        // Out of memory while recording: the record loses this line, the call goes on.
    }
}

void Session::noteHostError(const std::string &what) noexcept
{
    try {
        std::lock_guard<std::mutex> lock(mutex);
        record.hostErrors.push_back(what);
    } catch (...) {
        // Out of memory while recording: the record loses this line, the call goes on.
    }
}

void Session::noteEscapedException(const std::string &what) noexcept
{
    try {
        std::lock_guard<std::mutex> lock(mutex);
        accounting.escapedExceptions.push_back(what);
    } catch (...) {
        // Out of memory while recording: the record loses this line, the call goes on.
    }
}

void Session::finish()
{
    std::lock_guard<std::mutex> lock(mutex);
    long polls = 0;
    record.calls = CallCounts{};
    for (std::size_t s = 0; s < counterSlots_; ++s) {
        for (std::size_t i = 0; i < kHostFunctionCount; ++i) {
            const long count = counters_[s].slots[i].load();
            record.calls.perFunction[i] += count;
            record.calls.total += count;
        }
        polls += counters_[s].slots[kPollSlot].load();
    }
    record.iterateCancelPolls = iteratePolls_.load();
    record.abortPolls = polls - record.iterateCancelPolls;
}

PF_InData Session::makeInData()
{
    PF_InData in{};
    fillInteractCallbacks(in.inter);
    in.utils = &utils_;
    in.effect_ref = effectRef();
    in.quality = PF_Quality_HI;
    in.version.major = PF_AE_PLUG_IN_VERSION;
    in.version.minor = PF_AE_PLUG_IN_SUBVERS;
    in.appl_id = kAfterEffectsApplId;
    in.num_params = host.params.count() + 1;
    in.time_step = 1;
    in.local_time_step = 1;
    in.time_scale = 1;
    in.field = PF_Field_FRAME;
    for (PF_RationalScale *scale : {&in.downsample_x, &in.downsample_y, &in.pixel_aspect_ratio}) {
        scale->num = 1;
        scale->den = 1;
    }
    in.global_data = host.globalData;
    in.pica_basicP = &basic_;
    return in;
}

Session *Session::active() noexcept
{
    return g_active.load(std::memory_order_acquire);
}

Session *Session::fromRef(PF_ProgPtr ref) noexcept
{
    Session *current = active();
    return current && ref == current->effectRef() ? current : nullptr;
}

ActiveSession::ActiveSession(Session &session) : lock_(g_operationMutex)
{
    g_active.store(&session, std::memory_order_release);
}

ActiveSession::~ActiveSession()
{
    g_active.store(nullptr, std::memory_order_release);
}

} // namespace detail
} // namespace framemeld::runner
