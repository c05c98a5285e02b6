// Memory that runs out part-way through a render: the plug-in answers PF_Err_OUT_OF_MEMORY,
// gives back what it took, and draws nothing it should not. The module is held to a budget of
// live bytes below what the render needs (at every depth, under any sanitizer), and, in a child
// process, the whole process is held to an address-space limit that a float render of many
// frames cannot fit in.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "AllocationLedger.h"
#include "ReliabilityKit.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define FRAMEMELD_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define FRAMEMELD_SANITIZED 1
#endif
#endif

namespace framemeld::reliability {
namespace {

const rn::PixelDepth kDepths[] = {rn::PixelDepth::Bits8, rn::PixelDepth::Bits16,
                                  rn::PixelDepth::Float32};

std::string DepthName(rn::PixelDepth depth)
{
    return std::to_string(rn::bitsPerChannel(depth)) + "-bit";
}

class ModuleBudget {
public:
    explicit ModuleBudget(std::int64_t bytes) { framemeld::ledger::SetModuleBudget(bytes); }
    ~ModuleBudget() { framemeld::ledger::SetModuleBudget(0); }
    ModuleBudget(const ModuleBudget &) = delete;
    ModuleBudget &operator=(const ModuleBudget &) = delete;
};

// A render whose strings are long: 300 sampled frames (the clip's 12, then transparent time).
TEST(OutOfMemory, EveryBudgetBelowTheRendersPeakIsOutOfMemory)
{
    Sliders wanted;
    wanted.end = 299;
    for (rn::PixelDepth depth : kDepths) {
        SCOPED_TRACE(DepthName(depth));
        auto clip = MakeHostileClip(7, 12, depth, 12, 61);
        auto host = NewHost(1);
        const Sliders stored = SetSliders(*host, wanted);
        const rn::World plate = ExpectedPlate(*clip, stored);
        const ClipSnapshot footage(*clip);

        const std::int64_t live = framemeld::ledger::Read().liveBytes;
        framemeld::ledger::ResetPeak();
        const CheckedRender clean =
            RenderAndCheck(*host, *clip, Expectation{&plate, kFill, true, &footage});
        ASSERT_TRUE(clean.ok()) << clean.Report();
        const std::int64_t peak = framemeld::ledger::Read().peakBytes - live;
        ASSERT_GT(peak, 4096);

        for (std::int64_t budget : {std::int64_t{1}, peak / 8, peak / 2, peak - 1}) {
            SCOPED_TRACE("budget " + std::to_string(budget) + " of " + std::to_string(peak) +
                         " bytes");
            const std::int64_t refused = framemeld::ledger::Read().refused;
            CheckedRender run;
            {
                ModuleBudget limit(live + budget);
                run = RenderAndCheck(*host, *clip, Expectation{&plate, kFill, false, &footage});
            }
            EXPECT_GT(framemeld::ledger::Read().refused, refused);
            EXPECT_TRUE(run.ok()) << run.Report();
            EXPECT_EQ(run.result.err(), PF_Err_OUT_OF_MEMORY);
            if (budget == 1) {
                EXPECT_FALSE(
                    run.result.accounting.preRenderDataAttached); // not even the work record
            }
        }
        ModuleBudget exact(live + peak);
        const CheckedRender fits =
            RenderAndCheck(*host, *clip, Expectation{&plate, kFill, true, &footage});
        EXPECT_TRUE(fits.ok()) << fits.Report();
    }
}

#ifndef FRAMEMELD_SANITIZED

std::int64_t AddressSpaceInUse()
{
    long pages = 0;
    std::FILE *statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr || std::fscanf(statm, "%ld", &pages) != 1) {
        pages = -1;
    }
    if (statm != nullptr) {
        std::fclose(statm);
    }
    return static_cast<std::int64_t>(pages) * sysconf(_SC_PAGESIZE);
}

// Child exit codes: 0 out of memory reported cleanly, 1 another result, 2 books or output wrong,
// 3 the child could not set up.
int RenderUnderAddressSpaceLimit(std::int64_t headroom)
{
    try {
        auto clip = MakeHostileClip(200, 10, rn::PixelDepth::Float32, 1, 71);
        auto host = NewHost(2);
        Sliders wanted;
        wanted.end = 9999; // 10000 frames: the band's strings need about 480 MB
        SetSliders(*host, wanted);
        rlimit limit{};
        limit.rlim_cur = static_cast<rlim_t>(AddressSpaceInUse() + headroom);
        limit.rlim_max = limit.rlim_cur;
        if (setrlimit(RLIMIT_AS, &limit) != 0) {
            return 3;
        }
        Expectation expectation;
        const CheckedRender run = RenderAndCheck(*host, *clip, expectation);
        if (!run.ok()) {
            std::fprintf(stderr, "%s\n", run.Report().c_str());
            return 2;
        }
        // The host gave everything it was asked for; the shortage is the plug-in's own.
        for (const rn::PixelCheckout &checkout : run.result.record.pixelCheckouts) {
            if (checkout.result != PF_Err_NONE) {
                return 1;
            }
        }
        if (run.result.record.pixelCheckouts.size() != 10000 || !run.result.output.valid()) {
            return 1;
        }
        if (UndrawnPixels(run.result.output) != 200 * 10) {
            return 2;
        }
        return run.result.err() == PF_Err_OUT_OF_MEMORY ? 0 : 1;
    } catch (...) {
        return 3;
    }
}

#endif

TEST(OutOfMemory, AnAddressSpaceLimitIsOutOfMemory)
{
#ifdef FRAMEMELD_SANITIZED
    GTEST_SKIP() << "sanitizers reserve more address space than any limit would leave";
#else
    Module(); // loaded before the limit, as a host loads it long before rendering
    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        _exit(RenderUnderAddressSpaceLimit(std::int64_t{256} << 20));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status))
        << "the child died of signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
#endif
}

} // namespace
} // namespace framemeld::reliability
