// Size: renders at the limits a host can reach, each case in a child process of its own so that
// its memory high-water mark is its own. Reports for each case the result, the time, the child's
// peak resident memory and the module's peak heap, and checks every plate.
//
//   framemeld_size_check [--large] [case ...]
//
// Cases: frames10000-8, frames10000-16, frames10000-32 (10000 sampled frames of a 3x2 clip),
// float8192 (one 8192x8192 float frame), wide-8/16/32 (30000x8, n = 1), tall-8/16/32 (8x30000,
// n = 1), and with --large beyond2gib-8 (an 8-bit 30000x17900 world, whose row offsets pass
// 2^31 bytes; about 4.3 GB). Without case names every case runs.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "AllocationLedger.h"
#include "ReliabilityKit.h"

namespace {

using namespace framemeld::reliability;

struct SizeCase {
    std::string name;
    int width;
    int height;
    rn::PixelDepth depth;
    int sampledFrames;
    bool large;
};

std::vector<SizeCase> Cases()
{
    std::vector<SizeCase> cases;
    const rn::PixelDepth depths[] = {rn::PixelDepth::Bits8, rn::PixelDepth::Bits16,
                                     rn::PixelDepth::Float32};
    for (rn::PixelDepth depth : depths) {
        cases.push_back({"frames10000-" + std::to_string(rn::bitsPerChannel(depth)), 3, 2, depth,
                         10000, false});
    }
    cases.push_back({"float8192", 8192, 8192, rn::PixelDepth::Float32, 1, false});
    for (rn::PixelDepth depth : depths) {
        cases.push_back(
            {"wide-" + std::to_string(rn::bitsPerChannel(depth)), 30000, 8, depth, 1, false});
        cases.push_back(
            {"tall-" + std::to_string(rn::bitsPerChannel(depth)), 8, 30000, depth, 1, false});
    }
    cases.push_back({"beyond2gib-8", 30000, 17900, rn::PixelDepth::Bits8, 1, true});
    return cases;
}

// A single sample is its own consensus: the mean of one value, summed from zero (so a float -0
// comes back as +0). 16-bit values beyond full scale come back clamped, so that depth is held to
// the computed plate instead. Checked here without a second world of the case's size.
float MeanOfOne(float value)
{
    return (0.0f + value) / 1.0f;
}

long PixelsUnlikeTheFrame(const rn::World &output, const rn::World &frame)
{
    long differing = 0;
    for (int y = 0; y < output.height(); ++y) {
        for (int x = 0; x < output.width(); ++x) {
            if (frame.depth() != rn::PixelDepth::Float32) {
                differing += SameValue(output, x, y, frame, x, y) ? 0 : 1;
                continue;
            }
            const PF_PixelFloat &in = frame.at<PF_PixelFloat>(x, y);
            const PF_PixelFloat &out = output.at<PF_PixelFloat>(x, y);
            const float pairs[4][2] = {{MeanOfOne(in.alpha), out.alpha},
                                       {MeanOfOne(in.red), out.red},
                                       {MeanOfOne(in.green), out.green},
                                       {MeanOfOne(in.blue), out.blue}};
            bool same = true;
            for (const auto &pair : pairs) {
                same = same &&
                       (std::isnan(pair[0]) ? std::isnan(pair[1])
                                            : std::memcmp(&pair[0], &pair[1], sizeof(float)) == 0);
            }
            differing += same ? 0 : 1;
        }
    }
    return differing;
}

// Runs in the child. Exit 0 when the render succeeded with the right plate.
int RunCase(const SizeCase &c)
{
    const auto started = std::chrono::steady_clock::now();
    // A clip of the case's frames; the 10000-frame cases have that many frames of their own.
    const int clipFrames = c.sampledFrames;
    auto clip = MakeHostileClip(c.width, c.height, c.depth, clipFrames, 97);
    auto host = NewHost(WorkerThreads(2));
    Sliders wanted;
    wanted.end = c.sampledFrames - 1;
    wanted.divergence = 3;
    const Sliders stored = SetSliders(*host, wanted);

    framemeld::ledger::ResetPeak();
    const auto renderStart = std::chrono::steady_clock::now();
    Expectation expectation;
    expectation.complete = true;
    CheckedRender run = RenderAndCheck(*host, *clip, expectation);
    const double renderSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - renderStart).count();
    const framemeld::ledger::Books books = framemeld::ledger::Read();

    long mismatches = 0;
    if (run.result.err() == PF_Err_NONE) {
        if (c.sampledFrames == 1 && c.depth != rn::PixelDepth::Bits16) {
            mismatches = PixelsUnlikeTheFrame(run.result.output, clip->frame(0));
        } else {
            const rn::World plate = ExpectedPlate(*clip, stored);
            expectation.plate = &plate;
            mismatches = static_cast<long>(OutputProblems(run.result.output, expectation).size());
        }
    }
    const double totalSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf(
        "%-15s %5dx%-5d n=%-5d err %-4d render %7.2f s (all %7.2f s)  module peak %12lld B  %s\n",
        c.name.c_str(), c.width, c.height, static_cast<int>(run.result.record.layerRequests.size()),
        static_cast<int>(run.result.err()), renderSeconds, totalSeconds,
        static_cast<long long>(books.peakBytes), run.ok() && mismatches == 0 ? "ok" : "WRONG");
    if (!run.ok()) {
        std::fprintf(stderr, "%s\n", run.Report().c_str());
    }
    std::fflush(stdout);
    return run.ok() && mismatches == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    bool large = false;
    std::vector<std::string> wanted;
    for (int a = 1; a < argc; ++a) {
        if (std::strcmp(argv[a], "--large") == 0) {
            large = true;
        } else {
            wanted.emplace_back(argv[a]);
        }
    }
    Module();
    int failures = 0;
    for (const SizeCase &c : Cases()) {
        const bool named = std::find(wanted.begin(), wanted.end(), c.name) != wanted.end();
        if (wanted.empty() ? (c.large && !large) : !named) {
            continue;
        }
        std::fflush(nullptr);
        const pid_t child = fork();
        if (child < 0) {
            std::perror("fork");
            return 2;
        }
        if (child == 0) {
            _exit(RunCase(c));
        }
        int status = 0;
        rusage usage{};
        if (wait4(child, &status, 0, &usage) != child) {
            std::perror("wait4");
            return 2;
        }
        const bool passed = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        failures += passed ? 0 : 1;
        std::printf("%-15s peak resident %ld KiB%s\n", c.name.c_str(), usage.ru_maxrss,
                    passed ? "" : (WIFSIGNALED(status) ? "  (killed by a signal)" : "  (FAILED)"));
        std::fflush(stdout);
    }
    return failures == 0 ? 0 : 1;
}
