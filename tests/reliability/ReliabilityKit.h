// What every reliability check shares: the plug-in module under the allocation ledger, hosts on
// it, footage with hostile values, and one verdict on a render: the runner's books balance, the
// output holds nothing but untouched bytes and plate pixels, the footage is unchanged and the
// module gave back every block it took. Used by the tests, the soak and size programs and the
// fuzzers, so it reports problems as text instead of through a test framework.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "RenderHarness.h"
#include "runner/FaultPlan.h"
#include "runner/FrameSource.h"
#include "runner/Host.h"
#include "runner/World.h"

namespace framemeld::reliability {

namespace rn = framemeld::runner;
using framemeld::rendertest::Sliders;

// The byte the runner writes over every output world before the plug-in gets it.
constexpr unsigned char kFill = 0xAB;

// The plug-in module's entry point; the first call loads the module and has the allocation
// ledger count its blocks.
rn::EntryPoint Module();

// FRAMEMELD_TEST_THREADS when it holds a count from 1 to 256, else `fallback`.
unsigned WorkerThreads(unsigned fallback);

// A host on the module with `threads` workers and the fill byte, set up. Throws
// std::runtime_error naming the problem when the setup fails.
std::unique_ptr<rn::Host> NewHost(unsigned threads, unsigned char fill = kFill);

// Sets the five sliders and returns the values the host stored (clamped to the valid ranges).
Sliders SetSliders(rn::Host &host, const Sliders &wanted);

// A clip whose frames share a noisy background with outliers, and at 16 and 32 bits the values
// a host may deliver beyond the nominal range: above full scale, and at float NaN, infinities,
// denormals and huge magnitudes.
std::unique_ptr<rn::InMemoryFrameSource> MakeHostileClip(int width, int height,
                                                         rn::PixelDepth depth, int frameCount,
                                                         std::uint32_t seed,
                                                         rn::RowPadding padding = {});

// The plate a render of `clip` with these (stored) sliders must produce under `faults` (null
// and smaller worlds count; failing calls do not).
rn::World ExpectedPlate(rn::FrameSource &clip, const Sliders &stored,
                        const rn::FaultPlan &faults = {});

// Every byte of every frame of a clip, to show after a render that it wrote into none.
class ClipSnapshot {
public:
    explicit ClipSnapshot(rn::FrameSource &clip);
    bool Matches(rn::FrameSource &clip) const;

private:
    std::vector<std::vector<unsigned char>> frames_;
};

// What a checked render is held to.
struct Expectation {
    const rn::World *plate = nullptr;      // the output's only acceptable drawn pixels
    unsigned char fill = kFill;            // what an undrawn pixel and every padding byte hold
    bool complete = false;                 // every pixel must be drawn (a render that must succeed)
    const ClipSnapshot *footage = nullptr; // when given, the clip must still match it
    bool heapBalance = true;               // the module's heap holds as many blocks after as before
};

struct CheckedRender {
    rn::RenderResult result;
    std::vector<std::string> problems; // empty when the render kept every rule

    bool ok() const { return problems.empty(); }
    std::string Report() const;
};

// Renders once and checks the runner's books, the output against the expectation, the footage,
// and that the module's heap holds as many blocks afterwards as before.
CheckedRender RenderAndCheck(rn::Host &host, rn::FrameSource &clip, const Expectation &expectation,
                             const rn::RenderRequest &request = {});

// The output checks alone: problems with `output` against the expectation.
std::vector<std::string> OutputProblems(const rn::World &output, const Expectation &expectation);

// Whether two pixels of one depth hold the same value; float NaNs match any NaN.
bool SameValue(const rn::World &a, int ax, int ay, const rn::World &b, int bx, int by);

// Pixels of `output` that still hold the fill byte.
long UndrawnPixels(const rn::World &output, unsigned char fill = kFill);

} // namespace framemeld::reliability
