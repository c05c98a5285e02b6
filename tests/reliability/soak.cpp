// Soak: one loaded module renders frame after frame through one host, with the depth, the five
// sliders and the rendered time changing every frame. Every plate is checked against the
// consensus rule, every render must give back all of the module's heap blocks, and the resident
// memory is reported at the start, after 100 frames and at the end.
//
//   framemeld_soak [--frames N] [--threads N] [--max-growth-kib K]
//
// Exits 1 when a render breaks a rule, or when resident memory grows by more than K KiB (default
// 4096) between frame 100 and the end (only checked when N > 100, and not under a sanitizer,
// whose own bookkeeping grows the resident memory).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include "AllocationLedger.h"
#include "ReliabilityKit.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define FRAMEMELD_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define FRAMEMELD_SANITIZED 1
#endif
#endif

namespace {

using namespace framemeld::reliability;

#ifdef FRAMEMELD_SANITIZED
constexpr bool kResidentMemoryIsOurs = false;
#else
constexpr bool kResidentMemoryIsOurs = true;
#endif

long ResidentKiB()
{
    long pages = 0;
    long resident = 0;
    std::FILE *statm = std::fopen("/proc/self/statm", "r");
    if (statm != nullptr) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(statm);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// The sliders of frame i: walks through starts, spans, steps, tolerances and rating ranges that
// do not repeat in step with each other or with the depth.
Sliders SlidersOfFrame(long i)
{
    static const double divergences[] = {0.0, 0.5, 2.0, 2.9, 7.3, 25.0, 100.0};
    static const double ranges[] = {0.1, 1.0, 1.5, 3.0, 20.0};
    Sliders sliders;
    sliders.start = static_cast<double>(i % 6);
    sliders.end = sliders.start + static_cast<double>((i / 2) % 11);
    sliders.every = static_cast<double>(1 + i % 4) + (i % 5 == 0 ? 0.5 : 0.0);
    sliders.divergence = divergences[i % 7];
    sliders.ratingRange = ranges[i % 5];
    return sliders;
}

long Option(int argc, char **argv, const char *name, long fallback)
{
    for (int a = 1; a + 1 < argc; ++a) {
        if (std::strcmp(argv[a], name) == 0) {
            return std::strtol(argv[a + 1], nullptr, 10);
        }
    }
    return fallback;
}

void Report(const char *when, long frame)
{
    const framemeld::ledger::Books books = framemeld::ledger::Read();
    std::cout << "soak: " << when << " (frame " << frame << "): resident " << ResidentKiB()
              << " KiB, module heap " << books.liveBlocks << " blocks / " << books.liveBytes
              << " bytes, module peak " << books.peakBytes << " bytes\n";
}

} // namespace

int main(int argc, char **argv)
{
    const long frames = Option(argc, argv, "--frames", 1000);
    const auto threads = static_cast<unsigned>(Option(argc, argv, "--threads", WorkerThreads(2)));
    const long maxGrowth = Option(argc, argv, "--max-growth-kib", 4096);

    std::unique_ptr<rn::InMemoryFrameSource> clips[] = {
        MakeHostileClip(24, 18, rn::PixelDepth::Bits8, 14, 1),
        MakeHostileClip(23, 17, rn::PixelDepth::Bits16, 14, 2),
        MakeHostileClip(22, 21, rn::PixelDepth::Float32, 14, 3)};
    std::unique_ptr<ClipSnapshot> footage[3];
    for (int c = 0; c < 3; ++c) {
        footage[c] = std::make_unique<ClipSnapshot>(*clips[c]);
    }
    auto host = NewHost(threads);

    Report("start", 0);
    long residentAt100 = 0;
    long failures = 0;
    for (long i = 0; i < frames; ++i) {
        rn::InMemoryFrameSource &clip = *clips[i % 3];
        const Sliders stored = SetSliders(*host, SlidersOfFrame(i));
        const rn::World plate = ExpectedPlate(clip, stored);
        rn::RenderRequest request;
        request.frame = static_cast<A_long>(i % 14);
        const CheckedRender run = RenderAndCheck(
            *host, clip, Expectation{&plate, kFill, true, footage[i % 3].get()}, request);
        if (!run.ok()) {
            ++failures;
            if (failures <= 5) {
                std::cerr << "soak: frame " << i << ": " << run.Report() << "\n";
            }
        }
        if (i + 1 == 100) {
            residentAt100 = ResidentKiB();
            Report("after", 100);
        }
    }
    Report("end", frames);

    std::cout << "soak: " << frames << " frames on " << threads << " worker threads, " << failures
              << " failed\n";
    if (failures > 0) {
        return 1;
    }
    if (kResidentMemoryIsOurs && frames > 100 && ResidentKiB() - residentAt100 > maxGrowth) {
        std::cerr << "soak: resident memory grew by " << ResidentKiB() - residentAt100
                  << " KiB after frame 100\n";
        return 1;
    }
    return 0;
}
